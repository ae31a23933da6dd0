// The library list and the details screen in a window: rows, edit mode and the keyboard; the
// details screen's states through real exports of small landscape and portrait recordings;
// saving to the Videos folder; deleting.

#include "TavrioAVPlayerViewController.h"
#include "ui/Theme.h"
#include "ZoomBand.h"
#include "VideoAssetsScreen.h"
#include "VideoDetailsViewController.h"

#include "RunningExports.h"

#include "MediaStore.h"
#include "UIImageAdditions.h"
#include "ZoomTrack.h"
#include "support/TestPattern.h"
#include "platform/AlertService.h"
#include "ui/Alerts.h"
#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/FocusRing.h"
#include "support/GuiApp.h"
#include "support/TestSupport.h"
#include "support/WorkWatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <unistd.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

using testsupport::spinUntil;
using Status = media::ExportSession::Status;

namespace {

// A 1 s recording with a zoom track, in the recordings folder, as the camera leaves it.
QString makeRecording(const QString& name, qint64 orientation) {
    const QString folder = MediaStore::baseDirForOriginalVideos();
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name;
    media::testpattern::MovieOptions options;
    options.writer.width = 160;
    options.writer.height = 96;
    options.writer.audioCodec = media::AudioCodec::Aac;
    options.frameCount = 30;
    media::Error error;
    EXPECT_TRUE(media::testpattern::makeMovie(path.toStdString(), options, &error)) << error.description;
    EXPECT_TRUE(
        writeZoomTrackFile(MediaStore::zoomsArchiveFilePath(name), ZoomTrack{{{1.0f, 0.0}, {2.0f, 0.5}}, orientation}));
    return path;
}

QStringList movieFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool sideFilesExist(const QString& movie) {
    const QString name = QFileInfo(movie).fileName();
    return !MediaStore::thumbnailPathForVideo(movie).isEmpty() &&
           QFileInfo::exists(MediaStore::zoomsArchiveFilePath(name)) &&
           QFileInfo::exists(MediaStore::timingFilePathForVideo(name));
}

// The folders listed and every thumbnail made.
bool settled(VideoAssetsScreen* list) {
    return !list->library()->isListing() && list->library()->pendingThumbnails() == 0;
}

bool visible(QWidget* w) {
    return w && w->isVisible();
}

// What the user sees of a screen's controls: each shown one whole inside the screen, none over
// another.
void expectApartOnScreen(QWidget* screen, std::initializer_list<QWidget*> widgets) {
    std::vector<QWidget*> shown;
    for (QWidget* w : widgets)
        if (visible(w)) shown.push_back(w);
    for (size_t i = 0; i < shown.size(); ++i) {
        const QRect place = shown[i]->geometry();
        EXPECT_TRUE(screen->rect().contains(place)) << shown[i]->accessibleName().toStdString();
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(place.intersects(shown[j]->geometry()))
                << shown[i]->accessibleName().toStdString() << " / " << shown[j]->accessibleName().toStdString();
    }
}

// The library open in a window: the list at the root of its navigation controller.
struct LibraryShown : testsupport::GuiAppFirst {
    explicit LibraryShown(const std::function<void()>& fill = {}) {
        platform::AlertService::setPresenter([this](const platform::Alert& a) { alerts.push_back(a); });
        if (fill) fill();
        window.resize(320, 480);
        list = new VideoAssetsScreen();
        nav = new ui::NavigationController(list);
        window.setRootViewController(nav);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(spinUntil([this] { return settled(list); }));
    }
    ~LibraryShown() { platform::AlertService::setPresenter({}); }

    VideoDetailsViewController* openRow(int row) {
        list->tableView()->tapAccessory({0, row});
        // The details screen, or an alert saying why there is none.
        EXPECT_TRUE(spinUntil(
            [this] { return (nav->topViewController() != list || !alerts.empty()) && !nav->isAnimating(); }, 10000));
        return qobject_cast<VideoDetailsViewController*>(nav->topViewController());
    }
    bool exportEnded(VideoDetailsViewController* d) {
        return spinUntil([d] { return !d->isExporting(); });
    }

    testsupport::TempHome home;
    testsupport::ScopedEnv videos{"XDG_VIDEOS_DIR", home.str() + "/Videos"};
    std::vector<platform::Alert> alerts;
    ui::Window window;
    VideoAssetsScreen* list = nullptr;
    ui::NavigationController* nav = nullptr;
};

}  // namespace

