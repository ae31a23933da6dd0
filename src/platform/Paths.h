#pragma once
// Where the app's data and settings live.
//
// Data: $XDG_DATA_HOME/Tavrio (default ~/.local/share/Tavrio) with Documents and Library below.
// Settings: $XDG_CONFIG_HOME/Tavrio/settings.ini (default ~/.config/...).
// TAVRIO_HOME, when set, holds both (data folders and settings.ini), so a test or a sandbox
// never touches the user's real files. The environment is read at every call.

#include <QString>

namespace platform {

class Paths {
public:
    // The per-user data folder; not created.
    static QString dataRoot();
    // Documents and Library are the platform's folders: they exist once asked for (created
    // with their parents if missing). The path is returned even if creation fails (logged).
    static QString documentsRoot();
    static QString libraryRoot();
    // The defaults store's file; its folder is created by the store when it writes.
    static QString settingsFile();
};

}  // namespace platform
