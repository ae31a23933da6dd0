#pragma once
// Internal: libavdevice, opened the first time a camera or microphone needs it. It brings some
// eighty libraries of its own (SDL, PulseAudio, JACK, OpenGL and more), whose loading took longer
// than all the rest of the window's start-up, and only capture uses it; capture opens devices
// on its own threads once the window is up.

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace media::backends {

struct AvDevice {
    int (*listInputSources)(const AVInputFormat* device, const char* deviceName, AVDictionary* options,
                            AVDeviceInfoList** list);
    void (*freeListDevices)(AVDeviceInfoList** list);
};

// libavdevice with its devices registered in libavformat (so av_find_input_format finds
// "video4linux2", "pulse" and "alsa"), or null when it cannot be loaded; the reason is then in
// avDeviceProblem(). Thread-safe; the library stays loaded.
const AvDevice* avDevice();
const char* avDeviceProblem();

}  // namespace media::backends