TEST(LibraryScreen, RowsShowTheirMovieAndEditModeSwapsTheButtons) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::copy(MediaStore::baseDirForOriginalVideos() + "/Out.mov", MediaStore::baseDirForVideos() + "/Video.mov");
    });
    ui::TableView* table = s.list->tableView();
    ASSERT_EQ(table->numberOfRows(0), 2);
    EXPECT_EQ(s.list->title(), "Videos");
    EXPECT_EQ(table->heightOfRow({0, 0}), 80.0);
    const ui::TableCell* exported = table->cellForRow({0, 0});
    const ui::TableCell* recording = table->cellForRow({0, 1});
    EXPECT_EQ(exported->style, ui::CellStyle::Subtitle);
    EXPECT_EQ(exported->accessory, ui::CellAccessory::DetailDisclosureButton);
    EXPECT_EQ(exported->selectionStyle, ui::CellSelectionStyle::None);
    EXPECT_EQ(exported->textColor, ui::theme::kExportRowText);
    EXPECT_EQ(exported->detailTextColor, ui::theme::kExportRowText);
    EXPECT_EQ(recording->textColor, ui::theme::kRecordingRowText);
    EXPECT_EQ(recording->detailTextColor, ui::theme::kRecordingRowText);
    EXPECT_TRUE(recording->text.startsWith("00:01 (")) << recording->text.toStdString();
    EXPECT_TRUE(recording->detailText.startsWith("Size: "));
    EXPECT_TRUE(recording->accessibleName.startsWith("Recording Out.mov"));
    // The thumbnails arrived in the rows that were showing the placeholder.
    const QImage placeholder = UIImageAdditions::imageWithContentsOfResolutionIndependentFile(
        UIImageAdditions::pathForResource("57x57", "png"));
    ASSERT_FALSE(placeholder.isNull());
    EXPECT_NE(recording->image, placeholder);
    // Every row's picture has one size, whatever the movie's shape.
    EXPECT_EQ(recording->image.deviceIndependentSize(),
              VideoAssetsScreen::rowPicture(placeholder, 1).deviceIndependentSize());
    // The date has no seconds (the C locale's short time would give them).
    EXPECT_FALSE(recording->text.contains(QRegularExpression(":\\d\\d:\\d\\d"))) << recording->text.toStdString();

    ui::BarButtonItem* done = s.list->doneButton();
    ui::BarButtonItem* edit = s.list->editButton();
    EXPECT_EQ(done->title(), "Done");
    EXPECT_EQ(done->style(), ui::BarButtonItem::Style::Done);
    EXPECT_EQ(edit->title(), "Edit");
    EXPECT_EQ(edit->style(), ui::BarButtonItem::Style::Bordered);
    edit->trigger();
    EXPECT_TRUE(table->isEditing());
    EXPECT_FALSE(done->isEnabled());
    EXPECT_EQ(done->title(), "");
    EXPECT_FALSE(s.nav->navigationBar()->rightButton()->isVisible()) << "no empty button drawn";
    EXPECT_EQ(edit->title(), "Done");
    EXPECT_EQ(edit->style(), ui::BarButtonItem::Style::Done);
    // Confirming a row's delete control deletes that movie.
    table->setCurrentRow({0, 1});
    table->tapDeleteControl({0, 1});
    ASSERT_EQ(table->rowAwaitingDeletion(), (ui::IndexPath{0, 1}));
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return table->numberOfRows(0) == 1; }, 10000));
    EXPECT_FALSE(QFileInfo::exists(MediaStore::baseDirForOriginalVideos() + "/Out.mov"));
    edit->trigger();
    EXPECT_FALSE(table->isEditing());
    EXPECT_TRUE(done->isEnabled());
    EXPECT_EQ(done->title(), "Done");
    EXPECT_EQ(edit->title(), "Edit");
    EXPECT_EQ(edit->style(), ui::BarButtonItem::Style::Bordered);
}

TEST(LibraryScreen, KeyboardSelectsOpensAndDeletes) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        makeRecording("Out-1.mov", 3);
    });
    ui::TableView* table = s.list->tableView();
    table->setFocus();
    ASSERT_EQ(table->currentRow(), (ui::IndexPath{0, 0}));
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return s.nav->topViewController() != s.list && !s.nav->isAnimating(); }, 10000));
    auto* details = qobject_cast<VideoDetailsViewController*>(s.nav->topViewController());
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(QFileInfo(details->videoPath()).fileName(), "Out.mov");  // the older one, second row
    QTest::keyClick(s.nav->topViewController(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return s.nav->topViewController() == s.list && !s.nav->isAnimating(); }, 10000));

    // Delete asks first; Cancel keeps the movie, Delete removes it.
    table->setFocus();
    table->setCurrentRow({0, 0});
    QTest::keyClick(table, Qt::Key_Delete);
    ui::ActionSheet* sheet = ui::ActionSheet::current();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->buttonTitles(), (QStringList{"Delete", "Cancel"}));
    sheet->choose(sheet->cancelButtonIndex());
    EXPECT_EQ(table->numberOfRows(0), 2);
    EXPECT_EQ(ui::ActionSheet::current(), nullptr);
    QTest::keyClick(table, Qt::Key_Delete);
    ASSERT_NE(ui::ActionSheet::current(), nullptr);
    ui::ActionSheet::current()->choose(0);
    ASSERT_TRUE(spinUntil([&] { return table->numberOfRows(0) == 1; }, 10000));
    EXPECT_FALSE(QFileInfo::exists(MediaStore::baseDirForOriginalVideos() + "/Out-1.mov"));
    EXPECT_TRUE(QFileInfo::exists(MediaStore::baseDirForOriginalVideos() + "/Out.mov"));
}

TEST(LibraryScreen, AMovieGoneBehindTheListsBackIsToldAndTheListRefreshed) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    QFile::remove(MediaStore::baseDirForOriginalVideos() + "/Out.mov");
    EXPECT_EQ(s.openRow(0), nullptr);
    ASSERT_EQ(s.alerts.size(), 1u);
    EXPECT_EQ(s.alerts[0].title, "");
    EXPECT_EQ(s.alerts[0].message, "File does'nt exists : Out.mov");
    EXPECT_EQ(s.alerts[0].cancelButton, "OK");
    EXPECT_TRUE(spinUntil([&] { return s.list->tableView()->numberOfRows(0) == 0; }, 10000));
}

