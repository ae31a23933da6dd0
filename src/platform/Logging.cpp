#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "tavrio.app")
Q_LOGGING_CATEGORY(lcPlatform, "tavrio.platform")
Q_LOGGING_CATEGORY(lcStore, "tavrio.store")
Q_LOGGING_CATEGORY(lcCapture, "tavrio.capture")
Q_LOGGING_CATEGORY(lcExport, "tavrio.export")
Q_LOGGING_CATEGORY(lcLibrary, "tavrio.library")
Q_LOGGING_CATEGORY(lcPlayer, "tavrio.player")
Q_LOGGING_CATEGORY(lcStall, "tavrio.stall")
