#include "GuiAppDelegate.h"

#include "ExportNotices.h"
#include "TavrioCameraController.h"

#include "ui/ApplicationState.h"
#include "ui/Window.h"

GuiAppDelegate::GuiAppDelegate(ui::Window* window, QObject* parent) : Tavrio4AppDelegate(parent), window_(window) {}

GuiAppDelegate::~GuiAppDelegate() = default;

void GuiAppDelegate::prepareScreen() {
    // Follows the window, the session lock and sleep, and keeps the screen saver off while the
    // application is in front.
    if (!state_) state_ = new ui::ApplicationState(window_, this);
    if (!notices_) notices_ = new ExportNotices(window_, this);
}

void GuiAppDelegate::startCamera2() {
    if (!window_ || cameraZoomCtrl_) return;
    auto* camera = new TavrioCameraController();
    cameraZoomCtrl_ = camera;
    window_->setRootViewController(camera);
}

void GuiAppDelegate::makeKeyAndVisible() {
    if (window_) window_->makeKeyAndVisible();
}
