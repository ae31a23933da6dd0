#pragma once
// Internal: how each kind of device is found and made. Not part of the engine's public headers.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/capture/CaptureDevice.h"

namespace media::backends {

struct Found {
    std::string id;    // stable: survives a reboot and a replug
    std::string name;  // as the user knows the device
    std::string node;  // the device file to open, where it differs from the id
};

std::vector<Found> findV4L2Cameras();
std::shared_ptr<CaptureDevice> makeV4L2Camera(const Found& f);

// PulseAudio sources when a sound server answers, else ALSA capture PCMs.
std::vector<Found> findMicrophones();
std::shared_ptr<CaptureDevice> makeMicrophone(const Found& f);

// How real devices are found and made. Tests put devices of their own here (cameras that fail to
// open with a given error, devices that come and go); an empty member keeps the real one.
struct Backend {
    std::function<std::vector<Found>()> findCameras, findMicrophones;
    std::function<std::shared_ptr<CaptureDevice>(const Found&)> makeCamera, makeMicrophone;
};
// Returns the backend that was in use. Devices made by the previous one stay known by their ids
// and count as disconnected until listed again.
Backend setBackend(Backend backend);

std::shared_ptr<CaptureDevice> makeVirtualCamera();
std::shared_ptr<CaptureDevice> makeVirtualMicrophone();
std::shared_ptr<CaptureDevice> makeFileCamera(const std::string& path, Error* error);

}  // namespace media::backends
