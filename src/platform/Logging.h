#pragma once
// The app's logging categories, one per area, so a user can turn on exactly the area they
// are chasing (QT_LOGGING_RULES="tavrio.export.debug=true").

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)       // tavrio.app: start-up, settings
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)  // tavrio.platform: defaults, plists, string tables
Q_DECLARE_LOGGING_CATEGORY(lcStore)     // tavrio.store: media folders, zoom tracks, side files
Q_DECLARE_LOGGING_CATEGORY(lcCapture)   // tavrio.capture
Q_DECLARE_LOGGING_CATEGORY(lcExport)    // tavrio.export
Q_DECLARE_LOGGING_CATEGORY(lcLibrary)   // tavrio.library
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)    // tavrio.player
Q_DECLARE_LOGGING_CATEGORY(lcStall)     // tavrio.stall: the main event loop held up (StallWatch)