TEST(DetailsScreen, ARecordingOffersExportAndAnExportOffersSave) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::copy(MediaStore::baseDirForOriginalVideos() + "/Out.mov", MediaStore::baseDirForVideos() + "/Video.mov");
    });
    VideoDetailsViewController* exported = s.openRow(0);
    ASSERT_NE(exported, nullptr);
    EXPECT_TRUE(visible(exported->playButton()));
    EXPECT_TRUE(visible(exported->saveVideoButton()));
    EXPECT_TRUE(visible(exported->deleteVideoButton()));
    EXPECT_EQ(exported->exportButton(), nullptr);
    EXPECT_EQ(exported->playButton()->accessibleName(), "Play");
    EXPECT_EQ(exported->saveVideoButton()->accessibleName(), "Save");
    EXPECT_EQ(exported->deleteVideoButton()->accessibleName(), "Delete");
    EXPECT_EQ(exported->frames()->frame(exported->saveVideoButton()),
              QRectF(VideoDetailsViewController::kButtonX, 230, 293, 58));
    EXPECT_EQ(exported->frames()->frame(exported->playButton()),
              QRectF(VideoDetailsViewController::kButtonX, 139, 293, 58));
    EXPECT_EQ(exported->frames()->frame(exported->deleteVideoButton()),
              QRectF(VideoDetailsViewController::kButtonX, 320, 293, 58));
    s.nav->popViewControllerAnimated(false);

    VideoDetailsViewController* recording = s.openRow(1);
    ASSERT_NE(recording, nullptr);
    EXPECT_TRUE(visible(recording->exportButton()));
    EXPECT_EQ(recording->exportButton()->accessibleName(), "Export");
    EXPECT_EQ(recording->saveVideoButton(), nullptr);
    EXPECT_EQ(recording->frames()->frame(recording->exportButton()),
              QRectF(VideoDetailsViewController::kButtonX, 230, 293, 58));
}

TEST(DetailsScreen, ACompletedExportReplacesTheRecordingAndOffersSave) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    ASSERT_TRUE(sideFilesExist(recording));
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    QTest::mouseClick(d->exportButton(), Qt::LeftButton);
    ASSERT_TRUE(d->isExporting());
    ASSERT_TRUE(spinUntil([d] { return visible(d->conversionProgress()); }));
    EXPECT_FALSE(visible(d->playButton()));
    EXPECT_FALSE(visible(d->exportButton()));
    EXPECT_FALSE(visible(d->deleteVideoButton()));
    EXPECT_EQ(d->processingLabel()->text(), "Exporting...");
    EXPECT_EQ(d->disclaimerTextLabel()->text(), "Please wait for the export to complete.");
    EXPECT_EQ(d->cancelExportButton()->accessibleName(), "Cancel export");
    ASSERT_TRUE(s.exportEnded(d));

    EXPECT_EQ(d->processingLabel()->text(), "Export Successful!");
    EXPECT_EQ(d->videoPath(), MediaStore::baseDirForVideos() + "/Video.mov");
    EXPECT_TRUE(QFileInfo::exists(d->videoPath()));
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_FALSE(QFileInfo::exists(MediaStore::zoomsArchiveFilePath("Out.mov")));
    EXPECT_FALSE(QFileInfo::exists(MediaStore::timingFilePathForVideo("Out.mov")));
    EXPECT_TRUE(MediaStore::thumbnailPathForVideo(recording).isEmpty());
    EXPECT_TRUE(visible(d->playButton()));
    EXPECT_TRUE(visible(d->saveVideoButton()));
    EXPECT_TRUE(visible(d->deleteVideoButton()));
    EXPECT_EQ(d->exportButton(), nullptr);
    EXPECT_EQ(d->cancelExportButton(), nullptr);
    EXPECT_EQ(d->conversionProgress(), nullptr);
    expectApartOnScreen(d, {d->processingLabel(), d->playButton(), d->saveVideoButton(), d->deleteVideoButton()});
    // The list behind follows: the export instead of the recording.
    EXPECT_TRUE(spinUntil([&] { return s.list->library()->fileList() == QStringList{d->videoPath()}; }, 10000))
        << s.list->library()->fileList().join(",").toStdString();
    EXPECT_TRUE(s.alerts.empty());
}

TEST(DetailsScreen, APortraitRecordingIsReplacedByTheRotatedMovie) {
    LibraryShown s([] { makeRecording("Out.mov", 1); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    auto* d = new VideoDetailsViewController(recording, QString());
    d->setDelegate(s.list->library());
    ASSERT_TRUE(s.nav->pushViewController(d, false));
    d->exportVideo();
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Export Successful!");
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_EQ(movieFiles(MediaStore::baseDirForVideos()), QStringList{"Video.mov"});
    EXPECT_EQ(d->videoPath(), MediaStore::baseDirForVideos() + "/Video.mov");
}

TEST(DetailsScreen, ACancelledExportKeepsTheRecordingAndCanStartAgain) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    d->exportVideo();
    ASSERT_TRUE(spinUntil([d] { return visible(d->cancelExportButton()); }));
    QTest::mouseClick(d->cancelExportButton(), Qt::LeftButton);
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Export Cancelled!");
    EXPECT_TRUE(visible(d->playButton()));
    EXPECT_TRUE(visible(d->exportButton()));
    EXPECT_TRUE(visible(d->deleteVideoButton()));
    EXPECT_EQ(d->saveVideoButton(), nullptr);
    EXPECT_EQ(d->videoPath(), recording);
    EXPECT_TRUE(sideFilesExist(recording));
    EXPECT_TRUE(movieFiles(MediaStore::baseDirForVideos()).isEmpty());
    // A second export runs to the end.
    d->exportVideo();
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Export Successful!");
}

TEST(DetailsScreen, AFailedExportKeepsTheRecordingAndOffersTheOriginal) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    // A disk that is full after a few kilobytes.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit lim = old;
    lim.rlim_cur = 2048;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    d->exportVideo();
    const bool ended = s.exportEnded(d);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(ended);
    EXPECT_EQ(d->processingLabel()->text(), "Try Exporting Again or press Save button to save the original File !");
    // And why, in words: the disk's own.
    ASSERT_TRUE(visible(d->exportErrorLabel()));
    EXPECT_TRUE(d->exportErrorLabel()->text().contains("could not be")) << d->exportErrorLabel()->text().toStdString();
    EXPECT_TRUE(d->exportErrorLabel()->text().contains("File too large"))
        << d->exportErrorLabel()->text().toStdString();

    EXPECT_FALSE(visible(d->playButton()));
    EXPECT_TRUE(visible(d->exportButton()));
    EXPECT_TRUE(visible(d->deleteVideoButton()));
    ASSERT_TRUE(visible(d->saveVideoButton()));
    expectApartOnScreen(d, {d->exportButton(), d->saveVideoButton(), d->deleteVideoButton(), d->processingLabel(),
                            d->exportErrorLabel()});
    // The longer failure text moved up, clear of the buttons, and Save took Play's place.
    EXPECT_LT(d->saveVideoButton()->geometry().top(), d->exportButton()->geometry().top());
    EXPECT_EQ(d->videoPath(), recording);
    EXPECT_TRUE(sideFilesExist(recording));
    EXPECT_TRUE(movieFiles(MediaStore::baseDirForVideos()).isEmpty());

    // Saving the original then says where it went, in the place of the reason and the advice.
    QTest::mouseClick(d->saveVideoButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([d] { return visible(d->savedLabel()); }));
    expectApartOnScreen(d, {d->savedLabel(), d->showInFilesButton(), d->processingLabel(), d->exportErrorLabel(),
                            d->saveVideoButton(), d->exportButton(), d->deleteVideoButton()});
}

