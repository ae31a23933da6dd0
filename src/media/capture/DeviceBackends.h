#pragma once
// Internal: how each kind of device is found and made. Not part of the engine's public headers.

#include <memory>
#include <string>
#include <vector>

#include "media/capture/CaptureDevice.h"

namespace media::backends {

struct Found {
    std::string id;
    std::string name;
};

std::vector<Found> findV4L2Cameras();
std::shared_ptr<CaptureDevice> makeV4L2Camera(const Found& f);

// PulseAudio sources when a sound server answers, else ALSA capture PCMs.
std::vector<Found> findMicrophones();
std::shared_ptr<CaptureDevice> makeMicrophone(const Found& f);

std::shared_ptr<CaptureDevice> makeVirtualCamera();
std::shared_ptr<CaptureDevice> makeVirtualMicrophone();
std::shared_ptr<CaptureDevice> makeFileCamera(const std::string& path, Error* error);

}  // namespace media::backends
