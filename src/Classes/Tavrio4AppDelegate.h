#pragma once
// The application delegate: start-up. This half seeds the settings on the first launch and
// raises the one-time notice; a front end with a window derives from it and fills in the steps
// that concern the window (the command line leaves them empty).

#include <QObject>

class Tavrio4AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit Tavrio4AppDelegate(QObject* parent = nullptr);
    ~Tavrio4AppDelegate() override;

    // The launch sequence, in order: prepareScreen(), the first-launch seeding and notice,
    // startCamera2(), makeKeyAndVisible(). Returns true.
    bool didFinishLaunching();

    // On the first launch of this settings version: seeds the three option settings with 0,
    // marks the store, synchronizes, and raises the "Note" alert. Later launches change nothing.
    // Returns whether this was the first launch.
    bool seedSettingsIfFirstLaunch();

    static const char* const kNoteTitle;
    static const char* const kNoteMessage;
    static const char* const kNoteButton;

protected:
    // Keeps the display awake while the application is in front.
    virtual void prepareScreen() {}
    // Creates the camera screen and puts it in the window.
    virtual void startCamera2() {}
    // Shows the window.
    virtual void makeKeyAndVisible() {}
};
