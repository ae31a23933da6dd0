#include "media/capture/CaptureDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "media/CapturePresets.h"
#include "media/capture/DeviceBackends.h"

namespace media {

struct DeviceRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<CaptureDevice>> byId;

    static DeviceRegistry& get() {
        static DeviceRegistry r;
        return r;
    }

    // Keeps one object per id, so a device's state survives repeated listing.
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

CaptureDevice::CaptureDevice(std::string id, std::string name, MediaType type, bool isVirtual)
    : id_(std::move(id)), name_(std::move(name)), type_(type), virtual_(isVirtual) {}

CaptureDevice::~CaptureDevice() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devices() {
    auto cams = backends::findV4L2Cameras();
    auto mics = backends::findMicrophones();
    auto& reg = DeviceRegistry::get();
    std::lock_guard lock(reg.mutex);
    std::vector<std::shared_ptr<CaptureDevice>> out;
    std::vector<std::string> present;
    for (const auto& f : cams) {
        if (auto d = reg.intern(f.id, [&] { return backends::makeV4L2Camera(f); })) out.push_back(d);
    }
    for (const auto& f : mics) {
        if (auto d = reg.intern(f.id, [&] { return backends::makeMicrophone(f); })) out.push_back(d);
    }
    out.push_back(reg.intern(kVirtualCameraID, backends::makeVirtualCamera));
    out.push_back(reg.intern(kVirtualMicrophoneID, backends::makeVirtualMicrophone));
    for (auto& [id, dev] : reg.byId) {
        bool listed = std::any_of(out.begin(), out.end(), [&](auto& d) { return d.get() == dev.get(); });
        bool isFile = id.rfind("file:", 0) == 0;
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
    auto list = devices(type);
    return list.empty() ? nullptr : list.front();
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
    for (auto& d : devices())
        if (d->uniqueID() == id) return d;
    if (error)
        *error = Error{ENODEV, "No such capture device: " + id, "The device is not connected.",
                       "Run `tavrio-cli devices` to list the devices."};
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

bool isKnownPreset(const std::string& p) {
    return p == kCapturePresetHigh || p == kCapturePreset640x480 || p == kCapturePresetMedium || p == kCapturePresetLow;
}

Size sizeForPreset(const std::string& preset, const std::vector<VideoFormat>& formats) {
    if (preset == kCapturePreset640x480) return {640, 480};
    if (preset == kCapturePresetMedium) return {480, 360};
    if (preset == kCapturePresetLow) return {192, 144};
    if (preset != kCapturePresetHigh) return {};
    Size best16x9, largest;
    auto area = [](Size s) { return int64_t(s.width) * s.height; };
    for (const auto& f : formats) {
        Size s = f.size;
        if (s.empty()) continue;
        if (s.width * 9 == s.height * 16 && s.width <= 1280 && s.height <= 720 && area(s) > area(best16x9))
            best16x9 = s;
        if (area(s) > area(largest)) largest = s;
    }
    if (!best16x9.empty()) return best16x9;
    if (!largest.empty()) return largest;
    return {1280, 720};  // a device that names no sizes is asked for the usual HD size
}

}  // namespace media
