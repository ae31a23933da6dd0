#pragma once
// Capture-session preset names. The capture session interprets them; the app only stores and
// passes them, so they are plain strings the engine owns.

namespace media {

inline constexpr char kCapturePresetHigh[] = "High";
inline constexpr char kCapturePreset640x480[] = "640x480";
inline constexpr char kCapturePresetMedium[] = "Medium";
inline constexpr char kCapturePresetLow[] = "Low";

}  // namespace media
