#include "ui/ApplicationState.h"
#include "ui/Indicators.h"
#include "ui/MailComposer.h"
#include "ui/PointScale.h"
#include "ui/SystemSound.h"
#include "ui/ViewController.h"
#include "ui/Window.h"

#include "UIImageAdditions.h"
#include "platform/Notifications.h"

#include "support/GuiApp.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

QByteArray wav(int sampleRate, int channels, int bytesPerSample, int frames) {
    QByteArray data(frames * channels * bytesPerSample, '\0');
    QByteArray out("RIFF");
    auto u32 = [&out](quint32 v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&out](quint16 v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + data.size());
    out.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(channels);
    u32(sampleRate);
    u32(sampleRate * channels * bytesPerSample);
    u16(channels * bytesPerSample);
    u16(bytesPerSample * 8);
    out.append("data");
    u32(data.size());
    return out + data;
}

// Records notifications of the application's active state.
struct ActiveLog {
    ActiveLog() {
        for (const char* name : {platform::kWillResignActive, platform::kDidBecomeActive})
            platform::Notifications::center().addObserver(&owner, QLatin1String(name),
                                                          [this](const QString& n, const QVariantMap&) { names << n; });
    }
    QObject owner;
    QStringList names;
};

}  // namespace

TEST(SystemSound, LengthComesFromTheWavHeader) {
    EXPECT_EQ(ui::SystemSound::wavLengthMs(wav(44100, 1, 2, 11025)), 250);
    EXPECT_EQ(ui::SystemSound::wavLengthMs(wav(48000, 2, 2, 48000)), 1000);
    // A file cut short plays what it has.
    const QByteArray full = wav(8000, 1, 1, 8000);
    EXPECT_EQ(ui::SystemSound::wavLengthMs(full.left(44 + 4000)), 500);
    EXPECT_EQ(ui::SystemSound::wavLengthMs(QByteArray("RIFF....WAVEdata")), std::nullopt);
    EXPECT_EQ(ui::SystemSound::wavLengthMs(QByteArray("not a sound at all")), std::nullopt);
    EXPECT_EQ(ui::SystemSound::wavLengthMs(QByteArray()), std::nullopt);
}

TEST(SystemSound, CompletionComesOncePerPlayWithoutAnAudioDevice) {
    testsupport::guiApp();
    testsupport::TempDir dir;
    const QString path = QString::fromStdString((dir.path() / "beep.wav").string());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(wav(8000, 1, 2, 1600));  // 200 ms
    f.close();
    ui::SystemSound sound(QUrl::fromLocalFile(path).toString());
    ASSERT_EQ(sound.lengthMs(), 200);
    int done = 0;
    QElapsedTimer clock;
    clock.start();
    sound.play([&done] { ++done; });
    EXPECT_EQ(done, 0);  // never inline: the caller's state is set up after play()
    ASSERT_TRUE(testsupport::spinUntil([&] { return done == 1; }, 30000));
    // It waits for the sound (the start sound must have played before recording starts).
    EXPECT_GE(clock.elapsed(), 150);
    sound.play([&done] { ++done; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done == 2; }, 30000));
    QTest::qWait(50);
    EXPECT_EQ(done, 2);
}

TEST(SystemSound, AMissingSoundStillCompletes) {
    testsupport::guiApp();
    ui::SystemSound sound(QStringLiteral("file:///nonexistent/beep2.wav"));
    EXPECT_FALSE(sound.lengthMs());
    bool done = false;
    sound.play([&done] { done = true; });
    EXPECT_TRUE(testsupport::spinUntil([&] { return done; }, 30000));
}

TEST(ApplicationState, OnlySleepResignsAndResumingBecomesActive) {
    testsupport::guiApp();
    ActiveLog log;
    ui::Window window;
    window.setRootViewController(new ui::ViewController());
    ui::ApplicationState state(&window);
    EXPECT_TRUE(state.isActive());
    EXPECT_EQ(log.names, (QStringList{platform::kDidBecomeActive}));
    window.show();

    // What a desktop does to a window it keeps running: no resign.
    window.setWindowState(Qt::WindowMinimized);
    window.setWindowState(Qt::WindowNoState);
    for (QEvent::Type type : {QEvent::WindowDeactivate, QEvent::ActivationChange, QEvent::WindowActivate}) {
        QEvent e(type);
        QApplication::sendEvent(&window, &e);
    }
    state.setSessionLocked(true);
    state.screenSaverActiveChanged(true);
    window.hide();
    EXPECT_TRUE(state.isActive());
    window.show();
    state.screenSaverActiveChanged(false);
    state.setSessionLocked(false);

    state.setPreparingForSleep(true);
    EXPECT_FALSE(state.isActive());
    state.setPreparingForSleep(true);  // already going: no second resign
    state.setPreparingForSleep(false);
    EXPECT_TRUE(state.isActive());
    const QStringList expected{platform::kDidBecomeActive, platform::kWillResignActive, platform::kDidBecomeActive};
    EXPECT_EQ(log.names.join(QLatin1Char(' ')).toStdString(), expected.join(QLatin1Char(' ')).toStdString());
}

