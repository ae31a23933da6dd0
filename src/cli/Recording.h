#pragma once
// Recording as the camera screen does it, for the commands that record (record, demo).

#include <QString>

#include "Settings.h"  // the capture presets

#include <vector>

namespace cli {

struct ZoomStep {
    double at;   // seconds after recording began
    float zoom;  // 1.0 to 3.0
};

struct RecordRequest {
    double seconds = 0;
    QString camera;      // device id; empty: the first camera
    QString microphone;  // device id, "none"; empty: the first microphone
    media::CapturePreset preset = media::CapturePreset::High;
    int orientation = 0;      // platform::DeviceOrientation code; 0: the sensor's, if any
    int cameraRotation = -1;  // the camera's mounting in degrees; -1: as the camera reports
    std::vector<ZoomStep> zooms;
};

// Records into Originals with the zoom track, thumbnail and duration file; Ctrl-C stops early.
// Returns an exit status: 1 also when the movie was kept but a side file could not be stored.
// *moviePath is the movie whenever one was finished; on success *zoomEntries is the track's size.
int recordMovie(const RecordRequest& request, QString* moviePath, int* zoomEntries = nullptr);

}  // namespace cli
