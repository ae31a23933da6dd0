#pragma once
// The capture session's presets: what a camera is asked for. The engine takes them as this enum;
// the settings store their own integers and the command line its own words for them.

namespace media {

// Best first. High is the camera's best mode up to 1920x1080; the others are fixed sizes.
enum class CapturePreset { High, Size640x480, Medium, Low };

// "High", "640x480", "Medium", "Low": for log lines and messages.
inline const char* capturePresetName(CapturePreset preset) {
    switch (preset) {
    case CapturePreset::High: return "High";
    case CapturePreset::Size640x480: return "640x480";
    case CapturePreset::Medium: return "Medium";
    case CapturePreset::Low: return "Low";
    }
    return "?";
}

}  // namespace media