TEST(DetailsScreen, TheMovieIsOpenedForItsExportOffTheUIThreadAndCancelWorksMeanwhile) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    {
        testsupport::WorkWatch slowDisk({"export source read"}, true);
        QTest::mouseClick(d->exportButton(), Qt::LeftButton);
        ASSERT_TRUE(spinUntil([&] { return slowDisk.started() == 1; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(d->processingLabel()->text(), VideoDetailsViewController::preparingText());
        EXPECT_TRUE(visible(d->cancelExportButton()));
        EXPECT_FALSE(visible(d->exportButton()));
        EXPECT_FALSE(visible(d->deleteVideoButton()));
        d->exportVideo();  // pressed again: nothing more starts
        EXPECT_EQ(RunningExports::shared().count(), 1);
        QTest::mouseClick(d->cancelExportButton(), Qt::LeftButton);
        ASSERT_TRUE(s.exportEnded(d));
        EXPECT_EQ(d->processingLabel()->text(), "Export Cancelled!");
        EXPECT_TRUE(visible(d->exportButton()));
    }  // the movie opens now, for nobody
    EXPECT_TRUE(sideFilesExist(recording));
    EXPECT_TRUE(movieFiles(MediaStore::baseDirForVideos()).isEmpty());
    d->exportVideo();
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Export Successful!");
}

TEST(DetailsScreen, ARecordingThatDoesNotOpenIsToldWhyAndKept) {
    LibraryShown s;
    QDir().mkpath(MediaStore::baseDirForOriginalVideos());
    const QString junk = MediaStore::baseDirForOriginalVideos() + "/Broken.mov";
    testsupport::writeFile(junk.toStdString(), std::string(4000, 'z'));
    auto* d = new VideoDetailsViewController(junk, QString());
    d->setDelegate(s.list->library());
    ASSERT_TRUE(s.nav->pushViewController(d, false));
    d->exportVideo();
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Try Exporting Again or press Save button to save the original File !");
    ASSERT_TRUE(visible(d->exportErrorLabel()));
    EXPECT_TRUE(d->exportErrorLabel()->text().startsWith("The movie could not be opened."))
        << d->exportErrorLabel()->text().toStdString();
    EXPECT_TRUE(QFileInfo::exists(junk));
    EXPECT_TRUE(visible(d->exportButton()));
    // Exporting again starts afresh, without the old reason on the screen.
    d->exportVideo();
    EXPECT_FALSE(visible(d->exportErrorLabel()));
    ASSERT_TRUE(s.exportEnded(d));
}

TEST(DetailsScreen, GoingBackLeavesTheExportRunningInTheRowAndComingBackShowsIt) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString recording = MediaStore::baseDirForOriginalVideos() + "/Out.mov";
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    // Looked at as it starts (its pass begins only after this report), so that it is running
    // wherever the test looks, however fast the machine.
    bool hold = true;
    QObject::connect(&RunningExports::shared(), &RunningExports::started, s.list, [&] {
        if (!hold) return;
        hold = false;
        QTest::keyClick(s.nav, Qt::Key_Escape);  // back to the list while it runs
        ASSERT_TRUE(spinUntil([&] { return s.nav->topViewController() == s.list && !s.nav->isAnimating(); }));
        ASSERT_TRUE(RunningExports::shared().isExporting(recording));
        EXPECT_EQ(s.list->library()->detailText(0), "Exporting... 0%");
        // Opened again, the screen shows the export as it runs.
        VideoDetailsViewController* again = s.openRow(0);
        ASSERT_NE(again, nullptr);
        EXPECT_TRUE(again->isExporting());
        EXPECT_TRUE(visible(again->cancelExportButton()));
        EXPECT_FALSE(visible(again->exportButton()));
        QTest::keyClick(s.nav, Qt::Key_Escape);
        ASSERT_TRUE(spinUntil([&] { return s.nav->topViewController() == s.list && !s.nav->isAnimating(); }));
    });
    d->exportVideo();
    ASSERT_TRUE(spinUntil([&] { return !hold && !RunningExports::shared().isExporting(recording); }));
    // It completed without any screen: the recording is in the Trash, the list shows the export.
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString((s.home.trash() / "files" / "Out.mov").string())));
    ASSERT_TRUE(spinUntil(
        [&] { return s.list->library()->fileList() == QStringList{MediaStore::baseDirForVideos() + "/Video.mov"}; }));
}

