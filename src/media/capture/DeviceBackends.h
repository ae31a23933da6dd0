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

// The Video/Source nodes of the user's PipeWire (ids "pipewire:" and the node's name); empty when
// libpipewire or the daemon is missing. `node` is the V4L2 device file the node reads, where it
// reads one, so one camera is listed once.
std::vector<Found> findPipeWireCameras();
std::shared_ptr<CaptureDevice> makePipeWireCamera(const Found& f);
// Why no PipeWire camera is listed, or empty.
std::string pipeWireProblem();

// The cameras of both backends, each physical camera once: PipeWire where it carries a V4L2
// camera (it shares the camera with other programs), V4L2 for the rest.
std::vector<Found> mergeCameras(const std::vector<Found>& v4l2, const std::vector<Found>& pipeWire);

// Called (from any thread, quickly: no device may be touched in it) when devices changed in a way
// udev does not see, such as a PipeWire node appearing or vanishing. Returns a token for removal.
int addChangeListener(std::function<void()> listener);
void removeChangeListener(int token);
void notifyChangeListeners();

// The format to ask a camera for: the wanted size if it has it (uncompressed first, as it costs no
// decoding), else the smallest larger size (scaling down keeps detail), else the largest.
// `formats` must not be empty.
VideoFormat pickFormat(const std::vector<VideoFormat>& formats, Size want, double fps);

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
