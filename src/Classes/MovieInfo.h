#pragma once
// What the application knows of a movie file: its length, whether it was cut short, its picture
// and sound tracks, how a player turns its picture, and the orientation it was recorded in (from
// its zoom track). Front ends that describe a movie (tavrio-cli info) read it here instead of
// opening the file with the engine themselves.

#include <QString>
#include <optional>
#include <vector>

struct MovieInfo {
    double seconds = 0;       // NaN when the length is unknown
    bool incomplete = false;  // the file ends before its last samples

    struct Video {
        QString codec;                        // FFmpeg's short name ("h264")
        int width = 0, height = 0;            // stored pixels
        int shownWidth = 0, shownHeight = 0;  // stretched by the pixel aspect ratio
        double frameRate = 0;                 // 0 when unknown
        int rotationDegrees = 0;              // clockwise, as a player turns the picture: -90 to 180
    };
    std::optional<Video> video;  // the first picture track

    struct Audio {
        QString codec;
        int sampleRate = 0;
        int channels = 0;
    };
    std::vector<Audio> audio;

    // Entry 0's "orient" of the movie's zoom track; 0 without one.
    qint64 recordedOrientation = 0;

    // Nullopt when the file cannot be opened as a movie; `*problem` then says why, in a line.
    static std::optional<MovieInfo> read(const QString& path, QString* problem = nullptr);
};
