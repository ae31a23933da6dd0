#include "media/capture/CaptureDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "media/FFmpeg.h"
#include "media/capture/DeviceBackends.h"

namespace media {

namespace {

constexpr const char* kPipeWirePrefix = "pipewire:";
constexpr const char* kForcedV4L2Prefix = "v4l2:/dev/";

bool sameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec1, ec2;
    return std::filesystem::weakly_canonical(a, ec1) == std::filesystem::weakly_canonical(b, ec2) && !ec1 && !ec2;
}

std::mutex listenersMutex;
std::map<int, std::function<void()>> listeners;
int nextListener = 1;

}  // namespace

struct DeviceRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<CaptureDevice>> byId;
    backends::Backend backend;

    static DeviceRegistry& get() {
        static DeviceRegistry r;
        return r;
    }

    // Keeps one object per id, so a device's state survives repeated listing and a replug.
    std::shared_ptr<CaptureDevice> intern(const std::string& id,
                                          const std::function<std::shared_ptr<CaptureDevice>()>& make) {
        auto it = byId.find(id);
        if (it != byId.end()) {
            it->second->setConnected(true);
            return it->second;
        }
        auto d = make();
        if (d) byId[id] = d;
        return d;
    }
};

namespace backends {
Backend setBackend(Backend backend) {
    auto& reg = DeviceRegistry::get();
    std::lock_guard lock(reg.mutex);
    std::swap(reg.backend, backend);
    return backend;
}

std::vector<Found> mergeCameras(const std::vector<Found>& v4l2, const std::vector<Found>& pipeWire) {
    std::vector<Found> out = pipeWire;
    for (const auto& f : v4l2) {
        const bool carried =
            std::any_of(pipeWire.begin(), pipeWire.end(), [&](const Found& p) { return sameFile(p.node, f.node); });
        if (!carried) out.push_back(f);
    }
    return out;
}

int addChangeListener(std::function<void()> listener) {
    std::lock_guard lock(listenersMutex);
    listeners[nextListener] = std::move(listener);
    return nextListener++;
}

void removeChangeListener(int token) {
    std::lock_guard lock(listenersMutex);
    listeners.erase(token);
}

void notifyChangeListeners() {
    std::lock_guard lock(listenersMutex);
    for (auto& [token, listener] : listeners) listener();
}

VideoFormat pickFormat(const std::vector<VideoFormat>& formats, Size want, double fps) {
    auto area = [](Size s) { return int64_t(s.width) * s.height; };
    auto fast = [&](const VideoFormat& f) {
        return f.frameRates.empty() || f.frameRates.front() + 0.5 >= std::min(fps, 30.0);
    };
    auto rank = [&](const VideoFormat& f) {
        bool exact = f.size == want;
        bool larger = f.size.width >= want.width && f.size.height >= want.height;
        bool raw = f.pixelFormat != "mjpeg";
        return std::make_tuple(exact, fast(f), larger ? -area(f.size) : area(f.size) - (int64_t(1) << 40), raw);
    };
    return *std::max_element(formats.begin(), formats.end(),
                             [&](const VideoFormat& a, const VideoFormat& b) { return rank(a) < rank(b); });
}

}  // namespace backends

std::string CaptureDevice::backendName() const {
    if (virtual_) return "virtual";
    if (id_.rfind("/dev/", 0) == 0) return "v4l2";
    const auto colon = id_.find(':');
    return colon == std::string::npos ? std::string() : id_.substr(0, colon);
}

CaptureDevice::CaptureDevice(std::string id, std::string name, MediaType type, bool isVirtual)
    : id_(std::move(id)), name_(std::move(name)), type_(type), virtual_(isVirtual) {}

