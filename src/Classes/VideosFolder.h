#pragma once
// The user's Videos folder as the place a finished movie is handed over to the rest of the
// desktop: movies are copied into its "Tavrio" subfolder under a free name, never over a file
// that is there, and never as half a file (a full disk leaves nothing behind).

#include <QString>
#include <functional>

class QObject;

class VideosFolder {
public:
    // <Videos>/Tavrio. Videos is XDG_VIDEOS_DIR, from the environment when a session exports it,
    // else from the user's user-dirs.dirs (~/Videos by default).
    static QString folder();

    // Whether the movie can be saved: it opens and has a video track whose first picture decodes.
    static bool videoAtPathIsCompatible(const QString& moviePath, QString* reason = nullptr);

    enum class Outcome { Saved, AlreadySaved, Incompatible, Failed };
    // Outcome, the saved movie's path (Saved), the copy found there (AlreadySaved) or why it
    // failed (Incompatible and Failed, a sentence for an alert).
    using Completion = std::function<void(Outcome outcome, const QString& savedPathOrError)>;
    // Checks and copies on a worker thread; `completion` runs later on the main thread while
    // `context` exists (the copy is finished either way). A movie
    // whose copy is in the folder already, byte for byte, is not copied again unless
    // `evenIfSaved`: a second click should not quietly fill the folder with duplicates.
    static void writeVideoAtPath(const QString& moviePath, QObject* context, Completion completion,
                                 bool evenIfSaved = false);

    // A file in `folder` with the movie's very bytes, or a null string. Reads both files.
    static QString savedCopyOf(const QString& moviePath, const QString& folder);

    // "Videos/Tavrio/Video-3.mov": where a saved movie is, in the words a user finds it by.
    static QString shortLocation(const QString& savedPath);

    // The copy itself, on the calling thread: the first free name in `toFolder` counting from
    // the movie's own name ("Video.mov", "Video-1.mov", ...), the folder made if missing. Null
    // string and *error on failure, with nothing left in the folder.
    static QString copyVideo(const QString& moviePath, const QString& toFolder, QString* error = nullptr);
};
