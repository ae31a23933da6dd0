#pragma once
// The application's bundle of resources: the folder the string tables, the user guide, the
// artwork and the sounds are read from (StringTable::resourcesDir()).

#include <QString>

namespace platform {

class Bundle {
public:
    // "<resources>/<name>.<type>" (no dot for an empty type). The file need not exist.
    static QString pathForResource(const QString& name, const QString& type);
    // The same as a URL a media player takes ("qrc:" for compiled-in resources, else "file:").
    static QString urlForResource(const QString& name, const QString& type);
    // The lines both programs print under their version: who holds the copyright and the
    // licence the program is given under.
    static QString copyrightNotice();
};

}  // namespace platform