CaptureDevice::~CaptureDevice() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devices() {
    auto& reg = DeviceRegistry::get();
    backends::Backend backend;
    {
        std::lock_guard lock(reg.mutex);
        backend = reg.backend;
    }
    // Looking for devices opens every video node and asks the sound server: done without the
    // registry's lock, so a lookup by id elsewhere never waits for it.
    std::vector<backends::Found> v4l2;
    std::vector<backends::Found> cams;
    if (backend.findCameras) {
        cams = backend.findCameras();
    } else {
        v4l2 = backends::findV4L2Cameras();
        cams = backends::mergeCameras(v4l2, backends::findPipeWireCameras());
    }
    auto mics = backend.findMicrophones ? backend.findMicrophones() : backends::findMicrophones();
    std::lock_guard lock(reg.mutex);
    std::vector<std::shared_ptr<CaptureDevice>> out;
    for (const auto& f : cams) {
        auto d = reg.intern(f.id, [&] {
            if (backend.makeCamera) return backend.makeCamera(f);
            return f.id.rfind(kPipeWirePrefix, 0) == 0 ? backends::makePipeWireCamera(f) : backends::makeV4L2Camera(f);
        });
        if (!d) continue;
        if (!f.node.empty()) d->setDevicePath(f.node);
        out.push_back(d);
    }
    for (const auto& f : mics) {
        if (auto d = reg.intern(
                f.id, [&] { return backend.makeMicrophone ? backend.makeMicrophone(f) : backends::makeMicrophone(f); }))
            out.push_back(d);
    }
    out.push_back(reg.intern(kVirtualCameraID, backends::makeVirtualCamera));
    out.push_back(reg.intern(kVirtualMicrophoneID, backends::makeVirtualMicrophone));
    for (auto& [id, dev] : reg.byId) {
        bool listed = std::any_of(out.begin(), out.end(), [&](auto& d) { return d.get() == dev.get(); });
        bool isFile = id.rfind("file:", 0) == 0;
        // A camera opened through V4L2 by choice, though PipeWire carries it, is there while its
        // device file is.
        if (!listed && id.rfind(kForcedV4L2Prefix, 0) == 0)
            listed =
                std::any_of(v4l2.begin(), v4l2.end(), [&](auto& f) { return sameFile(f.node, dev->devicePath()); });
        if (!listed && !isFile) dev->setConnected(false);
    }
    return out;
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devices(MediaType type) {
    std::vector<std::shared_ptr<CaptureDevice>> out;
    for (auto& d : devices())
        if (d->mediaType() == type) out.push_back(d);
    return out;
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultDevice(MediaType type) {
    for (auto& d : devices(type))
        if (!d->isVirtual()) return d;
    return nullptr;
}

std::shared_ptr<CaptureDevice> CaptureDevice::deviceWithUniqueID(const std::string& id, Error* error) {
    if (id.rfind("file:", 0) == 0) {
        auto& reg = DeviceRegistry::get();
        {
            std::lock_guard lock(reg.mutex);
            auto it = reg.byId.find(id);
            if (it != reg.byId.end()) return it->second;
        }
        auto d = backends::makeFileCamera(id.substr(5), error);
        if (!d) return nullptr;
        std::lock_guard lock(reg.mutex);
        return reg.intern(id, [&] { return d; });
    }
    auto list = devices();
    for (auto& d : list)
        if (d->uniqueID() == id) return d;
    if (id.rfind(kForcedV4L2Prefix, 0) == 0) {
        // V4L2 asked for by name: the camera listed on that file when V4L2 has it already, else
        // the one PipeWire carries, opened directly.
        const std::string node = id.substr(5);
        for (auto& d : list)
            if (d->backendName() == "v4l2" && sameFile(d->devicePath(), node)) return d;
        auto& reg = DeviceRegistry::get();
        for (const auto& f : backends::findV4L2Cameras()) {
            if (!sameFile(f.node, node)) continue;
            std::lock_guard lock(reg.mutex);
            return reg.intern(id, [&] { return backends::makeV4L2Camera({id, f.name, f.node}); });
        }
    }
    // A device file, or a link to one: the camera that is on it now.
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(id, ec);
    if (!ec && id.rfind("/dev/", 0) == 0) {
        for (auto& d : list) {
            if (d->devicePath().empty()) continue;
            const auto node = std::filesystem::weakly_canonical(d->devicePath(), ec);
            if (!ec && node == wanted) return d;
        }
    }
    if (error) *error = Error{ENODEV, "No such capture device: " + id, "The device is not connected.", ""};
    return nullptr;
}

bool CaptureDevice::isConnected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

void CaptureDevice::setConnected(bool c) {
    std::lock_guard lock(mutex_);
    connected_ = c;
}

std::string CaptureDevice::configurationLockPath() const {
    // Real device nodes are locked themselves; the others get a lock file per user.
    if (std::string node = devicePath(); !node.empty()) return node;
    if (id_.rfind("/dev/", 0) == 0) return id_;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime ? runtime : "/tmp";
    std::string name = id_;
    for (char& c : name)
        if (c == '/' || c == ':') c = '_';
    return dir + "/tavrio-" + std::to_string(::getuid()) + "-" + name + ".lock";
}

bool CaptureDevice::lockForConfiguration(Error* error) {
    std::lock_guard lock(mutex_);
    if (lockDepth_ > 0) {
        ++lockDepth_;
        return true;
    }
    if (!connected_) {
        if (error) *error = Error{ENODEV, "The device is not connected.", name_ + " went away.", ""};
        return false;
    }
    std::string path = configurationLockPath();
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (error) *error = Error{e, "Cannot lock " + name_ + " for configuration.", std::strerror(e), ""};
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        if (error)
            *error = Error{e == EWOULDBLOCK ? EBUSY : e, "Cannot lock " + name_ + " for configuration.",
                           e == EWOULDBLOCK ? "Another application is configuring the device." : std::strerror(e),
                           "Close the other application and try again."};
        return false;
    }
    lockFd_ = fd;
    lockDepth_ = 1;
    return true;
}

void CaptureDevice::unlockForConfiguration() {
    std::lock_guard lock(mutex_);
    if (lockDepth_ == 0) return;
    if (--lockDepth_ == 0) {
        ::flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

bool CaptureDevice::isLockedForConfiguration() const {
    std::lock_guard lock(mutex_);
    return lockDepth_ > 0;
}

TorchMode CaptureDevice::torchMode() const {
    std::lock_guard lock(mutex_);
    return torch_;
}

bool CaptureDevice::setTorchMode(TorchMode m) {
    if (!isTorchModeSupported(m) || !isLockedForConfiguration()) return false;
    if (!applyTorchMode(m)) return false;
    std::lock_guard lock(mutex_);
    torch_ = m;
    return true;
}

FocusMode CaptureDevice::focusMode() const {
    std::lock_guard lock(mutex_);
    return focus_;
}

bool CaptureDevice::setFocusMode(FocusMode m) {
    if (!isFocusModeSupported(m) || !isLockedForConfiguration()) return false;
    if (!applyFocusMode(m)) return false;
    std::lock_guard lock(mutex_);
    focus_ = m;
    return true;
}

Point CaptureDevice::focusPointOfInterest() const {
    std::lock_guard lock(mutex_);
    return focusPoint_;
}

static bool validPoint(Point p) {
    return p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1;
}

bool CaptureDevice::setFocusPointOfInterest(Point p) {
    if (!isFocusPointOfInterestSupported() || !isLockedForConfiguration() || !validPoint(p)) return false;
    std::lock_guard lock(mutex_);
    focusPoint_ = p;
    return true;
}

ExposureMode CaptureDevice::exposureMode() const {
    std::lock_guard lock(mutex_);
    return exposure_;
}

bool CaptureDevice::setExposureMode(ExposureMode m) {
    if (!isExposureModeSupported(m) || !isLockedForConfiguration()) return false;
    if (!applyExposureMode(m)) return false;
    std::lock_guard lock(mutex_);
    exposure_ = m;
    return true;
}

Point CaptureDevice::exposurePointOfInterest() const {
    std::lock_guard lock(mutex_);
    return exposurePoint_;
}

bool CaptureDevice::setExposurePointOfInterest(Point p) {
    if (!isExposurePointOfInterestSupported() || !isLockedForConfiguration() || !validPoint(p)) return false;
    std::lock_guard lock(mutex_);
    exposurePoint_ = p;
    return true;
}

std::unique_ptr<VideoSource> CaptureDevice::openVideo(Size, double, Error* error) {
    if (error) *error = Error{EINVAL, localizedName() + " delivers no pictures.", "", ""};
    return nullptr;
}

std::unique_ptr<AudioSource> CaptureDevice::openAudio(Error* error) {
    if (error) *error = Error{EINVAL, localizedName() + " delivers no sound.", "", ""};
    return nullptr;
}

DeviceProblem deviceProblem(const Error& error) {
    if (!error) return DeviceProblem::None;
    if (error.code == AVERROR_DECODER_NOT_FOUND || error.code == AVERROR_INVALIDDATA)
        return DeviceProblem::NoUsableMode;
    // FFmpeg hands errno values on negated.
    const int e = error.code < 0 && error.code > -4096 ? -error.code : error.code;
    switch (e) {
    case EBUSY: return DeviceProblem::Busy;
    case EACCES:
    case EPERM: return DeviceProblem::NoPermission;
    case ENODEV:
    case ENOENT:
    case ENXIO:
    case ESHUTDOWN: return DeviceProblem::Gone;
    case EINVAL:
    case ENOTTY: return DeviceProblem::NoUsableMode;
    default: return DeviceProblem::Other;
    }
}

CaptureMode modeForPreset(CapturePreset preset, const std::vector<VideoFormat>& formats) {
    switch (preset) {
    case CapturePreset::Size640x480: return {{640, 480}, 30};
    case CapturePreset::Medium: return {{480, 360}, 30};
    case CapturePreset::Low: return {{192, 144}, 30};
    case CapturePreset::High: break;
    }
    // Each size once, at the best rate any pixel format reaches there (capped at 30).
    std::map<std::pair<int, int>, double> rates;
    for (const auto& f : formats) {
        Size s = f.size;
        if (s.empty() || s.width > 1920 || s.height > 1080) continue;
        double r = f.frameRates.empty() ? 30 : std::min(30.0, f.frameRates.front());
        auto& best = rates[{s.width, s.height}];
        best = std::max(best, r);
    }
    if (rates.empty()) return {{1280, 720}, 30};  // a device that names no sizes gets the usual HD size
    const bool anyFluent = std::any_of(rates.begin(), rates.end(), [](auto& e) { return e.second >= 15; });
    auto rank = [&](const std::pair<const std::pair<int, int>, double>& e) {
        const auto [w, h] = e.first;
        return std::make_tuple(!anyFluent || e.second >= 15, w * 9 == h * 16, int64_t(w) * h, e.second);
    };
    auto best = std::max_element(rates.begin(), rates.end(), [&](auto& a, auto& b) { return rank(a) < rank(b); });
    return {{best->first.first, best->first.second}, best->second};
}

Size sizeForPreset(CapturePreset preset, const std::vector<VideoFormat>& formats) {
    return modeForPreset(preset, formats).size;
}

}  // namespace media
