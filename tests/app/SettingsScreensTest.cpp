#include "AppInfo.h"
#include "TavrioCameraController.h"
#include "InstructionsMenuViewController.h"
#include "RDButton.h"
#include "SettingsDetailController.h"
#include "ZoomSettingsController.h"

#include "Settings.h"
#include "platform/Defaults.h"
#include "platform/StringTable.h"
#include "ui/BarButtonItem.h"
#include "ui/Fonts.h"
#include "ui/ImageButton.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/FocusRing.h"
#include "support/GuiApp.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

using platform::Defaults;
using ui::IndexPath;

namespace {

// The settings list inside its navigation controller, in a shown window.
struct SettingsShown : testsupport::GuiAppFirst {
    SettingsShown() {
        window.resize(320, 480);
        list = new ZoomSettingsController();
        nav = new ui::NavigationController(list);
        window.setRootViewController(nav);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    QString value(int row) { return list->settingsTable()->cellForRow({1, row})->detailText; }
    // Opens a setting's detail screen with the keyboard, as a user would.
    SettingsDetailController* openDetail(int row) {
        list->settingsTable()->setFocus();
        list->settingsTable()->setCurrentRow({1, row});
        QTest::keyClick(list->settingsTable(), Qt::Key_Return);
        testsupport::spinUntil([this] { return !nav->isAnimating(); }, 10000);
        return qobject_cast<SettingsDetailController*>(nav->topViewController());
    }
    testsupport::TempHome home;
    ui::Window window;
    ZoomSettingsController* list;
    ui::NavigationController* nav;
};

// Catches the mail URLs the screens hand to the desktop.
class MailCatcher : public QObject {
    Q_OBJECT
public:
    MailCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("mailto"), this, "handle"); }
    ~MailCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("mailto")); }
    QList<QUrl> urls;
public slots:
    void handle(const QUrl& url) { urls << url; }
};

}  // namespace

TEST(SettingsList, ShowsALabelForEveryStoredValue) {
    SettingsShown s;
    // Each row shows the stored choice, a different text for each; a value edited by hand
    // outside the table shows as the choice it selects.
    const QStringList keys = settings::optionKeys();
    auto shown = [&](qint64 value) {
        for (const QString& key : keys) Defaults::standard().setInteger(value, key);
        s.list->settingsTable()->reloadData();
        return QStringList{s.value(0), s.value(1), s.value(2)};
    };
    const QStringList first = shown(0), second = shown(1);
    for (int row = 0; row < 3; ++row) {
        EXPECT_FALSE(first[row].isEmpty());
        EXPECT_NE(first[row], second[row]) << row;
    }
    EXPECT_EQ(shown(7), (QStringList{first[0], first[1], second[2]}));  // rescaling: Best from 1 on
    EXPECT_EQ(shown(-1), first);
    ui::TableView* table = s.list->settingsTable();
    EXPECT_EQ(table->numberOfSections(), 3);
    EXPECT_EQ(table->numberOfRows(0), 1);
    EXPECT_EQ(table->numberOfRows(1), 3);
    EXPECT_EQ(table->numberOfRows(2), 2);  // Devices: camera and microphone
    EXPECT_EQ(table->cellForRow({0, 0})->text, "Instructions");
    EXPECT_EQ(table->cellForRow({0, 0})->detailText, "");
    EXPECT_EQ(table->cellForRow({1, 1})->text, "Export Preset");
    for (const IndexPath p : {IndexPath{0, 0}, IndexPath{1, 0}, IndexPath{1, 2}}) {
        EXPECT_DOUBLE_EQ(table->heightOfRow(p), 40.0);
        EXPECT_EQ(table->cellForRow(p)->style, ui::CellStyle::Value1);
        EXPECT_EQ(table->cellForRow(p)->accessory, ui::CellAccessory::DisclosureIndicator);
        EXPECT_DOUBLE_EQ(table->cellForRow(p)->fontPoints, 14.0);
        EXPECT_TRUE(table->cellForRow(p)->image.isNull());
    }
    EXPECT_EQ(s.nav->navigationBar()->title(), "Settings");
    EXPECT_EQ(s.nav->navigationBar()->rightButton()->text(), "Done");
}

