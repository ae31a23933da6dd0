// Real microphones. With a sound server running, its sources are the microphones (it owns the
// hardware and mixes for every program); without one, the ALSA capture PCMs are. Both come through
// libavdevice as interleaved 16-bit sound.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

extern "C" {}

#include "media/FFmpeg.h"
#include "media/capture/AvDevice.h"
#include "media/capture/DeviceBackends.h"

namespace media {

namespace {

bool soundServerSocketExists() {
    struct stat st {};
    if (const char* s = std::getenv("PULSE_SERVER"); s && *s) return true;
    std::string runtime =
        std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "/run/user/" + std::to_string(::getuid());
    // PipeWire's PulseAudio service listens on the same socket.
    return ::stat((runtime + "/pulse/native").c_str(), &st) == 0 || ::stat("/var/run/pulse/native", &st) == 0;
}

std::vector<backends::Found> listSources(const char* format, const std::string& prefix) {
    std::vector<backends::Found> out;
    const backends::AvDevice* avdevice = backends::avDevice();
    if (!avdevice) return out;
    const AVInputFormat* in = av_find_input_format(format);
    if (!in) return out;
    AVDeviceInfoList* list = nullptr;
    if (avdevice->listInputSources(in, nullptr, nullptr, &list) < 0 || !list) return out;
    for (int i = 0; i < list->nb_devices; ++i) {
        const AVDeviceInfo* d = list->devices[i];
        if (!d->device_name) continue;
        std::string name = d->device_name;
        // The null sink is no microphone; monitors record what the speakers play, not a voice.
        if (name == "null" || name.find(".monitor") != std::string::npos) continue;
        bool isInput = d->nb_media_types == 0;
        for (int t = 0; t < d->nb_media_types; ++t)
            if (d->media_types[t] == AVMEDIA_TYPE_AUDIO) isInput = true;
        if (!isInput) continue;
        std::string desc = d->device_description ? d->device_description : name;
        auto nl = desc.find('\n');
        if (nl != std::string::npos) desc = desc.substr(0, nl) + " (" + desc.substr(nl + 1) + ")";
        out.push_back({prefix + name, desc, {}});
    }
    avdevice->freeListDevices(&list);
    return out;
}

class DeviceAudioSource : public AudioSource {
public:
    bool open(const char* format, const std::string& name, Error* error) {
        if (!backends::avDevice()) {
            if (error) *error = Error{ENOSYS, "The microphone cannot be opened.", backends::avDeviceProblem(), ""};
            return false;
        }
        const AVInputFormat* in = av_find_input_format(format);
        if (!in) {
            if (error) *error = Error{ENOSYS, std::string("This FFmpeg has no ") + format + " input.", "", ""};
            return false;
        }
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "sample_rate", "48000", 0);
        av_dict_set(&opts, "channels", "2", 0);
        // Small fragments keep the sound's timestamps close to when it was heard.
        if (std::string(format) == "pulse") av_dict_set(&opts, "fragment_size", "3840", 0);
        AVFormatContext* ctx = avformat_alloc_context();
        ctx->interrupt_callback.callback = [](void* self) {
            return static_cast<DeviceAudioSource*>(self)->stop_.load() ? 1 : 0;
        };
        ctx->interrupt_callback.opaque = this;
        int r = avformat_open_input(&ctx, name.c_str(), in, &opts);
        av_dict_free(&opts);
        if (r < 0) {
            if (error) *error = errorFromAv(r, "Cannot open the microphone " + name + ".", "Check the sound settings.");
            return false;
        }
        input_.reset(ctx);
        if (ctx->nb_streams < 1 || ctx->streams[0]->codecpar->codec_id != AV_CODEC_ID_PCM_S16LE) {
            if (error) *error = Error{AVERROR_INVALIDDATA, "The microphone delivers an unexpected format.", "", ""};
            return false;
        }
        rate_ = ctx->streams[0]->codecpar->sample_rate;
        channels_ = ctx->streams[0]->codecpar->ch_layout.nb_channels;
        if (rate_ <= 0 || channels_ <= 0) {
            if (error) *error = Error{AVERROR_INVALIDDATA, "The microphone reports no sound format.", "", ""};
            return false;
        }
        packet_ = av::makePacket();
        return true;
    }

    bool read(AudioSample& out, Error* error) override {
        while (!stop_) {
            int r = av_read_frame(input_.get(), packet_.get());
            if (r == AVERROR(EAGAIN)) continue;
            if (r < 0) {
                if (stop_) return false;
                if (error)
                    *error = errorFromAv(r, "The microphone stopped delivering sound.", "Reconnect the microphone.");
                return false;
            }
            int frames = packet_->size / (2 * channels_);
            out.sampleRate = rate_;
            out.channels = channels_;
            out.samples.assign(reinterpret_cast<const int16_t*>(packet_->data),
                               reinterpret_cast<const int16_t*>(packet_->data) + size_t(frames) * channels_);
            // The packet ends now; its first sample was heard a packet's duration ago.
            out.timeNs = monotonicNowNs() - int64_t(frames) * 1000000000LL / rate_;
            av_packet_unref(packet_.get());
            if (frames > 0) return true;
        }
        return false;
    }
    void interrupt() override { stop_ = true; }
    int sampleRate() const override { return rate_; }
    int channels() const override { return channels_; }

private:
    av::InputContext input_;
    av::Packet packet_;
    int rate_ = 0, channels_ = 0;
    std::atomic<bool> stop_{false};
};

class Microphone : public CaptureDevice {
public:
    explicit Microphone(const backends::Found& f) : CaptureDevice(f.id, f.name, MediaType::Audio, false) {}
    std::unique_ptr<AudioSource> openAudio(Error* error) override {
        const std::string& id = uniqueID();
        auto colon = id.find(':');
        std::string format = id.substr(0, colon);
        auto src = std::make_unique<DeviceAudioSource>();
        if (!src->open(format.c_str(), id.substr(colon + 1), error)) return nullptr;
        return src;
    }
};

}  // namespace

namespace backends {

std::vector<Found> findMicrophones() {
    if (soundServerSocketExists()) {
        auto list = listSources("pulse", "pulse:");
        if (!list.empty()) return list;
    }
    auto list = listSources("alsa", "alsa:");
    // ALSA's plug-in names ("default", "sysdefault", "dsnoop"...) also appear without any sound
    // card; only names tied to a card are real microphones.
    // One entry per card and device: the plug form converts rate and channels as asked.
    std::vector<Found> real;
    for (const char* prefix : {"alsa:plughw:CARD=", "alsa:sysdefault:CARD="}) {
        for (auto& f : list)
            if (f.id.rfind(prefix, 0) == 0) real.push_back(f);
        if (!real.empty()) break;
    }
    return real;
}

std::shared_ptr<CaptureDevice> makeMicrophone(const Found& f) {
    return std::make_shared<Microphone>(f);
}

}  // namespace backends

}  // namespace media