TEST(DetailsScreen, ARecordingWithoutZoomSaysSoAndItsExportIsNoZoomedSuccess) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    QFile::remove(MediaStore::zoomsArchiveFilePath("Out.mov"));
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(spinUntil([d] { return visible(d->noZoomLabel()); }));
    EXPECT_EQ(d->noZoomLabel()->text(), "No zoom was recorded with this movie");
    d->exportVideo();
    EXPECT_FALSE(visible(d->noZoomLabel()));
    ASSERT_TRUE(s.exportEnded(d));
    EXPECT_EQ(d->processingLabel()->text(), "Exported without zoom");
}

TEST(DetailsScreen, SaveCopiesToTheVideosFolderUnderFreeNamesOneSaveAtATime) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::rename(MediaStore::baseDirForOriginalVideos() + "/Out.mov",
                      MediaStore::baseDirForVideos() + "/Video.mov");
    });
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    QStringList saved;
    QObject::connect(d, &VideoDetailsViewController::saveFinished, [&](const QString& p) { saved << p; });
    QTest::mouseClick(d->saveVideoButton(), Qt::LeftButton);
    ASSERT_NE(d->spinner(), nullptr);
    // A second press and a delete while the save runs do nothing.
    d->saveVideoButtonPressed();
    d->deleteVideoButtonPressed();
    EXPECT_EQ(ui::ActionSheet::current(), nullptr);
    ASSERT_TRUE(spinUntil([&] { return !saved.isEmpty(); }));
    const QString folder = s.home.str().c_str() + QStringLiteral("/Videos/Tavrio");
    EXPECT_EQ(saved, QStringList{folder + "/Video.mov"});
    EXPECT_EQ(d->spinner(), nullptr);
    // The screen says where the copy went.
    ASSERT_TRUE(visible(d->savedLabel()));
    EXPECT_EQ(d->savedLabel()->text(), "Saved to Videos/Tavrio/Video.mov");
    EXPECT_TRUE(visible(d->showInFilesButton()));
    EXPECT_TRUE(s.alerts.empty());

    // Saved again unchanged: no quiet duplicate; the user is asked and may still want a copy.
    d->saveVideoButtonPressed();
    ASSERT_TRUE(spinUntil([&] { return saved.size() == 2; }));
    EXPECT_EQ(saved[1], QString());
    EXPECT_EQ(movieFiles(folder), QStringList{"Video.mov"});
    ASSERT_EQ(s.alerts.size(), 1u);
    EXPECT_EQ(s.alerts[0].message, "This movie is already saved as Videos/Tavrio/Video.mov.");
    ASSERT_EQ(s.alerts[0].otherButtons, QStringList{"Save Another Copy"});
    s.alerts[0].dismissed(1);
    ASSERT_TRUE(spinUntil([&] { return saved.size() == 3; }));
    EXPECT_EQ(saved[2], folder + "/Video-1.mov");
    EXPECT_EQ(movieFiles(folder), (QStringList{"Video-1.mov", "Video.mov"}));
    EXPECT_EQ(d->savedLabel()->text(), "Saved to Videos/Tavrio/Video-1.mov");
    EXPECT_TRUE(QFileInfo::exists(d->videoPath()));  // saving copies
}

TEST(DetailsScreen, AFailedSaveIsToldAndLeavesTheSavingState) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::rename(MediaStore::baseDirForOriginalVideos() + "/Out.mov",
                      MediaStore::baseDirForVideos() + "/Video.mov");
    });
    // A Videos folder that cannot exist: a file stands where its parent should be.
    testsupport::writeFile(s.home.path() / "blocked", "x");
    testsupport::ScopedEnv videos("XDG_VIDEOS_DIR", s.home.str() + "/blocked/Videos");
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    bool done = false;
    QObject::connect(d, &VideoDetailsViewController::saveFinished, [&](const QString& p) {
        EXPECT_TRUE(p.isEmpty());
        done = true;
    });
    d->saveVideoButtonPressed();
    ASSERT_TRUE(spinUntil([&] { return done; }));
    ASSERT_EQ(s.alerts.size(), 1u);
    EXPECT_EQ(s.alerts[0].title, "Error Saving to Library");
    // Which movie, where to, and why.
    EXPECT_TRUE(s.alerts[0].message.startsWith("Video.mov could not be saved to " +
                                               QString::fromStdString(s.home.str()) + "/blocked/Videos/Tavrio: "))
        << s.alerts[0].message.toStdString();
    EXPECT_FALSE(s.alerts[0].message.endsWith(": "));
    EXPECT_EQ(s.alerts[0].cancelButton, "Okay");
    EXPECT_EQ(d->spinner(), nullptr);
    d->deleteVideoButtonPressed();
    EXPECT_NE(ui::ActionSheet::current(), nullptr);
}

