// Cameras through PipeWire: the Video/Source nodes of the user's PipeWire (V4L2 webcams the
// session manager carries, libcamera cameras, cameras shared by other programs), opened as a
// stream with the media role "Camera". libpipewire is opened at run time, as libavdevice is, so
// the program starts and records through V4L2 where PipeWire is absent.
//
// One connection serves the process: a pw_thread_loop whose thread runs every PipeWire callback.
// The registry keeps the nodes and their formats up to date there; listing takes a copy after a
// round trip, so what another program just published is seen.

#include "media/capture/PipeWire.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "media/capture/DeviceBackends.h"

#ifdef TAVRIO_HAVE_PIPEWIRE
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include "media/FFmpeg.h"
#endif

namespace media {

namespace {
std::mutex remoteMutex;
int remoteFd = -1;  // under remoteMutex: the portal's connection, until the engine takes it
}  // namespace

void setPipeWireRemote(int fd) {
    std::lock_guard lock(remoteMutex);
    if (remoteFd >= 0) ::close(remoteFd);
    remoteFd = fd;
}

}  // namespace media

#ifndef TAVRIO_HAVE_PIPEWIRE

namespace media::backends {
std::vector<Found> findPipeWireCameras() {
    return {};
}
std::shared_ptr<CaptureDevice> makePipeWireCamera(const Found&) {
    return nullptr;
}
std::string pipeWireProblem() {
    return "This build has no PipeWire support.";
}
}  // namespace media::backends

#else

namespace media {

namespace {

// The functions of libpipewire-0.3 the camera needs. Everything else used here (registry, node
// and core methods, SPA pods) is inline in the headers.
struct Api {
    void (*init)(int*, char***);
    pw_thread_loop* (*threadLoopNew)(const char*, const spa_dict*);
    int (*threadLoopStart)(pw_thread_loop*);
    void (*threadLoopLock)(pw_thread_loop*);
    void (*threadLoopUnlock)(pw_thread_loop*);
    int (*threadLoopTimedWait)(pw_thread_loop*, int);
    void (*threadLoopSignal)(pw_thread_loop*, bool);
    pw_loop* (*threadLoopGetLoop)(pw_thread_loop*);
    pw_context* (*contextNew)(pw_loop*, pw_properties*, size_t);
    pw_core* (*contextConnect)(pw_context*, pw_properties*, size_t);
    pw_core* (*contextConnectFd)(pw_context*, int, pw_properties*, size_t);
    int (*coreDisconnect)(pw_core*);
    void (*proxyDestroy)(pw_proxy*);
    pw_properties* (*propertiesNew)(const char*, ...);
    int (*propertiesSet)(pw_properties*, const char*, const char*);
    pw_stream* (*streamNew)(pw_core*, const char*, pw_properties*);
    void (*streamAddListener)(pw_stream*, spa_hook*, const pw_stream_events*, void*);
    int (*streamConnect)(pw_stream*, spa_direction, uint32_t, pw_stream_flags, const spa_pod**, uint32_t);
    void (*streamDestroy)(pw_stream*);
    pw_buffer* (*streamDequeueBuffer)(pw_stream*);
    int (*streamQueueBuffer)(pw_stream*, pw_buffer*);
};

struct Loaded {
    Api api{};
    bool ok = false;
    std::string problem;
};

const Loaded& loaded() {
    static const Loaded l = [] {
        Loaded r;
        const char* name = "libpipewire-0.3.so.0";
        void* lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char* why = dlerror();
            r.problem = std::string(name) + " cannot be loaded" + (why ? std::string(": ") + why : std::string());
            return r;
        }
        bool all = true;
        auto sym = [&](auto& fn, const char* symbol) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, symbol));
            all = all && fn;
        };
        Api& a = r.api;
        sym(a.init, "pw_init");
        sym(a.threadLoopNew, "pw_thread_loop_new");
        sym(a.threadLoopStart, "pw_thread_loop_start");
        sym(a.threadLoopLock, "pw_thread_loop_lock");
        sym(a.threadLoopUnlock, "pw_thread_loop_unlock");
        sym(a.threadLoopTimedWait, "pw_thread_loop_timed_wait");
        sym(a.threadLoopSignal, "pw_thread_loop_signal");
        sym(a.threadLoopGetLoop, "pw_thread_loop_get_loop");
        sym(a.contextNew, "pw_context_new");
        sym(a.contextConnect, "pw_context_connect");
        sym(a.contextConnectFd, "pw_context_connect_fd");
        sym(a.coreDisconnect, "pw_core_disconnect");
        sym(a.proxyDestroy, "pw_proxy_destroy");
        sym(a.propertiesNew, "pw_properties_new");
        sym(a.propertiesSet, "pw_properties_set");
        sym(a.streamNew, "pw_stream_new");
        sym(a.streamAddListener, "pw_stream_add_listener");
        sym(a.streamConnect, "pw_stream_connect");
        sym(a.streamDestroy, "pw_stream_destroy");
        sym(a.streamDequeueBuffer, "pw_stream_dequeue_buffer");
        sym(a.streamQueueBuffer, "pw_stream_queue_buffer");
        if (!all) {
            r.problem = std::string(name) + " lacks the functions capture needs";
            return r;
        }
        a.init(nullptr, nullptr);
        r.ok = true;
        return r;
    }();
    return l;
}