TEST(SettingsDetail, AChoiceMovesTheCheckmarkStoresTheValueAndUpdatesTheList) {
    SettingsShown s;
    Defaults::standard().setInteger(0, settings::kExportOpt);
    s.list->settingsTable()->reloadData();
    SettingsDetailController* detail = s.openDetail(1);
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->descId(), 2);
    EXPECT_EQ(s.nav->navigationBar()->title(), "Detail");
    ui::TableView* options = detail->settingsDetail();
    ASSERT_EQ(options->numberOfRows(0), 4);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(options->cellForRow({0, r})->text, settings::exportOptions()[r].detailLabel);
        EXPECT_EQ(options->cellForRow({0, r})->accessory,
                  r == 0 ? ui::CellAccessory::Checkmark : ui::CellAccessory::None);
    }
    EXPECT_TRUE(detail->descriptionLabel()->text().startsWith("Better export preset"));

    // "Average" with the keyboard: down twice from the stored choice, Return.
    QTest::keyClick(options, Qt::Key_Down);
    QTest::keyClick(options, Qt::Key_Down);
    QTest::keyClick(options, Qt::Key_Return);
    EXPECT_EQ(detail->rowSelected(), 2);
    int checks = 0;
    for (int r = 0; r < 4; ++r) checks += options->cellForRow({0, r})->accessory == ui::CellAccessory::Checkmark;
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(options->cellForRow({0, 2})->accessory, ui::CellAccessory::Checkmark);
    // Stored at once, on disk.
    Defaults onDisk(QString::fromStdString((s.home.path() / "settings.ini").string()));
    EXPECT_EQ(onDisk.integerForKey(settings::kExportOpt), 2);
    // The list behind already shows the new label.
    EXPECT_EQ(s.value(1), "Medium Quality");

    // The checked option again: the same value, still one checkmark.
    options->tapRow({0, 2});
    checks = 0;
    for (int r = 0; r < 4; ++r) checks += options->cellForRow({0, r})->accessory == ui::CellAccessory::Checkmark;
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(Defaults::standard().integerForKey(settings::kExportOpt), 2);

    QTest::keyClick(options, Qt::Key_Escape);
    testsupport::spinUntil([&s] { return !s.nav->isAnimating(); }, 10000);
    EXPECT_EQ(s.nav->topViewController(), s.list);
}

TEST(SettingsDetail, EachSettingHasItsOptionsAndUnknownOnesShowNothing) {
    testsupport::guiApp();
    testsupport::TempHome home;
    Defaults::standard().setInteger(1, settings::kRescaleOpt);
    Defaults::standard().setInteger(3, settings::kResolutionOpt);
    SettingsDetailController rescale(3, nullptr);
    EXPECT_EQ(rescale.settingsDetail()->numberOfRows(0), 2);
    EXPECT_EQ(rescale.rowSelected(), 1);
    EXPECT_EQ(rescale.settingsDetail()->cellForRow({0, 1})->accessory, ui::CellAccessory::Checkmark);
    EXPECT_EQ(rescale.descriptionLabel()->text(), "Choosing higher rescaling quality will increase export time.");
    SettingsDetailController resolution(1, nullptr);
    EXPECT_EQ(SettingsDetailController::optionsForDescId(1), (QStringList{"High", "640x480", "Medium", "Low"}));
    EXPECT_EQ(resolution.rowSelected(), 3);
    EXPECT_TRUE(resolution.descriptionLabel()->text().startsWith("High quality means"));
    SettingsDetailController unknown(9, nullptr);
    EXPECT_EQ(unknown.settingsDetail()->numberOfRows(0), 0);
    EXPECT_EQ(unknown.rowSelected(), 0);
    EXPECT_TRUE(unknown.descriptionLabel()->text().isEmpty());
}

TEST(SettingsDetail, TheExportPresetsSayWhatEachGivesTheNewestRecordingAndOutOfTableChecksWhatIsUsed) {
    testsupport::guiApp();
    testsupport::TempHome home;
    Defaults::standard().setInteger(9, settings::kExportOpt);
    testsupport::makeRecordingIn(home.path() / "Library", "Out.mov", 2);  // 320x240
    SettingsDetailController presets(2, nullptr);
    EXPECT_EQ(presets.rowSelected(), 0);  // 9 exports as "Best"
    EXPECT_EQ(presets.settingsDetail()->cellForRow({0, 0})->accessory, ui::CellAccessory::Checkmark);
    ASSERT_NE(presets.footerLabel(), nullptr);
    ASSERT_TRUE(testsupport::spinUntil([&] { return presets.footerLabel()->text().contains("Out.mov"); }, 30000));
    EXPECT_EQ(
        presets.footerLabel()->text(),
        "For your newest recording, Out.mov (320x240): Best 320x240, Good 320x240, Average 320x240, Low 320x240.");
    EXPECT_EQ(SettingsDetailController(1, nullptr).footerLabel(), nullptr);
}

