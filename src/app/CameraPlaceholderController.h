#pragma once
// The first screen until the camera screen takes its place: the bottom bar with the info button
// that opens the settings and instructions (comma does too).

#include "ZoomSettingsController.h"

#include "ui/ViewController.h"

namespace ui {
class InfoButton;
class ImageView;
}  // namespace ui
class QLabel;

class CameraPlaceholderController : public ui::ViewController, public ZoomSettingsInvoker {
    Q_OBJECT
public:
    explicit CameraPlaceholderController(QWidget* parent = nullptr);

    ui::InfoButton* infoButton() const { return infoButton_; }

    // Opens the settings list in a navigation controller, slid up over this screen.
    void presentInstructionsAndSettings();
    void launchSettings();
    // Opens the library list (L does too).
    void presentLibrary();
    // ZoomSettingsInvoker: closes the settings.
    void settingsChanged(QObject* sender) override;

private:
    ui::ImageView* bottomBar_;
    ui::InfoButton* infoButton_;
    QLabel* message_;
};
