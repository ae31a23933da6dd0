#include "Settings.h"
#include "Tavrio4AppDelegate.h"
#include "ZoomTrack.h"

#include "media/CapturePresets.h"
#include "platform/AlertService.h"
#include "platform/Defaults.h"

#include "support/TestSupport.h"

#include <QSet>

#include <gtest/gtest.h>

using platform::Defaults;

namespace {

class AlertRecorder {
public:
    AlertRecorder() {
        platform::AlertService::setPresenter([this](const platform::Alert& a) { alerts.push_back(a); });
    }
    ~AlertRecorder() { platform::AlertService::setPresenter({}); }
    std::vector<platform::Alert> alerts;
};

}  // namespace

TEST(AppDelegate, FirstLaunchSeedsOnceAndLaterLaunchesChangeNothing) {
    testsupport::TempHome home;
    AlertRecorder recorder;
    // An older installation stored values without the marker; the seeding overwrites them.
    Defaults::standard().setInteger(2, settings::kResolutionOpt);
    Defaults::standard().setInteger(3, settings::kExportOpt);
    Defaults::standard().synchronize();

    Tavrio4AppDelegate delegate;
    EXPECT_TRUE(delegate.didFinishLaunching());
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0].title, "Note");
    EXPECT_EQ(recorder.alerts[0].message,
              "Thanks for downloading Tavrio. Please read the instructions by tapping info button at the bottom.");
    EXPECT_EQ(recorder.alerts[0].cancelButton, "Ok");
    EXPECT_TRUE(recorder.alerts[0].otherButtons.isEmpty());

    // Synchronized: the file itself holds the values, not only the process's cache.
    const std::string ini = testsupport::readFile(home.path() / "settings.ini");
    EXPECT_NE(ini.find("notFirstTimeVersion2=true"), std::string::npos) << ini;
    EXPECT_NE(ini.find("resolutionOpt=0"), std::string::npos) << ini;
    Defaults onDisk(QString::fromStdString((home.path() / "settings.ini").string()));
    EXPECT_TRUE(onDisk.boolForKey(settings::kNotFirstTimeVersion2));
    for (const char* key : {settings::kResolutionOpt, settings::kExportOpt, settings::kRescaleOpt}) {
        EXPECT_TRUE(onDisk.hasKey(key)) << key;
        EXPECT_EQ(onDisk.integerForKey(key), 0) << key;
    }

    Defaults::standard().setInteger(2, settings::kExportOpt);
    Defaults::standard().setInteger(1, settings::kRescaleOpt);
    Defaults::standard().synchronize();
    Tavrio4AppDelegate later;
    EXPECT_FALSE(later.seedSettingsIfFirstLaunch());
    EXPECT_TRUE(later.didFinishLaunching());
    EXPECT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(Defaults::standard().integerForKey(settings::kExportOpt), 2);
    EXPECT_EQ(Defaults::standard().integerForKey(settings::kRescaleOpt), 1);
}

TEST(AppDelegate, SessionPresetFollowsResolutionWithHighForAnythingElse) {
    testsupport::TempHome home;
    EXPECT_EQ(settings::getSessionPresetFromSettings(), media::CapturePreset::High);  // never written
    const std::pair<qint64, media::CapturePreset> cases[] = {
        {0, media::CapturePreset::High},  {1, media::CapturePreset::Size640x480}, {2, media::CapturePreset::Medium},
        {3, media::CapturePreset::Low},   {4, media::CapturePreset::High},        {7, media::CapturePreset::High},
        {-1, media::CapturePreset::High},
    };
    for (const auto& [value, preset] : cases) {
        Defaults::standard().setInteger(value, settings::kResolutionOpt);
        EXPECT_EQ(settings::getSessionPresetFromSettings(), preset) << value;
    }
}

TEST(Settings, EveryStoredValueHasOneChoiceAndOutOfTableValuesShowAsWhatTheyDo) {
    for (const QString& key : settings::optionKeys()) {
        SCOPED_TRACE(key.toStdString());
        const QList<settings::Option>& options = *settings::optionsFor(key);
        QStringList listLabels, detailLabels, words;
        for (int i = 0; i < options.size(); ++i) {
            // The stored value is the row: settings files written by earlier versions still read.
            EXPECT_EQ(options[i].value, i);
            EXPECT_EQ(settings::listLabel(key, i), options[i].listLabel);
            EXPECT_EQ(settings::optionForWord(options, options[i].word), &options[i]);
            listLabels << options[i].listLabel;
            detailLabels << options[i].detailLabel;
            words << options[i].word;
        }
        // Every choice can be told apart on both screens and on the command line.
        for (const QStringList* names : {&listLabels, &detailLabels, &words}) {
            EXPECT_EQ(QSet<QString>(names->begin(), names->end()).size(), options.size());
            EXPECT_FALSE(names->contains(QString()));
        }
    }
    // Out-of-range values (edited by hand) show the label of what is used: row 0 for resolution
    // and export, and for rescaling Good below 1, Best from 1 on.
    using settings::listLabel;
    EXPECT_EQ(listLabel(settings::kResolutionOpt, 7), listLabel(settings::kResolutionOpt, 0));
    EXPECT_EQ(listLabel(settings::kResolutionOpt, -1), listLabel(settings::kResolutionOpt, 0));
    EXPECT_EQ(listLabel(settings::kExportOpt, 9), listLabel(settings::kExportOpt, 0));
    EXPECT_EQ(listLabel(settings::kRescaleOpt, -1), listLabel(settings::kRescaleOpt, settings::kRescaleGood));
    EXPECT_EQ(listLabel(settings::kRescaleOpt, 5), listLabel(settings::kRescaleOpt, settings::kRescaleBest));
    EXPECT_TRUE(settings::isInTable(settings::kExportOpt, 3));
    EXPECT_FALSE(settings::isInTable(settings::kExportOpt, 4));
    EXPECT_FALSE(settings::isInTable(settings::kRescaleOpt, -1));
    EXPECT_TRUE(settings::listLabel("nope", 0).isEmpty());
    // The export takes anything below 1 as Good.
    EXPECT_FALSE(settings::rescaleIsBest(-1));
    EXPECT_FALSE(settings::rescaleIsBest(0));
    EXPECT_TRUE(settings::rescaleIsBest(1));
    EXPECT_TRUE(settings::rescaleIsBest(2));
}
