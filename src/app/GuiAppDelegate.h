#pragma once
// The application delegate of the window: the launch steps that concern the screen.

#include "Tavrio4AppDelegate.h"

#include <QPointer>

#include "ui/ViewController.h"
#include "ui/Window.h"

class ExportNotices;
namespace ui {
class ApplicationState;
}

class GuiAppDelegate : public Tavrio4AppDelegate {
    Q_OBJECT
public:
    explicit GuiAppDelegate(ui::Window* window, QObject* parent = nullptr);
    ~GuiAppDelegate() override;

    ui::Window* window() const { return window_; }
    ui::ViewController* cameraZoomCtrl() const { return cameraZoomCtrl_; }
    ui::ApplicationState* applicationState() const { return state_; }

protected:
    void prepareScreen() override;
    void startCamera2() override;
    void makeKeyAndVisible() override;

private:
    QPointer<ui::Window> window_;
    QPointer<ui::ViewController> cameraZoomCtrl_;
    ui::ApplicationState* state_ = nullptr;
    ExportNotices* notices_ = nullptr;  // an export that ends on its own is told
};