const Api* pw() {
    return loaded().ok ? &loaded().api : nullptr;
}

// A format as the node offers it, with its rates as the exact fractions to ask for.
struct NodeFormat {
    uint32_t subtype = 0;    // SPA_MEDIA_SUBTYPE_raw or _mjpeg
    uint32_t rawFormat = 0;  // SPA_VIDEO_FORMAT_*, for raw
    Size size;
    std::vector<spa_fraction> rates;  // highest first
};

std::string pixelFormatName(const NodeFormat& f) {
    if (f.subtype == SPA_MEDIA_SUBTYPE_mjpg) return "mjpeg";
    switch (f.rawFormat) {
    case SPA_VIDEO_FORMAT_YUY2: return "yuyv422";
    case SPA_VIDEO_FORMAT_UYVY: return "uyvy422";
    case SPA_VIDEO_FORMAT_NV12: return "nv12";
    case SPA_VIDEO_FORMAT_I420: return "yuv420p";
    default: return {};
    }
}

std::vector<VideoFormat> videoFormats(const std::vector<NodeFormat>& formats) {
    std::vector<VideoFormat> out;
    for (const auto& f : formats) {
        std::vector<double> rates;
        for (auto r : f.rates) rates.push_back(double(r.num) / r.denom);
        out.push_back({pixelFormatName(f), f.size, rates});
    }
    return out;
}

AVPixelFormat avPixelFormat(uint32_t rawFormat) {
    switch (rawFormat) {
    case SPA_VIDEO_FORMAT_YUY2: return AV_PIX_FMT_YUYV422;
    case SPA_VIDEO_FORMAT_UYVY: return AV_PIX_FMT_UYVY422;
    case SPA_VIDEO_FORMAT_NV12: return AV_PIX_FMT_NV12;
    case SPA_VIDEO_FORMAT_I420: return AV_PIX_FMT_YUV420P;
    default: return AV_PIX_FMT_NONE;
    }
}

// The values a format property allows: one, an enumeration, or a range (its ends).
template <typename T>
std::vector<T> podValues(const spa_pod* pod, uint32_t type, bool* isRange = nullptr) {
    uint32_t n = 0, choice = 0;
    const spa_pod* values = spa_pod_get_values(pod, &n, &choice);
    if (!values || SPA_POD_TYPE(values) != type || n == 0) return {};
    const T* v = static_cast<const T*>(SPA_POD_BODY_CONST(values));
    if (isRange) *isRange = choice == SPA_CHOICE_Range || choice == SPA_CHOICE_Step;
    switch (choice) {
    case SPA_CHOICE_None: return {v[0]};
    case SPA_CHOICE_Enum: return n > 1 ? std::vector<T>(v + 1, v + n) : std::vector<T>{v[0]};
    case SPA_CHOICE_Range:
    case SPA_CHOICE_Step: return n >= 3 ? std::vector<T>{v[1], v[2]} : std::vector<T>{v[0]};
    default: return {v[0]};
    }
}

