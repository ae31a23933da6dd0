#pragma once
// "Show in Files": the desktop's file manager opened on a file, with the file selected
// (org.freedesktop.FileManager1 on the session bus). Where no file manager answers there, the
// file's folder is opened with the desktop's handler for folders instead; where that fails too,
// the user is told why. The bus is never waited on.

#include <QString>

namespace ui {

class FileManager {
public:
    static void showItem(const QString& path);
    // "Open With Default Player": the file handed to the desktop's handler for its type.
    static void openWithDefaultApplication(const QString& path);
};

}  // namespace ui