TEST(DetailsScreen, ASaveIntoAVideosFolderThatCannotBeWrittenIsToldAndLosesNothing) {
    testsupport::guiApp();
    if (::geteuid() == 0) {
        // Root writes into any folder whatever its mode: the case runs again in this program as
        // an ordinary user, in a home made for it.
        testsupport::TempDir home;
        ASSERT_EQ(::chown(home.str().c_str(), 65534, 65534), 0);
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home.str()));
        env.insert("TMPDIR", QString::fromStdString(home.str()));
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        inner.setWorkingDirectory(QString::fromStdString(home.str()));
        // A copy of this program, reachable whatever the checkout's permissions (/root is not).
        const QString self = QString::fromStdString(home.str()) + "/app_tests";
        ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), self));
        ASSERT_TRUE(
            QFile::setPermissions(self, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        inner.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", self,
                                QStringLiteral("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name())});
        ASSERT_TRUE(inner.waitForFinished(300000));
        const QString output = QString::fromUtf8(inner.readAll());
        EXPECT_EQ(inner.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::rename(MediaStore::baseDirForOriginalVideos() + "/Out.mov",
                      MediaStore::baseDirForVideos() + "/Video.mov");
    });
    const QString movie = MediaStore::baseDirForVideos() + "/Video.mov";
    const QByteArray bytes = QByteArray::fromStdString(testsupport::readFile(movie.toStdString()));
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    int done = 0;
    QObject::connect(d, &VideoDetailsViewController::saveFinished, [&](const QString& p) {
        EXPECT_TRUE(p.isEmpty());
        ++done;
    });
    // The Videos folder is there but read-only, then Videos/Tavrio is.
    const QString videos = QString::fromStdString(s.home.str()) + "/Videos";
    for (const QString& locked : {videos, videos + "/Tavrio"}) {
        QDir().mkpath(locked);
        ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
        const int before = done;
        s.alerts.clear();
        d->saveVideoButtonPressed();
        ASSERT_TRUE(spinUntil([&] { return done > before; }));
        ASSERT_EQ(s.alerts.size(), 1u) << locked.toStdString();
        EXPECT_EQ(s.alerts[0].title, "Error Saving to Library");
        const QString message = s.alerts[0].message;
        EXPECT_TRUE(message.startsWith("Video.mov could not be saved to " + videos + "/Tavrio: "))
            << message.toStdString();
        EXPECT_TRUE(message.contains("ermission denied")) << message.toStdString();
        EXPECT_EQ(d->spinner(), nullptr);
        EXPECT_FALSE(visible(d->savedLabel()));
        // Nothing lost, nothing left behind.
        EXPECT_EQ(QByteArray::fromStdString(testsupport::readFile(movie.toStdString())), bytes);
        EXPECT_TRUE(
            QDir(videos + "/Tavrio").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
        ASSERT_TRUE(QFile::setPermissions(videos, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    ASSERT_TRUE(QFile::setPermissions(videos + "/Tavrio", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

TEST(DetailsScreen, DeleteAsksThenRemovesTheMovieAndGoesBack) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        makeRecording("Out-1.mov", 3);
    });
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    const QString path = d->videoPath();
    QTest::mouseClick(d->deleteVideoButton(), Qt::LeftButton);
    ui::ActionSheet* sheet = ui::ActionSheet::current();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->buttonTitles(), (QStringList{"Delete", "Cancel"}));
    sheet->choose(0);
    ASSERT_TRUE(spinUntil([&] { return s.nav->topViewController() == s.list && !s.nav->isAnimating(); }, 10000));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(MediaStore::zoomsArchiveFilePath(QFileInfo(path).fileName())));
    EXPECT_EQ(s.list->tableView()->numberOfRows(0), 1);
    // In the Trash, whence it can be put back.
    const QString held = QString::fromStdString((s.home.trash() / "files").string()) + "/" + QFileInfo(path).fileName();
    EXPECT_TRUE(QFileInfo::exists(held));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString((s.home.trash() / "info").string()) + "/" +
                                  QFileInfo(path).fileName() + ".trashinfo"));
}

TEST(DetailsScreen, PlayShowsARecordingThroughItsZoomAndAnExportAsItIs) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        QFile::copy(MediaStore::baseDirForOriginalVideos() + "/Out.mov", MediaStore::baseDirForVideos() + "/Video.mov");
    });
    for (int row : {0, 1}) {
        VideoDetailsViewController* d = s.openRow(row);
        ASSERT_NE(d, nullptr);
        const bool isRecording = s.list->library()->isExportNeededForAsset(d->videoPath());
        {
            // The movie, its track and the curve are read off the UI thread; the player comes
            // only once they are there.
            testsupport::WorkWatch slowDisk({"movie opened"}, true);
            QTest::mouseClick(d->playButton(), Qt::LeftButton);
            ASSERT_TRUE(spinUntil([&] { return slowDisk.started() == 1; }));
            QCoreApplication::processEvents();
            EXPECT_EQ(s.nav->topViewController(), d);
        }
        ASSERT_TRUE(spinUntil([&] {
            return qobject_cast<TavrioAVPlayerViewController*>(s.nav->topViewController()) && !s.nav->isAnimating();
        }));
        auto* player = qobject_cast<TavrioAVPlayerViewController*>(s.nav->topViewController());
        const media::PlayerItem& item = player->player()->currentItem();
        EXPECT_EQ(item.videoComposition.has_value(), isRecording) << row;
        EXPECT_EQ(QString::fromStdString(item.asset->path()), d->videoPath());
        ASSERT_TRUE(s.nav->popViewControllerAnimated(false));
        ASSERT_TRUE(s.nav->popViewControllerAnimated(false));
    }
}