TEST(Indicators, ProgressClampsSpinnerHidesAndLabelsShrinkToFit) {
    testsupport::guiApp();
    ui::ProgressView progress;
    progress.setProgress(1.7f);
    EXPECT_FLOAT_EQ(progress.progress(), 1.0f);
    progress.setProgress(-0.2f);
    EXPECT_FLOAT_EQ(progress.progress(), 0.0f);
    progress.setProgress(0.25f);
    EXPECT_EQ(progress.value(), 250);

    QWidget parent;
    parent.show();
    ui::ActivityIndicator spinner(&parent);
    EXPECT_TRUE(spinner.isHidden());
    spinner.startAnimating();
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_TRUE(spinner.isVisible());
    spinner.stopAnimating();
    EXPECT_TRUE(spinner.isHidden());

    ui::PointScale::setCurrent(ui::PointScale());
    ui::ShrinkLabel label(QStringLiteral("Exporting..."));
    label.setFontPoints(17);
    label.setMinimumFontPoints(10);
    label.resize(220, 30);
    EXPECT_DOUBLE_EQ(label.fittedFontPoints(), 17.0);  // fits as it is
    label.setText(QStringLiteral("Try Exporting Again or press Save button to save the original File !"));
    const double fitted = label.fittedFontPoints();
    EXPECT_LT(fitted, 17.0);
    EXPECT_GE(fitted, 10.0);
    label.resize(20, 30);
    EXPECT_DOUBLE_EQ(label.fittedFontPoints(), 10.0);  // never below the minimum
}

TEST(MailComposer, UrlCarriesEncodedRecipientSubjectAndBody) {
    const QUrl url = ui::MailComposer::mailtoUrl(QStringLiteral("Tavrio 2 Feedback & more"),
                                                 QStringLiteral("Line one\n\nhttps://x.org/?a=1&b=2"),
                                                 {QStringLiteral("support+app@tavrio.org")});
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "support+app@tavrio.org");
    const QUrlQuery q(url);
    EXPECT_EQ(q.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), "Tavrio 2 Feedback & more");
    EXPECT_EQ(q.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), "Line one\n\nhttps://x.org/?a=1&b=2");
    EXPECT_EQ(ui::MailComposer::mailtoUrl(QStringLiteral("Hi"), {}, {}).toString(), "mailto:?subject=Hi");
}

TEST(ImageLoader, PicksTheDoubleResolutionVariantOnlyOnAScaleTwoScreen) {
    testsupport::guiApp();
    testsupport::TempDir dir;
    auto file = [&dir](const char* name) { return QString::fromStdString((dir.path() / name).string()); };
    QImage plain(32, 10, QImage::Format_ARGB32);
    plain.fill(Qt::red);
    QImage doubled(64, 20, QImage::Format_ARGB32);
    doubled.fill(Qt::blue);
    ASSERT_TRUE(plain.save(file("bottombg.png")));
    ASSERT_TRUE(doubled.save(file("bottombg@2x.png")));
    ASSERT_TRUE(plain.save(file("list-icon.png")));
    ASSERT_TRUE(plain.save(file("noext"), "PNG"));

    using UIImageAdditions::imageWithContentsOfResolutionIndependentFile;
    const QImage atTwo = imageWithContentsOfResolutionIndependentFile(file("bottombg.png"), 2.0);
    EXPECT_EQ(atTwo.size(), QSize(64, 20));
    EXPECT_EQ(atTwo.deviceIndependentSize(), QSizeF(32, 10));  // the same size in points
    EXPECT_EQ(imageWithContentsOfResolutionIndependentFile(file("bottombg.png"), 2.5).size(), QSize(64, 20));
    EXPECT_EQ(imageWithContentsOfResolutionIndependentFile(file("bottombg.png"), 1.0).size(), QSize(32, 10));
    EXPECT_EQ(imageWithContentsOfResolutionIndependentFile(file("bottombg.png"), 1.5).size(), QSize(32, 10));
    EXPECT_EQ(imageWithContentsOfResolutionIndependentFile(file("list-icon.png"), 2.0).size(), QSize(32, 10));
    EXPECT_EQ(UIImageAdditions::highResolutionVariantPath(file("noext")), file("noext@2x."));
    EXPECT_EQ(imageWithContentsOfResolutionIndependentFile(file("noext"), 2.0).size(), QSize(32, 10));
    EXPECT_TRUE(imageWithContentsOfResolutionIndependentFile(file("missing.png"), 2.0).isNull());
    EXPECT_TRUE(imageWithContentsOfResolutionIndependentFile(file("missing.png"), 1.0).isNull());
    EXPECT_EQ(UIImageAdditions::highResolutionVariantPath(QStringLiteral(":/Resources/a.b.png")),
              ":/Resources/a.b@2x.png");
}
