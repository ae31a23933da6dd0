#pragma once
// The user settings: their keys in the defaults store and the option tables behind them.
// The stored integer of an option setting is its row on the settings detail screen.

#include <QList>
#include <QString>
#include <QStringList>
#include <string>

#include "media/CapturePresets.h"
#include "media/ExportPresets.h"

namespace media {
class Asset;
}

namespace settings {

inline constexpr char kNotFirstTimeVersion2[] = "notFirstTimeVersion2";  // bool, first-run marker
inline constexpr char kResolutionOpt[] = "resolutionOpt";                // 0-3, recording quality
inline constexpr char kExportOpt[] = "exportOpt";                        // 0-3, export preset
inline constexpr char kRescaleOpt[] = "rescaleOpt";                      // 0-1, rescale quality
// The devices the user chose, by their stable ids; "none" for no microphone. Missing: the first
// real device.
inline constexpr char kCameraDevice[] = "cameraDevice";
inline constexpr char kMicrophoneDevice[] = "microphoneDevice";

// Values of the rescale setting.
inline constexpr int kRescaleGood = 0;  // transform ramps, bilinear
inline constexpr int kRescaleBest = 1;  // layer animations, high-quality resampling

struct Option {
    int value;
    QString listLabel;    // shown on the settings list
    QString detailLabel;  // shown on the detail screen
    QString word;         // the command line's name for it ("high", "best", ...)
    // The engine preset it selects: a capture preset for resolutions, the preferred export
    // preset for exports (an asset too small for it gets a smaller box).
    media::CapturePreset capturePreset = media::CapturePreset::High;
    media::ExportPreset exportPreset = media::ExportPreset::HighestQuality;
};

const QList<Option>& resolutionOptions();
const QList<Option>& exportOptions();
const QList<Option>& rescaleOptions();

// The row holding `value`; row 0 (the default choice) for values not in the table.
const Option& optionForValue(const QList<Option>& options, qint64 value);
// The row the command line's `word` names (case-insensitive); nullptr for none.
const Option* optionForWord(const QList<Option>& options, const QString& word);
// "high|640x480|medium|low": the words of a table, for usage lines.
QString optionWords(const QList<Option>& options);

// The three option keys, in settings-list order.
QStringList optionKeys();
// The option table of an option key; nullptr for any other key.
const QList<Option>* optionsFor(const QString& key);
// The option a stored value actually selects: the value itself when it is in the key's table;
// otherwise what the readers do with it (row 0 for resolution and export, Good below 1 and Best
// from 1 on for rescaling). A value edited by hand into the settings file thus shows as what it
// does.
int effectiveValue(const QString& key, qint64 stored);
// The settings list's label of a stored value: that of effectiveValue().
QString listLabel(const QString& key, qint64 value);
// Whether `value` is one of the key's table (the only values the programs store).
bool isInTable(const QString& key, qint64 value);
// "0 (High), 1 (640x480), 2 (Medium), 3 (Low)": a key's valid values, for messages.
QString validValues(const QString& key);

// Whether the export uses the high-quality rescaling composition (any value not below 1).
bool rescaleIsBest(qint64 value);

// The capture preset of the stored "resolutionOpt" (High for any value outside 0-3).
media::CapturePreset getSessionPresetFromSettings();
// The export preset of the stored "exportOpt" for `asset`: Best for 0 and anything outside 0-3;
// for 960x540 / 640x480 the largest of that box and the worse ones that the picture fills
// (media::exportPresetForSource), else Medium; Medium for 3 whatever the asset.
media::ExportPreset getExportPresetFromSettings(const media::Asset* asset);
media::ExportPreset exportPresetForOption(qint64 option, const media::Asset* asset);
// The picture each export choice gives a source picture of `width` x `height`, best choice
// first: "Best 1280x720, Good 960x540, Average 640x360, Low 480x270".
QString exportSizesText(int width, int height);

}  // namespace settings