TEST(DetailsScreen, ZoomAgainZoomsAsThePlayerPlaysAndKeepDiscardAndUndoFollowTheFiles) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    const QString track = MediaStore::zoomsArchiveFilePath("Out.mov");
    const std::string recorded = testsupport::readFile(track.toStdString());
    VideoDetailsViewController* d = s.openRow(0);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(visible(d->zoomAgainButton()));
    EXPECT_FALSE(visible(d->undoZoomAgainButton()));

    auto zoomAgain = [&]() -> TavrioAVPlayerViewController* {
        QTest::mouseClick(d->zoomAgainButton(), Qt::LeftButton);
        if (!spinUntil([&] { return s.nav->topViewController() != d && !s.nav->isAnimating(); })) return nullptr;
        auto* player = qobject_cast<TavrioAVPlayerViewController*>(s.nav->topViewController());
        if (!player || !player->zoomAgainSession()) return nullptr;
        // Paused half way once it plays, so that the moves land at a known time. (A machine slow
        // enough to reach the end first is asked to keep or discard: it goes on zooming.)
        spinUntil([&] { return player->player()->rate() != 0 || ui::ActionSheet::current(); });
        player->pause();
        if (ui::ActionSheet::current())
            ui::ActionSheet::current()->choose(ui::ActionSheet::current()->cancelButtonIndex());
        player->player()->seekToTime(media::Time(1, 2));
        spinUntil([&] { return player->player()->currentTime() == media::Time(1, 2); });
        return player;
    };
    auto back = [&] { return spinUntil([&] { return s.nav->topViewController() == d && !s.nav->isAnimating(); }); };

    TavrioAVPlayerViewController* player = zoomAgain();
    ASSERT_NE(player, nullptr);
    QTest::keyClick(player, Qt::Key_Plus);
    const ZoomTrack& made = player->zoomAgainSession()->track();
    ASSERT_FALSE(made.isEmpty());
    EXPECT_FLOAT_EQ(made.entries.back().zoom, 1.1f);
    EXPECT_DOUBLE_EQ(made.entries.back().atTime, 0.5);
    EXPECT_EQ(made.orient.value_or(-1), 3);
    EXPECT_EQ(player->zoomLabel()->text(), QStringLiteral("1.1×"));
    EXPECT_TRUE(visible(player->zoomBand()));
    EXPECT_FLOAT_EQ(player->zoomBand()->zoomAt(0.9), 1.1f);
    // Escape asks instead of going back; Discard leaves the files as they were.
    QTest::keyClick(player, Qt::Key_Escape);
    ASSERT_NE(ui::ActionSheet::current(), nullptr);
    EXPECT_EQ(s.nav->topViewController(), player);
    ui::ActionSheet::current()->choose(0);
    ASSERT_TRUE(back());
    EXPECT_EQ(testsupport::readFile(track.toStdString()), recorded);
    EXPECT_FALSE(hasEarlierZoomTrack("Out.mov"));

    player = zoomAgain();
    ASSERT_NE(player, nullptr);
    QTest::keyClick(player, Qt::Key_Plus);
    QTest::keyClick(player, Qt::Key_Plus);
    player->finishZoomAgain();
    ASSERT_NE(ui::ActionSheet::current(), nullptr);
    ui::ActionSheet::current()->choose(1);  // Keep
    ASSERT_TRUE(back());
    const std::optional<ZoomTrack> kept = zoomsForVideoFile("Out.mov");
    ASSERT_TRUE(kept);
    EXPECT_FLOAT_EQ(kept->entries.back().zoom, 1.2f);
    EXPECT_EQ(kept->orient.value_or(-1), 3);
    ASSERT_TRUE(spinUntil([&] { return visible(d->undoZoomAgainButton()); }));

    // Play shows the kept zoom along the scrubber.
    QTest::mouseClick(d->playButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] {
        return qobject_cast<TavrioAVPlayerViewController*>(s.nav->topViewController()) && !s.nav->isAnimating();
    }));
    player = qobject_cast<TavrioAVPlayerViewController*>(s.nav->topViewController());
    EXPECT_EQ(player->zoomAgainSession(), nullptr);
    EXPECT_FLOAT_EQ(player->zoomBand()->zoomAt(0.9), 1.2f);
    ASSERT_TRUE(s.nav->popViewControllerAnimated(false));

    QTest::mouseClick(d->undoZoomAgainButton(), Qt::LeftButton);
    ASSERT_NE(ui::ActionSheet::current(), nullptr);
    ui::ActionSheet::current()->choose(0);
    ASSERT_TRUE(spinUntil([&] { return !visible(d->undoZoomAgainButton()); }));
    EXPECT_EQ(testsupport::readFile(track.toStdString()), recorded);
}

TEST(DetailsScreen, AMovieThatDoesNotOpenIsLoggedAndTheScreenStays) {
    LibraryShown s;
    const QString junk = s.home.str().c_str() + QStringLiteral("/Documents/Broken.mov");
    testsupport::writeFile(junk.toStdString(), std::string(4000, 'z'));
    auto* d = new VideoDetailsViewController(junk, QString());
    d->setDelegate(s.list->library());
    ASSERT_TRUE(s.nav->pushViewController(d, false));
    bool failed = false;
    QObject::connect(d, &VideoDetailsViewController::playbackFailed, [&] { failed = true; });
    QTest::mouseClick(d->playButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return failed; }));
    EXPECT_EQ(s.nav->topViewController(), d);
    EXPECT_TRUE(visible(d->playButton()));
    EXPECT_TRUE(QFileInfo::exists(junk));
}

TEST(DetailsScreen, PercentageIsTwoCharactersWideAndTruncated) {
    EXPECT_EQ(VideoDetailsViewController::percentageText(0.456f), "45");
    EXPECT_EQ(VideoDetailsViewController::percentageText(0.05f), " 5");
    EXPECT_EQ(VideoDetailsViewController::percentageText(1.0f), "100");
    EXPECT_EQ(VideoDetailsViewController::percentageText(0.0f), " 0");
}

