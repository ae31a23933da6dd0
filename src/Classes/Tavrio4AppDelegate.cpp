#include "Tavrio4AppDelegate.h"

#include "Settings.h"

#include "platform/AlertService.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/StringTable.h"

const char* const Tavrio4AppDelegate::kNoteTitle = "Note";
const char* const Tavrio4AppDelegate::kNoteMessage =
    "Thanks for downloading Tavrio. Please read the instructions by tapping info button at the bottom.";
const char* const Tavrio4AppDelegate::kNoteButton = "Ok";

Tavrio4AppDelegate::Tavrio4AppDelegate(QObject* parent) : QObject(parent) {}

Tavrio4AppDelegate::~Tavrio4AppDelegate() = default;

bool Tavrio4AppDelegate::didFinishLaunching() {
    prepareScreen();
    seedSettingsIfFirstLaunch();
    // The notice does not hold up the start: the camera screen comes up behind it.
    startCamera2();
    makeKeyAndVisible();
    return true;
}

bool Tavrio4AppDelegate::seedSettingsIfFirstLaunch() {
    platform::Defaults& defaults = platform::Defaults::standard();
    if (defaults.boolForKey(QLatin1String(settings::kNotFirstTimeVersion2))) return false;
    // The seeding deliberately overwrites values an older version stored without the marker.
    defaults.setInteger(0, QLatin1String(settings::kResolutionOpt));
    defaults.setBool(true, QLatin1String(settings::kNotFirstTimeVersion2));
    defaults.setInteger(0, QLatin1String(settings::kExportOpt));
    defaults.setInteger(0, QLatin1String(settings::kRescaleOpt));
    if (!defaults.synchronize())
        qCWarning(lcApp) << "first-launch settings could not be saved; they apply to this run only";

    const QString table = QStringLiteral("localizable");
    platform::AlertService::show(platform::StringTable::localized(table, QLatin1String(kNoteTitle)),
                                 platform::StringTable::localized(table, QLatin1String(kNoteMessage)),
                                 platform::StringTable::localized(table, QLatin1String(kNoteButton)));
    return true;
}