// The formats one EnumFormat parameter allows, in the pixel formats this program can read.
void addFormats(const spa_pod* param, std::vector<NodeFormat>& out) {
    uint32_t mediaType = 0, subtype = 0;
    if (spa_format_parse(param, &mediaType, &subtype) < 0 || mediaType != SPA_MEDIA_TYPE_video) return;
    if (subtype != SPA_MEDIA_SUBTYPE_raw && subtype != SPA_MEDIA_SUBTYPE_mjpg) return;
    const auto* obj = reinterpret_cast<const spa_pod_object*>(param);
    std::vector<uint32_t> raws{0};
    if (subtype == SPA_MEDIA_SUBTYPE_raw) {
        const spa_pod_prop* p = spa_pod_object_find_prop(obj, nullptr, SPA_FORMAT_VIDEO_format);
        raws = p ? podValues<uint32_t>(&p->value, SPA_TYPE_Id) : std::vector<uint32_t>{};
    }
    std::vector<Size> sizes;
    if (const spa_pod_prop* p = spa_pod_object_find_prop(obj, nullptr, SPA_FORMAT_VIDEO_size)) {
        bool range = false;
        auto r = podValues<spa_rectangle>(&p->value, SPA_TYPE_Rectangle, &range);
        if (range && r.size() == 2) {
            // A range: the usual sizes inside it, and its largest.
            for (Size s : {Size{1920, 1080}, Size{1280, 720}, Size{640, 480}, Size{480, 360}, Size{320, 240},
                           Size{192, 144}, Size{int(r[1].width), int(r[1].height)}})
                if (uint32_t(s.width) >= r[0].width && uint32_t(s.width) <= r[1].width &&
                    uint32_t(s.height) >= r[0].height && uint32_t(s.height) <= r[1].height)
                    sizes.push_back(s);
        } else {
            for (auto& s : r) sizes.push_back({int(s.width), int(s.height)});
        }
    }
    std::vector<spa_fraction> rates;
    if (const spa_pod_prop* p = spa_pod_object_find_prop(obj, nullptr, SPA_FORMAT_VIDEO_framerate))
        for (auto& f : podValues<spa_fraction>(&p->value, SPA_TYPE_Fraction))
            if (f.num && f.denom) rates.push_back(f);
    std::sort(rates.begin(), rates.end(),
              [](spa_fraction a, spa_fraction b) { return double(a.num) / a.denom > double(b.num) / b.denom; });
    for (uint32_t raw : raws) {
        NodeFormat f{subtype, raw, {}, rates};
        if (pixelFormatName(f).empty()) continue;
        for (Size s : sizes) {
            if (s.empty()) continue;
            f.size = s;
            out.push_back(f);
        }
    }
}

class PipeWireSource;

struct Node {
    uint32_t id = 0;
    std::string name, description, v4l2Path;
    std::vector<NodeFormat> formats;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
};

// The process's one connection. Everything in it is touched with the thread loop locked (or on
// its thread, where the callbacks run with it locked).
class Connection {
public:
    static Connection& get() {
        // Never destroyed: streams may still be closing on other threads at exit.
        static Connection* c = new Connection;
        return *c;
    }

    struct Lock {
        Connection& c;
        explicit Lock(Connection& conn) : c(conn) { pw()->threadLoopLock(c.loop_); }
        ~Lock() { pw()->threadLoopUnlock(c.loop_); }
    };

