#pragma once
// The application delegate: start-up. This half seeds the settings on the first launch and
// raises the one-time notice; the GUI adds the camera screen.

#include <QObject>

class Tavrio4AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit Tavrio4AppDelegate(QObject* parent = nullptr);
    ~Tavrio4AppDelegate() override;

    // The launch sequence. Returns true.
    bool didFinishLaunching();

    // On the first launch of this settings version: seeds the three option settings with 0,
    // marks the store, synchronizes, and raises the "Note" alert. Later launches change nothing.
    // Returns whether this was the first launch.
    bool seedSettingsIfFirstLaunch();

    static const char* const kNoteTitle;
    static const char* const kNoteMessage;
    static const char* const kNoteButton;
};
