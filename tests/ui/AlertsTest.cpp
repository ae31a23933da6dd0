#include "ui/Alerts.h"
#include "ui/ViewController.h"
#include "ui/Window.h"

#include "support/GuiApp.h"

#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The window as the application has it: a screen with a button behind whatever comes up, the
// window's own shortcut for Space, and the presenter installed.
struct AlertWindow : testsupport::GuiAppFirst {
    ui::Window window;
    ui::ViewController* screen = new ui::ViewController();
    QPushButton* behind = nullptr;
    int behindClicks = 0;
    int spaceShortcuts = 0;

    explicit AlertWindow(QSize size = QSize(360, 720)) {
        window.setRootViewController(screen);
        behind = new QPushButton(QStringLiteral("Record"), screen);
        screen->addSubview(behind, QRectF(40, 200, 240, 60));
        QObject::connect(behind, &QPushButton::clicked, [this] { ++behindClicks; });
        auto* space = new QShortcut(QKeySequence(Qt::Key_Space), &window);
        space->setContext(Qt::WindowShortcut);
        QObject::connect(space, &QShortcut::activated, [this] { ++spaceShortcuts; });
        window.resize(size);
        window.show();
        QApplication::setActiveWindow(&window);
        behind->setFocus();
        ui::AlertPresenter::install(&window);
    }
    ~AlertWindow() {
        for (ui::ModalLayer* layer : ui::ModalLayer::pending()) delete layer;
        ui::AlertPresenter::uninstall();
    }

    // Where the window's own hit test sends a click at `pos` (window pixels), as a user's would go.
    void clickAt(QPoint pos) {
        QWidget* target = window.childAt(pos);
        ASSERT_NE(target, nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window, pos));
    }
    QPoint behindCentre() const { return behind->mapTo(&window, behind->rect().center()); }
};

platform::Alert alert(const QString& title, const QString& message, const QString& cancel,
                      const QStringList& others = {}, std::function<void(int)> dismissed = {}) {
    platform::Alert a;
    a.title = title;
    a.message = message;
    a.cancelButton = cancel;
    a.otherButtons = others;
    a.dismissed = std::move(dismissed);
    return a;
}

QWidget* focused() {
    return QApplication::focusWidget();
}

}  // namespace

TEST(Alerts, DimTheWindowAndTakeEveryClickAndKeyMeantForTheScreenBehind) {
    AlertWindow w;
    const QImage before = w.window.grab().toImage();
    int chosen = -1;
    platform::AlertService::show(
        alert("Note", "Thanks for downloading Tavrio.", "Ok", {}, [&chosen](int i) { chosen = i; }));
    ASSERT_EQ(ui::AlertPresenter::openAlerts().size(), 1);
    ui::AlertView* view = ui::AlertPresenter::openAlerts().first();
    EXPECT_EQ(view->parentWidget(), &w.window) << "drawn inside the window, not a window of its own";
    EXPECT_FALSE(view->isWindow());
    EXPECT_EQ(view->geometry(), w.window.rect());

    // The screen behind is darker.
    const QImage after = w.window.grab().toImage();
    const QPoint button = w.behindCentre();
    EXPECT_LT(qGray(after.pixel(button)), qGray(before.pixel(button)));

    // Neither a click nor the window's Space shortcut reaches the screen behind.
    w.clickAt(button);
    w.clickAt(QPoint(w.window.width() / 2, w.window.height() - 3));
    EXPECT_EQ(w.behindClicks, 0);
    EXPECT_EQ(ui::AlertPresenter::openAlerts().size(), 1) << "a click beside an alert does not dismiss it";
    ASSERT_EQ(focused(), view->buttons().first()) << "the notice's one button";
    QTest::keyClick(focused(), Qt::Key_L);  // a screen's letter shortcut: swallowed
    EXPECT_EQ(chosen, -1);
    QTest::keyClick(focused(), Qt::Key_Space);
    EXPECT_EQ(w.spaceShortcuts, 0);
    EXPECT_EQ(chosen, 0) << "Space presses the focused button, as in any dialog";

    // Closed, the screen is the user's again, with the keyboard where it was.
    EXPECT_TRUE(ui::AlertPresenter::openAlerts().isEmpty());
    EXPECT_EQ(focused(), w.behind);
    QApplication::processEvents();
    w.clickAt(w.behindCentre());
    EXPECT_EQ(w.behindClicks, 1);
}