TEST(LibraryScreen, TheListFollowsTheDiskKeepingTheCurrentMovie) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    ui::TableView* table = s.list->tableView();
    ASSERT_EQ(table->numberOfRows(0), 1);
    EXPECT_FALSE(s.list->emptyLabel()->isVisible());
    table->setCurrentRow({0, 0});

    // A recording made by the command line while the list is open.
    QProcess cli;
    cli.start(TAVRIO_CLI, {"record", "--seconds", "1", "--camera", "virtual", "--mic", "none"});
    ASSERT_TRUE(spinUntil([&] { return cli.state() == QProcess::NotRunning; }, 120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QString recorded = QString::fromUtf8(cli.readAllStandardOutput()).trimmed().split('\n').last();
    ASSERT_TRUE(QFileInfo::exists(recorded));
    ASSERT_TRUE(spinUntil([&] { return s.list->library()->indexOf(recorded) >= 0; }, 10000));
    EXPECT_EQ(table->numberOfRows(0), 2);
    // The newer movie came first; the user's movie is still the current one.
    EXPECT_EQ(s.list->library()->indexOf(recorded), 0);
    EXPECT_EQ(table->currentRow(), (ui::IndexPath{0, 1}));

    // Gone on disk, gone from the list; an empty list says how to fill it.
    QFile::remove(recorded);
    QFile::remove(MediaStore::baseDirForOriginalVideos() + "/Out.mov");
    ASSERT_TRUE(spinUntil([&] { return table->numberOfRows(0) == 0; }, 10000));
    EXPECT_TRUE(s.list->emptyLabel()->isVisible());
    EXPECT_TRUE(s.list->emptyLabel()->text().contains("No movies yet"));
    EXPECT_TRUE(s.alerts.empty()) << s.alerts[0].title.toStdString() << s.alerts[0].message.toStdString();
}

TEST(LibraryScreen, AnUnusableFileIsAnnouncedOnceAcrossOpenings) {
    LibraryShown s([] {
        makeRecording("Out.mov", 3);
        testsupport::writeFile(std::filesystem::path(MediaStore::baseDirForVideos().toStdString()) / "Broken.mov",
                               "not a movie");
        // What a killed portrait export leaves: an intermediate, never a movie of the list.
        QFile::copy(MediaStore::baseDirForOriginalVideos() + "/Out.mov",
                    MediaStore::baseDirForVideos() + "/For_Portrait_Exporting.mov");
    });
    ASSERT_EQ(s.alerts.size(), 1u);
    EXPECT_EQ(s.alerts[0].title, "Error File:Broken.mov");
    EXPECT_EQ(s.list->library()->fileList(), QStringList{MediaStore::baseDirForOriginalVideos() + "/Out.mov"});

    // Another movie arriving refreshes the list; the list opened again: no second announcement.
    makeRecording("Out-1.mov", 3);
    ASSERT_TRUE(spinUntil([&] { return s.list->library()->count() == 2; }, 10000))
        << s.list->library()->fileList().join(",").toStdString();
    auto* again = new VideoAssetsScreen();
    s.nav->pushViewController(again, false);
    ASSERT_TRUE(spinUntil([&] { return settled(again); }));
    EXPECT_EQ(again->library()->count(), 2);
    EXPECT_EQ(s.alerts.size(), 1u);

    // Replaced by another file of that name, it is tried (and announced) again.
    testsupport::writeFile(std::filesystem::path(MediaStore::baseDirForVideos().toStdString()) / "Broken.mov",
                           "still not a movie, and longer");
    ASSERT_TRUE(spinUntil([&] { return s.alerts.size() >= 2; }, 10000));
    ASSERT_TRUE(spinUntil([&] { return settled(again) && settled(s.list); }));
    EXPECT_EQ(s.alerts.size(), 2u);
}

TEST(LibraryScreen, AReusedNameNeverKeepsTheEarlierMoviesPicture) {
    QString thumb;
    LibraryShown s([&] {
        // The picture of an earlier Out.mov, deleted without its thumbnail.
        const QString thumbs = MediaStore::baseDirForThumbnails();
        QDir().mkpath(thumbs);
        thumb = thumbs + "/Out.mov.jpeg";
        QImage earlier(8, 8, QImage::Format_RGB32);
        earlier.fill(Qt::red);
        ASSERT_TRUE(earlier.save(thumb, "JPEG"));
        QFile f(thumb);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        f.close();
        makeRecording("Out.mov", 3);
    });
    ASSERT_EQ(s.list->library()->count(), 1);
    const QImage shown = s.list->library()->row(0).thumbnail;
    ASSERT_FALSE(shown.isNull());
    EXPECT_GT(shown.width(), 8);
    EXPECT_GT(QImage(thumb).width(), 8);  // the stale file replaced too
}

TEST(LibraryScreen, EveryRowAndButtonHereAndOnTheDetailsShowsWhenTheKeyboardIsOnIt) {
    LibraryShown s([] { makeRecording("Out.mov", 3); });
    s.nav->focusFirstControl();
    const QStringList stops = testsupport::expectRingOnEveryTabStop(s.nav);
    for (const char* name : {"TableView", "Close the library", "Edit"})
        EXPECT_TRUE(stops.join(' ').contains(QLatin1String(name))) << name << ": " << stops.join(", ").toStdString();
    VideoDetailsViewController* details = s.openRow(0);
    ASSERT_NE(details, nullptr);
    const QStringList detailStops = testsupport::expectRingOnEveryTabStop(s.nav);
    for (const char* name : {"Play", "Export", "Delete"})
        EXPECT_TRUE(detailStops.join(' ').contains(QLatin1String(name)))
            << name << ": " << detailStops.join(", ").toStdString();
}
