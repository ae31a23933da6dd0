#include "media/ExportPresets.h"

#include <algorithm>
#include <cmath>

#include "media/ExportSession.h"

namespace media {

namespace {

struct Box {
    int longSide = 0, shortSide = 0;
};

bool presetBox(ExportPreset preset, Box& box) {
    switch (preset) {
    case ExportPreset::Box960x540: box = {960, 540}; return true;
    case ExportPreset::Box640x480: box = {640, 480}; return true;
    case ExportPreset::MediumQuality: box = {480, 360}; return true;
    case ExportPreset::HighestQuality:
    case ExportPreset::Passthrough: return false;
    }
    return false;
}

// Whether the picture fills the box (turned to the picture's orientation): the preset then
// makes it no larger than it is.
bool fills(Size source, Box box) {
    const int longSide = std::max(source.width, source.height), shortSide = std::min(source.width, source.height);
    return longSide >= box.longSide && shortSide >= box.shortSide;
}

int evenAtLeastTwo(double v) {
    return std::max(2, 2 * static_cast<int>(std::lround(v / 2)));
}

}  // namespace

const char* exportPresetName(ExportPreset preset) {
    switch (preset) {
    case ExportPreset::HighestQuality: return "HighestQuality";
    case ExportPreset::Box960x540: return "960x540";
    case ExportPreset::Box640x480: return "640x480";
    case ExportPreset::MediumQuality: return "MediumQuality";
    case ExportPreset::Passthrough: return "Passthrough";
    }
    return "?";
}

ExportPreset exportPresetForSource(ExportPreset preset, Size source) {
    // The boxed presets from best to worst; MediumQuality fits any picture.
    bool worse = false;
    for (const ExportPreset p : {ExportPreset::Box960x540, ExportPreset::Box640x480}) {
        worse = worse || preset == p;
        Box box;
        if (worse && presetBox(p, box) && fills(source, box)) return p;
    }
    return worse ? ExportPreset::MediumQuality : preset;
}

Size exportOutputSize(ExportPreset chosen, Size source) {
    if (source.empty()) return {};
    const ExportPreset preset = exportPresetForSource(chosen, source);
    double scale = 1;
    Box box;
    if (presetBox(preset, box)) {
        // The box turns with the picture: a portrait picture fits a portrait box.
        const bool portrait = source.height > source.width;
        const double bw = portrait ? box.shortSide : box.longSide, bh = portrait ? box.longSide : box.shortSide;
        scale = std::min({1.0, bw / source.width, bh / source.height});
    }
    return {evenAtLeastTwo(source.width * scale), evenAtLeastTwo(source.height * scale)};
}

std::vector<ExportPreset> ExportSession::exportPresetsCompatibleWithAsset(const Asset& asset) {
    std::vector<ExportPreset> out{ExportPreset::HighestQuality};
    auto video = asset.tracksWithMediaType(MediaType::Video);
    if (!video.empty()) {
        for (const ExportPreset p : {ExportPreset::Box960x540, ExportPreset::Box640x480}) {
            Box b;
            presetBox(p, b);
            if (fills(video.front().naturalSize, b)) out.push_back(p);
        }
    }
    out.push_back(ExportPreset::MediumQuality);
    out.push_back(ExportPreset::Passthrough);
    return out;
}

}  // namespace media
