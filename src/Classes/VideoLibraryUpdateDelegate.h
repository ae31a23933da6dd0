#pragma once
// What the library list offers the details screen, and what it tells the screen that opened it.
// Every operation has a harmless default, so a client overrides only what it serves.

#include <QString>
#include <functional>

class VideoLibraryUpdateDelegate {
public:
    virtual ~VideoLibraryUpdateDelegate() = default;
    // Whether the movie is a camera recording (export it) rather than an export (save it).
    // Default: false.
    virtual bool isExportNeededForAsset(const QString& path) {
        (void)path;
        return false;
    }
    // Deletes the movie with its side files (to the Trash, or after asking) and refreshes the
    // list; `done` (may be empty) hears whether it went. Default: nothing goes.
    virtual void deleteVideoAssetAtPath(const QString& path, std::function<void(bool deleted)> done = {}) {
        (void)path;
        if (done) done(false);
    }
};

class VideoAssetsViewControllerDelegate {
public:
    virtual ~VideoAssetsViewControllerDelegate() = default;
    // The user closed the list with Done; sent before the list goes away.
    virtual void videoAssetsViewControllerDidDismiss() {}
};
