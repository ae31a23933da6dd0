#include "media/ExportPresets.h"

#include <algorithm>
#include <cmath>

#include "media/ExportSession.h"

namespace media {

namespace {

struct Box {
    int longSide, shortSide;
};

bool presetBox(const std::string& preset, Box& box) {
    if (preset == kExportPreset960x540)
        box = {960, 540};
    else if (preset == kExportPreset640x480)
        box = {640, 480};
    else if (preset == kExportPresetMediumQuality)
        box = {480, 360};
    else
        return false;
    return true;
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

bool isKnownExportPreset(const std::string& p) {
    Box b;
    return p == kExportPresetHighestQuality || p == kExportPresetPassthrough || presetBox(p, b);
}

std::string exportPresetForSource(const std::string& preset, Size source) {
    // The boxed presets from best to worst; MediumQuality fits any picture.
    const char* const boxed[] = {kExportPreset960x540, kExportPreset640x480};
    bool worse = false;
    for (const char* p : boxed) {
        worse = worse || preset == p;
        Box box;
        if (worse && presetBox(p, box) && fills(source, box)) return p;
    }
    return worse ? kExportPresetMediumQuality : preset;
}

Size exportOutputSize(const std::string& chosen, Size source) {
    if (source.empty()) return {};
    if (!isKnownExportPreset(chosen)) return {};
    const std::string preset = exportPresetForSource(chosen, source);
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

std::vector<std::string> ExportSession::allExportPresets() {
    return {kExportPresetHighestQuality, kExportPreset960x540, kExportPreset640x480, kExportPresetMediumQuality,
            kExportPresetPassthrough};
}

std::vector<std::string> ExportSession::exportPresetsCompatibleWithAsset(const Asset& asset) {
    std::vector<std::string> out{kExportPresetHighestQuality};
    auto video = asset.tracksWithMediaType(MediaType::Video);
    if (!video.empty()) {
        for (const char* p : {kExportPreset960x540, kExportPreset640x480}) {
            Box b;
            presetBox(p, b);
            if (fills(video.front().naturalSize, b)) out.push_back(p);
        }
    }
    out.push_back(kExportPresetMediumQuality);
    out.push_back(kExportPresetPassthrough);
    return out;
}

}  // namespace media
