#include "media/capture/AvDevice.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace media::backends {

namespace {

struct Loaded {
    AvDevice api{};
    bool ok = false;
    std::string problem;
};

const Loaded& loaded() {
    static const Loaded l = [] {
        Loaded r;
        // The major version this program was built against: another one has another ABI.
        const std::string name = "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR);
        void* lib = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char* why = dlerror();
            r.problem = name + " cannot be loaded" + (why ? std::string(": ") + why : std::string());
            return r;
        }
        auto registerAll = reinterpret_cast<void (*)()>(dlsym(lib, "avdevice_register_all"));
        r.api.listInputSources =
            reinterpret_cast<decltype(r.api.listInputSources)>(dlsym(lib, "avdevice_list_input_sources"));
        r.api.freeListDevices =
            reinterpret_cast<decltype(r.api.freeListDevices)>(dlsym(lib, "avdevice_free_list_devices"));
        if (!registerAll || !r.api.listInputSources || !r.api.freeListDevices) {
            r.problem = name + " lacks the functions capture needs";
            return r;
        }
        registerAll();
        r.ok = true;
        return r;
    }();
    return l;
}

}  // namespace

const AvDevice* avDevice() {
    const Loaded& l = loaded();
    return l.ok ? &l.api : nullptr;
}

const char* avDeviceProblem() {
    return loaded().problem.c_str();
}

}  // namespace media::backends