    // Connected (again, after the daemon went), the registry's news taken in; false and the reason
    // when there is no PipeWire to talk to. Call with the loop locked.
    bool ready(std::string* problem) {
        if (!loop_) {
            *problem = "PipeWire's thread could not be started.";
            return false;
        }
        if (broken_) disconnect();
        if (!core_) {
            int fd = -1;
            {
                std::lock_guard lock(remoteMutex);
                std::swap(fd, remoteFd);
            }
            core_ =
                fd >= 0 ? pw()->contextConnectFd(context_, fd, nullptr, 0) : pw()->contextConnect(context_, nullptr, 0);
            if (!core_) {
                *problem = std::string("PipeWire does not answer: ") + std::strerror(errno);
                return false;
            }
            static const pw_core_events coreEvents = [] {
                pw_core_events e{};
                e.version = PW_VERSION_CORE_EVENTS;
                e.done = [](void* self, uint32_t id, int seq) {
                    auto* c = static_cast<Connection*>(self);
                    if (id == PW_ID_CORE && seq == c->pendingSeq_) c->synced_ = true;
                    pw()->threadLoopSignal(c->loop_, false);
                };
                e.error = [](void* self, uint32_t id, int, int res, const char* message) {
                    auto* c = static_cast<Connection*>(self);
                    // Errors about the connection itself: the daemon went or turned us away.
                    if (id == PW_ID_CORE && (res == -EPIPE || res == -ECONNRESET || res == -EACCES || res == -EPERM))
                        c->breakAll(res, message ? message : "");
                    pw()->threadLoopSignal(c->loop_, false);
                };
                return e;
            }();
            coreListener_ = {};
            pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
            registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
            static const pw_registry_events registryEvents = [] {
                pw_registry_events e{};
                e.version = PW_VERSION_REGISTRY_EVENTS;
                e.global = [](void* self, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
                    static_cast<Connection*>(self)->added(id, type, props);
                };
                e.global_remove = [](void* self, uint32_t id) { static_cast<Connection*>(self)->removed(id); };
                return e;
            }();
            registryListener_ = {};
            pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
            initial_ = true;
        }
        // Two round trips: the first brings the nodes, the second the formats they were asked for.
        for (int i = 0; i < 2 && !broken_; ++i) {
            if (!roundTrip()) {
                *problem = "PipeWire did not answer in time.";
                return false;
            }
        }
        initial_ = false;
        if (broken_) {
            *problem = brokenWhy_;
            return false;
        }
        return true;
    }

    pw_thread_loop* loop() const { return loop_; }
    pw_core* core() const { return core_; }
    const std::map<uint32_t, std::unique_ptr<Node>>& nodes() const { return nodes_; }
    const Node* node(const std::string& name) const {
        for (auto& [id, n] : nodes_)
            if (n->name == name) return n.get();
        return nullptr;
    }
    void addSource(PipeWireSource* s) { sources_.insert(s); }
    void removeSource(PipeWireSource* s) { sources_.erase(s); }

private:
    Connection() {
        if (!pw()) return;
        loop_ = pw()->threadLoopNew("tavrio-pipewire", nullptr);
        if (!loop_) return;
        context_ = pw()->contextNew(pw()->threadLoopGetLoop(loop_), nullptr, 0);
        if (!context_ || pw()->threadLoopStart(loop_) < 0) loop_ = nullptr;
    }

    bool roundTrip() {
        synced_ = false;
        pendingSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
        const int64_t deadline = monotonicNowNs() + 5'000'000'000;
        while (!synced_ && !broken_) {
            if (monotonicNowNs() > deadline) return false;
            pw()->threadLoopTimedWait(loop_, 1);
        }
        return true;
    }