TEST(Alerts, TheKeyboardStartsOnTheSafeChoiceAndStaysInside) {
    AlertWindow w;
    int chosen = -1;
    auto remember = [&chosen](int i) { chosen = i; };
    platform::AlertService::show(
        alert("Delete Video", "It cannot be brought back.", "Cancel", {"Keep", "Delete"}, remember));
    ui::AlertView* view = ui::AlertPresenter::openAlerts().first();
    ASSERT_EQ(view->buttons().size(), 3);
    EXPECT_EQ(focused()->accessibleName(), "Cancel");
    // Tab visits the alert's buttons and comes back round; nothing behind ever has the keyboard.
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(focused(), Qt::Key_Tab);
        ASSERT_TRUE(view->isAncestorOf(focused()));
        visited << focused()->accessibleName();
    }
    EXPECT_EQ(visited, (QStringList{"Keep", "Delete", "Cancel", "Keep"}));
    QTest::keyClick(focused(), Qt::Key_Backtab);
    // Something behind asking for the keyboard (a screen appearing under the alert) does not get it.
    w.behind->setFocus();
    EXPECT_TRUE(view->isAncestorOf(focused()));
    EXPECT_EQ(focused()->accessibleName(), "Cancel");
    QTest::keyClick(focused(), Qt::Key_Escape);
    EXPECT_EQ(chosen, 0);

    // Return presses the focused button.
    platform::AlertService::show(alert("Delete Video", {}, "Cancel", {"Delete"}, remember));
    QTest::keyClick(focused(), Qt::Key_Tab);
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(focused(), w.behind);
}

TEST(Alerts, ComeOneAfterAnotherAlsoWithActionSheets) {
    AlertWindow w;
    QStringList answers;
    platform::AlertService::show(
        alert("First", {}, "Okay", {}, [&](int i) { answers << QStringLiteral("first %1").arg(i); }));
    platform::AlertService::show(
        alert("Second", {}, "Okay", {}, [&](int i) { answers << QStringLiteral("second %1").arg(i); }));
    auto* sheet =
        new ui::ActionSheet(QStringLiteral("Delete Video:"), QStringLiteral("Cancel"), QStringLiteral("Delete"), {},
                            [&](int i) { answers << QStringLiteral("sheet %1").arg(i); });
    sheet->showFrom(w.screen);
    EXPECT_EQ(ui::ActionSheet::current(), sheet) << "a sheet waiting for its turn is still the current one";

    const auto open = ui::ModalLayer::pending();
    ASSERT_EQ(open.size(), 3);
    EXPECT_TRUE(open.at(0)->isVisible());
    EXPECT_FALSE(open.at(1)->isVisible()) << "never stacked over each other";
    EXPECT_FALSE(open.at(2)->isVisible());
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_TRUE(open.at(1)->isVisible());
    EXPECT_TRUE(open.at(1)->isAncestorOf(focused()));
    QTest::keyClick(focused(), Qt::Key_Escape);
    ASSERT_TRUE(sheet->isVisible());
    EXPECT_EQ(focused()->accessibleName(), "Cancel") << "the sheet offers to delete: Cancel first";
    // A click on the dimmed screen beside the sheet is Cancel.
    w.clickAt(QPoint(3, 3));
    EXPECT_EQ(answers, (QStringList{"first 0", "second 0", "sheet 1"}));
    EXPECT_EQ(ui::ActionSheet::current(), nullptr);
}

TEST(Alerts, RaisedBeforeTheWindowIsShownComeUpWithIt) {
    testsupport::guiApp();
    ui::Window window;
    auto* screen = new ui::ViewController();
    window.setRootViewController(screen);
    auto* control = new QPushButton(QStringLiteral("Settings"), screen);
    screen->addSubview(control, QRectF(40, 200, 240, 60));
    ui::AlertPresenter::install(&window);
    platform::AlertService::show(alert("Note", "Welcome.", "Ok"));
    ui::AlertView* view = ui::AlertPresenter::openAlerts().value(0);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->isVisible());
    window.resize(360, 720);
    window.show();
    QApplication::setActiveWindow(&window);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->geometry(), window.rect());
    ASSERT_TRUE(view->isAncestorOf(focused()));
    // No control behind had the keyboard before: the screen's first one gets it, not the
    // closed alert's hidden button (which would swallow every key).
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(focused(), control);
    ui::AlertPresenter::uninstall();
}