TEST(SettingsDetail, AnUnwritableSettingsFileStillShowsTheChoice) {
    testsupport::guiApp();
    testsupport::TempHome home;
    // The settings file's place is taken by a folder: nothing can be written there.
    std::filesystem::create_directories(home.path() / "settings.ini");
    SettingsDetailController detail(2, nullptr);
    detail.settingsDetail()->tapRow({0, 3});
    EXPECT_EQ(detail.rowSelected(), 3);
    EXPECT_EQ(detail.settingsDetail()->cellForRow({0, 3})->accessory, ui::CellAccessory::Checkmark);
    EXPECT_EQ(Defaults::standard().integerForKey(settings::kExportOpt), 3);  // holds for this run
}

TEST(SettingsList, MailsGoToTheDesktopWithEncodedParts) {
    SettingsShown s;
    MailCatcher mail;
    s.list->feedbackButton()->click();
    s.list->tellAFriendButton()->click();
    ASSERT_EQ(mail.urls.size(), 2);
    EXPECT_EQ(mail.urls[0].path(), QString::fromLatin1(appinfo::kSupportAddress));
    EXPECT_EQ(QUrlQuery(mail.urls[0]).queryItemValue("subject", QUrl::FullyDecoded), "Tavrio 2 Feedback");
    EXPECT_FALSE(QUrlQuery(mail.urls[0]).hasQueryItem("body"));
    EXPECT_TRUE(mail.urls[1].path().isEmpty());
    EXPECT_EQ(QUrlQuery(mail.urls[1]).queryItemValue("subject", QUrl::FullyDecoded),
              "Tavrio for Linux: a zoom-while-recording camera");
    EXPECT_EQ(QUrlQuery(mail.urls[1]).queryItemValue("body", QUrl::FullyDecoded),
              QStringLiteral("Check out this application:\n\n") + QString::fromLatin1(appinfo::kStoreLink));
    EXPECT_EQ(s.list->feedbackButton()->accessibleName(), "Send Feedback");
    EXPECT_EQ(s.list->tellAFriendButton()->accessibleName(), "Tell a Friend");
}

TEST(Instructions, ShowsTheGuideFromTheBundle) {
    SettingsShown s;
    s.list->settingsTable()->tapRow({0, 0});
    ASSERT_TRUE(testsupport::spinUntil([&s] { return !s.nav->isAnimating(); }, 10000));
    auto* guide = qobject_cast<InstructionsMenuViewController*>(s.nav->topViewController());
    ASSERT_NE(guide, nullptr);
    EXPECT_EQ(s.nav->navigationBar()->title(), "Instructions");
    ui::TableView* table = guide->instructionsView();
    EXPECT_FALSE(table->allowsSelection());
    ASSERT_EQ(table->numberOfSections(), 6);
    const QStringList titles{"About Tavrio",      "How to Use",           "Buttons and Keys",
                             "Where Movies Live", "Support and Feedback", "Disclaimer"};
    for (int sec = 0; sec < 6; ++sec) {
        EXPECT_GT(table->numberOfRows(sec), 0) << sec;
        ASSERT_NE(table->header(sec), nullptr);
        EXPECT_EQ(table->header(sec)->title, titles[sec]);
        EXPECT_DOUBLE_EQ(table->header(sec)->height, 44.0);
        EXPECT_DOUBLE_EQ(table->header(sec)->fontPoints, 20.0);
    }
    // The support section is drawn a point smaller in rows sized for 14-point text.
    const QString support = table->cellForRow({4, 0})->text;
    EXPECT_DOUBLE_EQ(table->cellForRow({4, 0})->fontPoints, 13.0);
    EXPECT_DOUBLE_EQ(table->cellForRow({0, 0})->fontPoints, 14.0);
    EXPECT_DOUBLE_EQ(table->heightOfRow({4, 0}), InstructionsMenuViewController::rowHeightFor(support, 320));
    // The guide speaks of this program's own folders and keys.
    QString all;
    for (int sec = 0; sec < 6; ++sec)
        for (int r = 0; r < table->numberOfRows(sec); ++r) all += table->cellForRow({sec, r})->text;
    EXPECT_TRUE(all.contains(".local/share/Tavrio"));
    EXPECT_TRUE(all.contains("Escape"));
}

TEST(Instructions, RowHeightIsTheTextIn14PointsPlus20) {
    testsupport::guiApp();
    const QFontMetricsF fm(ui::Fonts::systemInPoints(14));
    EXPECT_NEAR(InstructionsMenuViewController::rowHeightFor(QStringLiteral("Short."), 320), fm.height() + 20, 0.01);
    const QString longText = QString(QStringLiteral("many words in a row ")).repeated(30);
    const double narrow = InstructionsMenuViewController::rowHeightFor(longText, 200);
    const double wide = InstructionsMenuViewController::rowHeightFor(longText, 320);
    EXPECT_GT(narrow, wide);  // narrower tables wrap onto more lines
    EXPECT_GT(wide, 3 * fm.height() + 20);
}