    void added(uint32_t id, const char* type, const spa_dict* props) {
        if (!type || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props) return;
        const char* cls = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (!cls || std::strcmp(cls, "Video/Source") != 0) return;
        auto n = std::make_unique<Node>();
        n->id = id;
        auto get = [&](const char* key) {
            const char* v = spa_dict_lookup(props, key);
            return std::string(v ? v : "");
        };
        n->name = get(PW_KEY_NODE_NAME);
        n->description = get(PW_KEY_NODE_DESCRIPTION);
        if (n->description.empty()) n->description = get(PW_KEY_NODE_NICK);
        if (n->description.empty()) n->description = n->name;
        n->v4l2Path = get("api.v4l2.path");
        if (const std::string path = get(PW_KEY_OBJECT_PATH); n->v4l2Path.empty() && path.rfind("v4l2:/dev/", 0) == 0)
            n->v4l2Path = path.substr(5);
        if (n->name.empty()) return;
        // Its formats: asked of the node, answered before the next round trip's end.
        n->proxy = static_cast<pw_proxy*>(pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (n->proxy) {
            static const pw_node_events nodeEvents = [] {
                pw_node_events e{};
                e.version = PW_VERSION_NODE_EVENTS;
                e.param = [](void* self, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param) {
                    if (id == SPA_PARAM_EnumFormat && param) addFormats(param, static_cast<Node*>(self)->formats);
                };
                return e;
            }();
            pw_node_add_listener(reinterpret_cast<pw_node*>(n->proxy), &n->listener, &nodeEvents, n.get());
            pw_node_enum_params(reinterpret_cast<pw_node*>(n->proxy), 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
        }
        nodes_[id] = std::move(n);
        if (!initial_) backends::notifyChangeListeners();
    }

    void removed(uint32_t id);
    void breakAll(int res, const std::string& message);

    void disconnect() {
        for (auto& [id, n] : nodes_)
            if (n->proxy) pw()->proxyDestroy(n->proxy);
        nodes_.clear();
        if (registry_) pw()->proxyDestroy(reinterpret_cast<pw_proxy*>(registry_));
        registry_ = nullptr;
        if (core_) pw()->coreDisconnect(core_);
        core_ = nullptr;
        broken_ = false;
    }

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_registry* registry_ = nullptr;
    spa_hook coreListener_{}, registryListener_{};
    std::map<uint32_t, std::unique_ptr<Node>> nodes_;
    std::set<PipeWireSource*> sources_;
    int pendingSeq_ = -1;
    bool synced_ = false, broken_ = false, initial_ = false;
    std::string brokenWhy_;
};

// Pictures from a node: buffers are copied on PipeWire's thread (they go back to the producer at
// once) into a queue the capture thread reads, raw pictures as frames, MJPEG as packets decoded
// on the capture thread.
class PipeWireSource : public VideoSource {
public:
    ~PipeWireSource() override {
        interrupt();
        Connection& c = Connection::get();
        Connection::Lock lock(c);
        c.removeSource(this);
        if (stream_) pw()->streamDestroy(stream_);
    }

    bool open(const Node& node, const NodeFormat& want, const std::string& name, Error* error) {
        Connection& c = Connection::get();
        name_ = name;
        nodeId_ = node.id;
        auto* props = pw()->propertiesNew(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                          PW_KEY_MEDIA_ROLE, "Camera", nullptr);
        pw()->propertiesSet(props, PW_KEY_TARGET_OBJECT, node.name.c_str());
        // Another camera is never substituted for this one when it goes.
        pw()->propertiesSet(props, PW_KEY_NODE_DONT_RECONNECT, "true");
        stream_ = pw()->streamNew(c.core(), "Tavrio", props);
        if (!stream_) return fail(errno ? errno : EIO, "PipeWire refused the stream.", error);
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char* why) {
                static_cast<PipeWireSource*>(self)->stateChanged(state, why);
            };
            e.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
                static_cast<PipeWireSource*>(self)->formatChanged(id, param);
            };
            e.process = [](void* self) { static_cast<PipeWireSource*>(self)->process(); };
            return e;
        }();
        pw()->streamAddListener(stream_, &listener_, &events, this);
        c.addSource(this);

        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_pod_frame f;
        spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_add(&b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
                            SPA_POD_Id(want.subtype), 0);
        if (want.subtype == SPA_MEDIA_SUBTYPE_raw)
            spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_format, SPA_POD_Id(want.rawFormat), 0);
        const spa_rectangle size{uint32_t(want.size.width), uint32_t(want.size.height)};
        spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), 0);
        if (!want.rates.empty()) {
            spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&want.rates.front()), 0);
        } else {
            const spa_fraction def{30, 1}, lo{0, 1}, hi{240, 1};
            spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&def, &lo, &hi), 0);
        }
        const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &f))};
        int r =
            pw()->streamConnect(stream_, SPA_DIRECTION_INPUT, PW_ID_ANY,
                                pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        if (r < 0) return fail(-r, "PipeWire could not connect to " + name + ".", error);
        // Linked and a format agreed, or a reason why not.
        const int64_t deadline = monotonicNowNs() + 5'000'000'000;
        while (!streaming_ && failure_.code == 0) {
            if (monotonicNowNs() > deadline) return fail(ETIMEDOUT, name + " did not start within 5 seconds.", error);
            pw()->threadLoopTimedWait(c.loop(), 1);
        }
        if (failure_.code) {
            if (error) *error = failure_;
            return false;
        }
        return true;
    }

    bool read(VideoSample& out, Error* error) override {
        while (true) {
            Item item;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] { return stop_ || !queue_.empty() || queueFailure_.code; });
                if (stop_) return false;
                if (queue_.empty()) {
                    if (error) *error = queueFailure_;
                    return false;
                }
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            if (item.frame) {
                out.frame = shareFrame(item.frame.release());
            } else {
                // MJPEG: decoded here, off PipeWire's thread.
                if (!decoder_ && !openDecoder(error)) return false;
                if (avcodec_send_packet(decoder_.get(), item.packet.get()) < 0) continue;  // a torn picture
                av::Frame f = av::makeFrame();
                if (avcodec_receive_frame(decoder_.get(), f.get()) < 0) continue;
                out.frame = shareFrame(f.release());
            }
            out.timeNs = item.timeNs;
            out.sequence = item.sequence;
            return true;
        }
    }

    void interrupt() override {
        std::lock_guard lock(mutex_);
        stop_ = true;
        cv_.notify_all();
    }
    Size size() const override { return size_; }
    double frameRate() const override { return fps_; }

    // With the loop locked.
    void gone(int code, const std::string& why) {
        if (failure_.code) return;  // the first reason is the one that counts
        failure_ = {code, "The camera " + name_ + " stopped delivering pictures.", why, "Reconnect the camera."};
        std::lock_guard lock(mutex_);
        queueFailure_ = failure_;
        cv_.notify_all();
        pw()->threadLoopSignal(Connection::get().loop(), false);
    }
    uint32_t nodeId() const { return nodeId_; }

