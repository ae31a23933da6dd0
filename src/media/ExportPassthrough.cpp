// Passthrough: the compressed samples copied unchanged into a new movie, with the display matrix
// the session was given.

#include <cstring>

#include "media/ExportInternal.h"
#include "media/MediaInternal.h"

namespace media {

using namespace exportio;

void ExportSession::Impl::runPassthrough() {
    av::InputContext in;
    if (Error e = internal::openInput(asset->path(), in)) {
        fail(e);
        return;
    }
    av::OutputContext out;
    if (!openOutput(*this, outputPath, out)) return;
    std::vector<int> map(in->nb_streams, -1);
    std::vector<int> used;
    bool firstVideo = true;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* ist = in->streams[i];
        const auto type = ist->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) || ist->codecpar->codec_id == AV_CODEC_ID_NONE ||
            (ist->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        AVStream* ost = avformat_new_stream(out.get(), nullptr);
        if (!ost || avcodec_parameters_copy(ost->codecpar, ist->codecpar) < 0) {
            failAv(AVERROR(ENOMEM), "The movie could not be exported.");
            return;
        }
        chooseCodecTag(out.get(), ost->codecpar);
        ost->time_base = ist->time_base;
        ost->disposition = ist->disposition;
        if (AVDictionaryEntry* lang = av_dict_get(ist->metadata, "language", nullptr, 0))
            av_dict_set(&ost->metadata, "language", lang->value, 0);
        if (type == AVMEDIA_TYPE_VIDEO) {
            size_t n = 0;
            const uint8_t* sd = av_stream_get_side_data(ist, AV_PKT_DATA_DISPLAYMATRIX, &n);
            bool ok = true;
            if (firstVideo && passthroughTransform)
                ok = internal::setStreamDisplayMatrix(ost, *passthroughTransform);
            else if (sd && n >= 36) {
                uint8_t* copy = av_stream_new_side_data(ost, AV_PKT_DATA_DISPLAYMATRIX, n);
                if (copy) memcpy(copy, sd, n);
                ok = copy != nullptr;
            }
            if (!ok) {
                failAv(AVERROR(ENOMEM), "The movie could not be exported.");
                return;
            }
            firstVideo = false;
        }
        map[i] = ost->index;
        used.push_back(static_cast<int>(i));
    }
    if (used.empty()) {
        fail(plainError(AVERROR_STREAM_NOT_FOUND, "The movie could not be exported.",
                        "The movie has no sound or picture that can be copied.", kReadSuggestion));
        return;
    }
    if (!checkNotTruncated(*this, in.get(), used)) return;
    if (!startWriting(*this, out.get(), outputPath)) return;

    const double total =
        asset->duration().isValid() && asset->duration().seconds() > 0 ? asset->duration().seconds() : 0;
    av::Packet pkt = av::makePacket();
    int64_t copied = 0;
    for (;;) {
        if (stopping()) return;
        int r = av_read_frame(in.get(), pkt.get());
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            failAv(r, "The movie could not be read.", kReadSuggestion);
            return;
        }
        const int idx = pkt->stream_index;
        if (idx < 0 || idx >= static_cast<int>(map.size()) || map[idx] < 0) {
            av_packet_unref(pkt.get());
            continue;
        }
        AVStream* ist = in->streams[idx];
        AVStream* ost = out->streams[map[idx]];
        if (total > 0 && pkt->pts != AV_NOPTS_VALUE) setProgress(pkt->pts * av_q2d(ist->time_base) / total);
        av_packet_rescale_ts(pkt.get(), ist->time_base, ost->time_base);
        pkt->stream_index = ost->index;
        pkt->pos = -1;
        r = writePacket(out.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (r < 0) {
            failWrite(*this, out.get(), r);
            return;
        }
        ++copied;
    }
    if (stopping()) return;
    if (copied == 0) {
        // A damaged index can list tracks whose samples are not there: the copy would be a
        // movie without a single track.
        fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                        "Not one of its samples could be read.", kReadSuggestion));
        return;
    }
    finishWriting(*this, out.get());
}

}  // namespace media