TEST(Instructions, AMissingOrMalformedGuideGivesEmptySectionsAndKeysAsText) {
    testsupport::guiApp();
    testsupport::TempDir empty;
    const QString saved = platform::StringTable::resourcesDir();
    platform::StringTable::setResourcesDir(QString::fromStdString(empty.str()));
    {
        InstructionsMenuViewController guide;
        EXPECT_EQ(guide.title(), "InstructionsTitle");
        for (int sec = 0; sec < 6; ++sec) {
            EXPECT_EQ(guide.instructionsView()->numberOfRows(sec), 0);
            ASSERT_NE(guide.instructionsView()->header(sec), nullptr);
            EXPECT_EQ(guide.instructionsView()->header(sec)->title, InstructionsMenuViewController::sectionKeys()[sec]);
        }
    }
    // Entries of the wrong kind are skipped; good ones still show.
    testsupport::writeFile(
        empty.path() / "instructions.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>kWhatStrings</key><array><string>One</string><integer>3</integer><string>Two</string></array>"
        "<key>kHowStrings</key><string>not a list</string>"
        "<key>kControlStrings</key><array><string>Keys</string></array>"
        "</dict></plist>");
    {
        InstructionsMenuViewController guide;
        EXPECT_EQ(guide.paragraphs(0), (QStringList{"One", "Two"}));
        EXPECT_TRUE(guide.paragraphs(1).isEmpty());
        EXPECT_EQ(guide.paragraphs(2), QStringList{"Keys"});  // the property list's own key spelling
        EXPECT_EQ(guide.instructionsView()->numberOfRows(2), 1);
    }
    testsupport::writeFile(empty.path() / "instructions.plist", "garbage");
    {
        InstructionsMenuViewController guide;
        EXPECT_EQ(guide.instructionsView()->numberOfRows(0), 0);
    }
    platform::StringTable::setResourcesDir(saved == QLatin1String(":/Resources") ? QString() : saved);
}

TEST(CameraScreen, InfoButtonAndCommaOpenTheSettingsAndDoneClosesThem) {
    testsupport::guiApp();
    testsupport::TempHome home;
    ui::Window window;
    auto* camera = new TavrioCameraController();
    window.setRootViewController(camera);
    window.resize(640, 960);
    window.show();
    QApplication::setActiveWindow(&window);
    EXPECT_EQ(camera->infoButton()->accessibleName(), "Settings");
    // In the bottom bar's right half, whole inside the window and clear of the record button.
    auto place = [camera](const QWidget* w) { return QRect(w->mapTo(camera, QPoint()), w->size()); };
    const QRect info = place(camera->infoButton());
    EXPECT_TRUE(camera->rect().contains(info));
    EXPECT_GT(info.center().x(), camera->width() / 2);
    EXPECT_GT(info.center().y(), camera->height() * 3 / 4);
    EXPECT_FALSE(info.intersects(place(camera->recCtrlButton())));

    // Return presses the focused button; Space stays the record key.
    camera->infoButton()->setFocus();
    QTest::keyClick(camera->infoButton(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::spinUntil([camera] { return camera->modalViewController() && !camera->isTransitioning(); },
                                       10000));
    auto* nav = qobject_cast<ui::NavigationController*>(camera->modalViewController());
    ASSERT_NE(nav, nullptr);
    auto* list = qobject_cast<ZoomSettingsController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->invoker(), static_cast<ZoomSettingsInvoker*>(camera));
    EXPECT_EQ(nav->navigationBar()->barStyle(), ui::NavigationBar::Style::Black);
    EXPECT_TRUE(list->settingsTable()->hasFocus());

    nav->navigationBar()->rightButton()->click();  // Done
    ASSERT_TRUE(testsupport::spinUntil([camera] { return !camera->modalViewController(); }, 10000));

    QTest::keyClick(camera, Qt::Key_Comma);
    EXPECT_TRUE(testsupport::spinUntil([camera] { return camera->modalViewController() != nullptr; }, 10000));
}

#include "SettingsScreensTest.moc"

TEST(SettingsList, EveryRowAndButtonShowsWhenTheKeyboardIsOnIt) {
    SettingsShown s;
    s.nav->focusFirstControl();
    const QStringList stops = testsupport::expectRingOnEveryTabStop(s.nav);
    for (const char* name : {"TableView", "Send Feedback", "Tell a Friend", "Done"})
        EXPECT_TRUE(stops.join(' ').contains(QLatin1String(name))) << name << ": " << stops.join(", ").toStdString();
    // A setting's own screen: its choices and the way back.
    SettingsDetailController* detail = s.openDetail(0);
    ASSERT_NE(detail, nullptr);
    EXPECT_GE(testsupport::expectRingOnEveryTabStop(s.nav).size(), 2);
}
