#include "platform/Defaults.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using platform::Defaults;
using platform::Paths;

namespace {
QString q(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}
}  // namespace

TEST(Defaults, MissingKeysReadZeroAndValuesSurviveAReopen) {
    testsupport::TempDir dir;
    const QString file = q(dir.path() / "settings.ini");
    {
        Defaults d(file);
        EXPECT_EQ(d.integerForKey("resolutionOpt"), 0);
        EXPECT_FALSE(d.boolForKey("notFirstTimeVersion2"));
        EXPECT_FALSE(d.hasKey("resolutionOpt"));
        d.setInteger(-7, "exportOpt");
        d.setInteger(5000000000LL, "big");
        d.setBool(true, "flag");
        d.setBool(false, "off");
        EXPECT_TRUE(d.synchronize());
    }
    Defaults d(file);
    EXPECT_EQ(d.integerForKey("exportOpt"), -7);
    EXPECT_EQ(d.integerForKey("big"), 5000000000LL);
    EXPECT_TRUE(d.boolForKey("flag"));
    EXPECT_FALSE(d.boolForKey("off"));
    // Booleans and integers read across: a stored YES is 1, a non-zero integer is true.
    EXPECT_EQ(d.integerForKey("flag"), 1);
    EXPECT_TRUE(d.boolForKey("exportOpt"));
    EXPECT_FALSE(d.boolForKey("missing"));
}

TEST(Defaults, HandEditedValuesReadSafely) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path() / "settings.ini",
                           "[General]\nresolutionOpt=banana\nexportOpt=2.9\nrescaleOpt= 1 \nflag=0\n");
    Defaults d(q(dir.path() / "settings.ini"));
    EXPECT_EQ(d.integerForKey("resolutionOpt"), 0);
    EXPECT_EQ(d.integerForKey("exportOpt"), 2);
    EXPECT_EQ(d.integerForKey("rescaleOpt"), 1);
    EXPECT_FALSE(d.boolForKey("flag"));
    EXPECT_FALSE(d.boolForKey("resolutionOpt"));
}

TEST(Defaults, SynchronizeReportsAnUnwritableFile) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path() / "afile", "x");
    Defaults d(q(dir.path() / "afile" / "settings.ini"));
    d.setInteger(1, "exportOpt");
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(d.integerForKey("exportOpt"), 1);  // kept in memory
}

TEST(Defaults, StandardStoreFollowsTavrioHome) {
    testsupport::TempHome first;
    Defaults& firstStore = Defaults::standard();
    Defaults::standard().setInteger(2, "exportOpt");
    ASSERT_TRUE(Defaults::standard().synchronize());
    EXPECT_EQ(Defaults::standard().fileName(), q(first.path() / "settings.ini"));
    {
        testsupport::TempHome second;
        EXPECT_EQ(Defaults::standard().integerForKey("exportOpt"), 0);
        EXPECT_EQ(Defaults::standard().fileName(), q(second.path() / "settings.ini"));
        EXPECT_EQ(firstStore.integerForKey("exportOpt"), 2);  // still a valid reference
    }
    EXPECT_EQ(Defaults::standard().integerForKey("exportOpt"), 2);
}

TEST(Paths, TavrioHomeHoldsDataAndSettingsAndRootsAreCreatedOnDemand) {
    testsupport::TempDir dir;
    testsupport::ScopedEnv xdgData("XDG_DATA_HOME", (dir.path() / "xdg-data").string());
    testsupport::ScopedEnv xdgConfig("XDG_CONFIG_HOME", (dir.path() / "xdg-config").string());
    {
        testsupport::ScopedEnv home("TAVRIO_HOME", (dir.path() / "home").string());
        EXPECT_EQ(Paths::dataRoot(), q(dir.path() / "home"));
        EXPECT_EQ(Paths::settingsFile(), q(dir.path() / "home" / "settings.ini"));
        EXPECT_EQ(Paths::documentsRoot(), q(dir.path() / "home" / "Documents"));
        EXPECT_TRUE(QFileInfo(Paths::documentsRoot()).isDir());
        EXPECT_EQ(Paths::libraryRoot(), q(dir.path() / "home" / "Library"));
        EXPECT_TRUE(QFileInfo(Paths::libraryRoot()).isDir());
    }
    testsupport::ScopedEnv noHome("TAVRIO_HOME", "");
    EXPECT_EQ(Paths::dataRoot(), q(dir.path() / "xdg-data" / "Tavrio"));
    EXPECT_EQ(Paths::settingsFile(), q(dir.path() / "xdg-config" / "Tavrio" / "settings.ini"));
    EXPECT_FALSE(QFileInfo::exists(q(dir.path() / "xdg-data")));  // nothing made until asked
    EXPECT_EQ(Paths::libraryRoot(), q(dir.path() / "xdg-data" / "Tavrio" / "Library"));
    EXPECT_TRUE(QFileInfo(Paths::libraryRoot()).isDir());

    // Relative XDG values are invalid by the XDG rules and fall back to the home folder.
    testsupport::ScopedEnv relative("XDG_DATA_HOME", "relative/data");
    testsupport::ScopedEnv userHome("HOME", (dir.path() / "user").string());
    EXPECT_EQ(Paths::dataRoot(), q(dir.path() / "user" / ".local" / "share" / "Tavrio"));
}

TEST(Paths, AnUncreatableRootStillNamesItsPlace) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path() / "blocker", "a file where the data folder should be");
    testsupport::ScopedEnv home("TAVRIO_HOME", (dir.path() / "blocker").string());
    // Never an empty root: callers would then build paths like "/Video.mov".
    EXPECT_EQ(Paths::documentsRoot(), q(dir.path() / "blocker" / "Documents"));
    EXPECT_EQ(Paths::libraryRoot(), q(dir.path() / "blocker" / "Library"));
}