TEST(Alerts, PanelsAreSizedToTheirTextAndFollowTheWindow) {
    AlertWindow w(QSize(360, 720));
    const QString name = QStringLiteral("A_movie_copied_in_from_a_camera_with_a_very_long_name_2026-12-08.mov");
    platform::AlertService::show(alert("Error File:" + name, "Format Not Supported", "Ok"));
    ui::AlertView* view = ui::AlertPresenter::openAlerts().first();

    auto textFits = [](QLabel* label) {
        // The wrapped text as the label lays it out: every line inside the label, none cut off.
        const QRect needed =
            QFontMetrics(label->font())
                .boundingRect(QRect(0, 0, label->width(), 1 << 20), Qt::TextWordWrap | Qt::AlignHCenter, label->text());
        return needed.width() <= label->width() && needed.height() <= label->height();
    };
    auto check = [&] {
        const QRect panel = view->panel()->geometry();
        EXPECT_TRUE(w.window.rect().contains(panel));
        EXPECT_TRUE(view->panel()->rect().contains(view->titleLabel()->geometry()));
        EXPECT_TRUE(textFits(view->titleLabel())) << "the title is never clipped";
        EXPECT_TRUE(textFits(view->messageLabel()));
        EXPECT_GT(view->titleLabel()->height(), QFontMetrics(view->titleLabel()->font()).height()) << "it wraps";
        for (QPushButton* b : view->buttons()) EXPECT_TRUE(view->panel()->rect().contains(b->geometry()));
        EXPECT_LE(std::abs(panel.center().x() - w.window.width() / 2), 1);
        EXPECT_LE(std::abs(panel.center().y() - w.window.height() / 2), 1);
    };
    check();
    w.window.resize(1280, 720);
    check();
    w.window.resize(200, 400);
    check();

    // Ordinary words wrap at a readable width, narrower than a wide window.
    w.window.resize(1280, 720);
    platform::AlertService::show(alert("Error Saving to Library",
                                       "The Videos folder /home/someone/Videos/Tavrio cannot be written: Permission "
                                       "denied. The movie is still in the library.",
                                       "Okay"));
    view->choose(0);
    view = ui::AlertPresenter::openAlerts().first();
    const int wrapped = view->panel()->width();
    EXPECT_LT(wrapped, w.window.width() / 2);
    EXPECT_TRUE(textFits(view->messageLabel()));
    EXPECT_GT(view->messageLabel()->height(), 2 * QFontMetrics(view->messageLabel()->font()).height());

    // A short one is narrower: sized to its text.
    platform::AlertService::show(alert("Note", "Saved.", "Ok"));
    view->choose(0);
    view = ui::AlertPresenter::openAlerts().first();
    EXPECT_LT(view->panel()->width(), wrapped);
    EXPECT_TRUE(textFits(view->titleLabel()));
}

TEST(Alerts, ActionSheetsSitAtTheBottomOfAPortraitScreenAndCentredInALandscapeWindow) {
    AlertWindow w(QSize(360, 720));
    int chosen = -1;
    auto* sheet = new ui::ActionSheet({}, QStringLiteral("Cancel"), QStringLiteral("Delete"), {QStringLiteral("Share")},
                                      [&chosen](int i) { chosen = i; });
    sheet->showFrom(w.screen);
    EXPECT_EQ(sheet->buttonTitles(), (QStringList{"Delete", "Share", "Cancel"}));
    EXPECT_EQ(sheet->parentWidget(), &w.window);
    const QRect portrait = sheet->panel()->geometry();
    EXPECT_GT(portrait.top(), w.window.height() / 2);
    const QRectF screen = w.window.pointScale().screenRectInWindow();
    EXPECT_GT(portrait.bottom(), screen.bottom() - w.window.pointScale().toPixels(16)) << "in reach of the thumb";
    w.window.resize(1280, 720);
    const QRect landscape = sheet->panel()->geometry();
    EXPECT_LE(std::abs(landscape.center().y() - w.window.height() / 2), 1);
    EXPECT_LE(std::abs(landscape.center().x() - w.window.width() / 2), 1);
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(chosen, 2);  // Cancel had the focus

    auto* choice = new ui::ActionSheet({}, QStringLiteral("Cancel"), {}, {QStringLiteral("Share")},
                                       [&chosen](int i) { chosen = i; });
    choice->showFrom(w.screen);
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(chosen, 0);  // nothing to regret: the first choice has the focus
}
