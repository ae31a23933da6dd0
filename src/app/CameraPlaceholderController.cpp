#include "CameraPlaceholderController.h"

#include "UIImageAdditions.h"
#include "VideoAssetsScreen.h"
#include "platform/MainThread.h"
#include "ui/Fonts.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/NavigationController.h"

#include <QLabel>
#include <QShortcut>

CameraPlaceholderController::CameraPlaceholderController(QWidget* parent) : ui::ViewController(parent) {
    setTitle(QStringLiteral("Camera"));
    setBackgroundColor(QColor(7, 9, 14));

    message_ = new QLabel(QStringLiteral("<b>Tavrio</b><br><br>The camera view comes with the next version. "
                                         "Settings and instructions are behind the <b>i</b> button below."),
                          this);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setStyleSheet(QStringLiteral("color: #d8d8de; background: transparent;"));
    ui::Fonts::set(message_, 15);
    addSubview(message_, QRectF(30, 150, 260, 140));

    bottomBar_ =
        new ui::ImageView(UIImageAdditions::imageWithContentsOfResolutionIndependentFile(
                              UIImageAdditions::pathForResource(QStringLiteral("bottombg"), QStringLiteral("png"))),
                          this);
    addSubview(bottomBar_, QRectF(0, 426, 320, 54));

    infoButton_ = new ui::InfoButton(this);
    connect(infoButton_, &ui::InfoButton::clicked, this, &CameraPlaceholderController::presentInstructionsAndSettings);
    addSubview(infoButton_, QRectF(280, 446, 20, 20));

    auto* settingsKey = new QShortcut(QKeySequence(Qt::Key_Comma), this);
    settingsKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(settingsKey, &QShortcut::activated, this, &CameraPlaceholderController::presentInstructionsAndSettings);
    auto* libraryKey = new QShortcut(QKeySequence(Qt::Key_L), this);
    libraryKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(libraryKey, &QShortcut::activated, this, &CameraPlaceholderController::presentLibrary);
}

void CameraPlaceholderController::presentLibrary() {
    VideoAssetsScreen::presentFrom(this);
}

void CameraPlaceholderController::presentInstructionsAndSettings() {
    if (modalViewController()) return;
    QPointer<CameraPlaceholderController> self(this);
    platform::MainThread::dispatchAsync([self] {
        if (self) self->launchSettings();
    });
}

void CameraPlaceholderController::launchSettings() {
    if (modalViewController() || isTransitioning()) return;
    auto* list = new ZoomSettingsController();
    list->setInvoker(this);
    auto* nav = new ui::NavigationController(list);
    nav->setBarStyle(ui::NavigationBar::Style::Black);
    presentModalViewController(nav, true);
}

void CameraPlaceholderController::settingsChanged(QObject*) {
    dismissModalViewController(true);
}