private:
    struct Item {
        av::Frame frame;
        av::Packet packet;
        int64_t timeNs = 0;
        int64_t sequence = 0;
    };

    bool fail(int code, const std::string& what, Error* error) {
        if (error) *error = Error{code, what, code ? std::strerror(code) : "", ""};
        return false;
    }

    bool openDecoder(Error* error) {
        const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!dec) {
            if (error) *error = errorFromAv(AVERROR_DECODER_NOT_FOUND, "The camera's pictures cannot be decoded.", "");
            return false;
        }
        decoder_.reset(avcodec_alloc_context3(dec));
        if (int r = avcodec_open2(decoder_.get(), dec, nullptr); r < 0) {
            if (error) *error = errorFromAv(r, "The camera's pictures cannot be decoded.", "");
            return false;
        }
        return true;
    }

    void stateChanged(pw_stream_state state, const char* why) {
        if (state == PW_STREAM_STATE_ERROR)
            gone(EIO, why ? why : "PipeWire reported an error.");
        else if (state == PW_STREAM_STATE_UNCONNECTED && streaming_)
            gone(ENODEV, name_ + " is no longer there.");
        pw()->threadLoopSignal(Connection::get().loop(), false);
    }

    void formatChanged(uint32_t id, const spa_pod* param) {
        if (id != SPA_PARAM_Format || !param) return;
        uint32_t mediaType = 0, subtype = 0;
        if (spa_format_parse(param, &mediaType, &subtype) < 0) return;
        spa_video_info info{};
        if (subtype == SPA_MEDIA_SUBTYPE_raw && spa_format_video_raw_parse(param, &info.info.raw) >= 0) {
            format_ = avPixelFormat(info.info.raw.format);
            size_ = {int(info.info.raw.size.width), int(info.info.raw.size.height)};
            setRate(info.info.raw.framerate);
        } else if (subtype == SPA_MEDIA_SUBTYPE_mjpg && spa_format_video_mjpg_parse(param, &info.info.mjpg) >= 0) {
            mjpeg_ = true;
            size_ = {int(info.info.mjpg.size.width), int(info.info.mjpg.size.height)};
            setRate(info.info.mjpg.framerate);
        } else {
            gone(EINVAL, "PipeWire agreed on a picture format this program cannot read.");
            return;
        }
        if (!mjpeg_ && format_ == AV_PIX_FMT_NONE) {
            gone(EINVAL, "PipeWire agreed on a picture format this program cannot read.");
            return;
        }
        streaming_ = true;
        pw()->threadLoopSignal(Connection::get().loop(), false);
    }

    void setRate(spa_fraction f) {
        if (f.num && f.denom) fps_ = double(f.num) / f.denom;
    }

    void process() {
        pw_buffer* b = pw()->streamDequeueBuffer(stream_);
        if (!b) return;
        const int64_t now = monotonicNowNs();
        Item item;
        item.timeNs = now;
        item.sequence = sequence_++;
        spa_buffer* sb = b->buffer;
        const bool ok = sb->n_datas > 0 && sb->datas[0].data && sb->datas[0].chunk &&
                        !(sb->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) &&
                        (mjpeg_ ? copyPacket(sb, item) : copyFrame(sb, item));
        pw()->streamQueueBuffer(stream_, b);
        if (!ok) return;
        std::lock_guard lock(mutex_);
        // A reader that fell behind loses the oldest pictures, as a driver's queue would; the gap
        // in the sequence counts them.
        if (queue_.size() >= 4) queue_.pop_front();
        queue_.push_back(std::move(item));
        cv_.notify_one();
    }

    bool copyPacket(spa_buffer* sb, Item& item) {
        const spa_data& d = sb->datas[0];
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        if (size == 0) return false;
        item.packet = av::makePacket();
        if (av_new_packet(item.packet.get(), int(size)) < 0) return false;
        std::memcpy(item.packet->data, static_cast<const uint8_t*>(d.data) + offset, size);
        return true;
    }

    bool copyFrame(spa_buffer* sb, Item& item) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format_);
        if (!desc || size_.empty()) return false;
        av::Frame f = av::makeFrame();
        f->format = format_;
        f->width = size_.width;
        f->height = size_.height;
        if (av_frame_get_buffer(f.get(), 0) < 0) return false;
        const int planes = av_pix_fmt_count_planes(format_);
        // Where each plane starts in the producer's buffer: in a data block of its own, or packed
        // one after another in the first at the chunk's stride.
        const spa_data& d0 = sb->datas[0];
        const int stride0 = d0.chunk->stride > 0 ? d0.chunk->stride : av_image_get_linesize(format_, size_.width, 0);
        const uint8_t* base = static_cast<const uint8_t*>(d0.data) + std::min(d0.chunk->offset, d0.maxsize);
        const uint8_t* end = static_cast<const uint8_t*>(d0.data) + d0.maxsize;
        const uint8_t* p = base;
        for (int i = 0; i < planes; ++i) {
            const int h = i == 0 ? size_.height : AV_CEIL_RSHIFT(size_.height, desc->log2_chroma_h);
            const int bytes = av_image_get_linesize(format_, size_.width, i);
            int stride;
            const uint8_t* src;
            const uint8_t* srcEnd;
            if (sb->n_datas > uint32_t(i) && i > 0 && sb->datas[i].data && sb->datas[i].chunk) {
                const spa_data& di = sb->datas[i];
                stride = di.chunk->stride > 0 ? di.chunk->stride : bytes;
                src = static_cast<const uint8_t*>(di.data) + std::min(di.chunk->offset, di.maxsize);
                srcEnd = static_cast<const uint8_t*>(di.data) + di.maxsize;
            } else {
                // Chroma planes of a 4:2:0 picture have half the luma stride (NV12 keeps it).
                stride = i == 0 ? stride0 : (format_ == AV_PIX_FMT_YUV420P ? stride0 / 2 : stride0);
                src = p;
                srcEnd = end;
            }
            if (stride < bytes || src + int64_t(stride) * (h - 1) + bytes > srcEnd) return false;
            av_image_copy_plane(f->data[i], f->linesize[i], src, stride, bytes, h);
            p = src + int64_t(stride) * h;
        }
        item.frame = std::move(f);
        return true;
    }

    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    std::string name_;
    uint32_t nodeId_ = 0;
    // Set on PipeWire's thread (with the loop locked) before `streaming_`, read after.
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    bool mjpeg_ = false;
    Size size_;
    double fps_ = 30;
    bool streaming_ = false;
    Error failure_;
    int64_t sequence_ = 0;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Item> queue_;  // under mutex_
    Error queueFailure_;      // under mutex_
    bool stop_ = false;       // under mutex_
    av::CodecContext decoder_;
};

void Connection::removed(uint32_t id) {
    auto it = nodes_.find(id);
    if (it == nodes_.end()) return;
    if (it->second->proxy) pw()->proxyDestroy(it->second->proxy);
    const std::string name = it->second->description;
    nodes_.erase(it);
    for (auto* s : sources_)
        if (s->nodeId() == id) s->gone(ENODEV, name + " was removed.");
    backends::notifyChangeListeners();
}

void Connection::breakAll(int res, const std::string& message) {
    if (broken_) return;
    broken_ = true;
    brokenWhy_ = "PipeWire closed the connection" + (message.empty() ? std::string(".") : ": " + message);
    for (auto* s : sources_) s->gone(-res, brokenWhy_);
    backends::notifyChangeListeners();
}

class PipeWireCamera : public CaptureDevice {
public:
    PipeWireCamera(const backends::Found& f, std::string nodeName)
        : CaptureDevice(f.id, f.name, MediaType::Video, false), nodeName_(std::move(nodeName)), v4l2Path_(f.node) {}

    std::vector<VideoFormat> formats() const override { return videoFormats(nodeFormats()); }
    std::string devicePath() const override { return v4l2Path_; }

    std::unique_ptr<VideoSource> openVideo(Size want, double fps, Error* error) override {
        if (!pw()) {
            if (error) *error = Error{ENOSYS, "Cannot open " + localizedName() + ".", loaded().problem, ""};
            return nullptr;
        }
        Connection& c = Connection::get();
        Connection::Lock lock(c);
        std::string problem;
        const Node* node = c.ready(&problem) ? c.node(nodeName_) : nullptr;
        if (!node) {
            if (error)
                *error =
                    Error{ENODEV, "Cannot open " + localizedName() + ".",
                          problem.empty() ? "PipeWire no longer has the camera." : problem, "Reconnect the camera."};
            return nullptr;
        }
        if (node->formats.empty()) {
            if (error)
                *error = Error{EINVAL, localizedName() + " offers no picture format this program can read.", "", ""};
            return nullptr;
        }
        // Chosen as for a V4L2 camera, then asked for with the node's own fractions.
        const VideoFormat picked = backends::pickFormat(videoFormats(node->formats), want, fps);
        NodeFormat ask;
        for (const auto& f : node->formats)
            if (pixelFormatName(f) == picked.pixelFormat && f.size == picked.size) ask = f;
        // The highest rate up to the one asked for; the slowest when all are faster.
        std::vector<spa_fraction> slower;
        for (auto r : ask.rates)
            if (double(r.num) / r.denom <= fps + 0.5) slower.push_back(r);
        if (!slower.empty())
            ask.rates = {slower.front()};
        else if (!ask.rates.empty())
            ask.rates = {ask.rates.back()};
        auto src = std::make_unique<PipeWireSource>();
        if (!src->open(*node, ask, localizedName(), error)) return nullptr;
        return src;
    }

private:
    std::vector<NodeFormat> nodeFormats() const {
        if (!pw()) return {};
        Connection& c = Connection::get();
        if (!c.loop()) return {};
        Connection::Lock lock(c);
        const Node* n = c.node(nodeName_);
        return n ? n->formats : std::vector<NodeFormat>{};
    }

    std::string nodeName_;
    std::string v4l2Path_;
};

}  // namespace

namespace backends {

std::vector<Found> findPipeWireCameras() {
    if (!pw()) return {};
    Connection& c = Connection::get();
    if (!c.loop()) return {};
    Connection::Lock lock(c);
    std::string problem;
    if (!c.ready(&problem)) return {};
    std::vector<Found> out;
    for (const auto& [id, n] : c.nodes()) {
        // Nodes this program cannot read, such as a screen cast's, are not cameras to it.
        if (n->formats.empty()) continue;
        out.push_back({"pipewire:" + n->name, n->description, n->v4l2Path});
    }
    return out;
}

std::shared_ptr<CaptureDevice> makePipeWireCamera(const Found& f) {
    return std::make_shared<PipeWireCamera>(f, f.id.substr(std::strlen("pipewire:")));
}

std::string pipeWireProblem() {
    if (!pw()) return loaded().problem;
    Connection& c = Connection::get();
    if (!c.loop()) return "PipeWire's thread could not be started.";
    Connection::Lock lock(c);
    std::string problem;
    c.ready(&problem);
    return problem;
}

}  // namespace backends

}  // namespace media

#endif
