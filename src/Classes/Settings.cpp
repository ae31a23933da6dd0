#include "Settings.h"

#include "media/ExportPresets.h"
#include "platform/Defaults.h"
#include "media/Asset.h"

namespace settings {

const QList<Option>& resolutionOptions() {
    static const QList<Option> options{
        {0, QStringLiteral("High"), QStringLiteral("High"), QStringLiteral("high"), media::CapturePreset::High},
        {1, QStringLiteral("640x480"), QStringLiteral("640x480"), QStringLiteral("640x480"),
         media::CapturePreset::Size640x480},
        {2, QStringLiteral("Medium"), QStringLiteral("Medium"), QStringLiteral("medium"), media::CapturePreset::Medium},
        {3, QStringLiteral("Low"), QStringLiteral("Low"), QStringLiteral("low"), media::CapturePreset::Low},
    };
    return options;
}

const QList<Option>& exportOptions() {
    static const QList<Option> options{
        {0,
         QStringLiteral("Best Quality"),
         QStringLiteral("Best"),
         QStringLiteral("best"),
         {},
         media::ExportPreset::HighestQuality},
        {1,
         QStringLiteral("Good Quality"),
         QStringLiteral("Good"),
         QStringLiteral("good"),
         {},
         media::ExportPreset::Box960x540},
        {2,
         QStringLiteral("Medium Quality"),
         QStringLiteral("Average"),
         QStringLiteral("average"),
         {},
         media::ExportPreset::Box640x480},
        {3,
         QStringLiteral("Low Quality"),
         QStringLiteral("Low"),
         QStringLiteral("low"),
         {},
         media::ExportPreset::MediumQuality},
    };
    return options;
}

const QList<Option>& rescaleOptions() {
    static const QList<Option> options{
        {kRescaleGood, QStringLiteral("Good"), QStringLiteral("Good"), QStringLiteral("good")},
        {kRescaleBest, QStringLiteral("Best"), QStringLiteral("Best"), QStringLiteral("best")},
    };
    return options;
}

const Option& optionForValue(const QList<Option>& options, qint64 value) {
    for (const Option& o : options)
        if (o.value == value) return o;
    return options.front();
}

const Option* optionForWord(const QList<Option>& options, const QString& word) {
    for (const Option& o : options)
        if (o.word.compare(word, Qt::CaseInsensitive) == 0) return &o;
    return nullptr;
}

QString optionWords(const QList<Option>& options) {
    QStringList words;
    for (const Option& o : options) words << o.word;
    return words.join(QLatin1Char('|'));
}

QStringList optionKeys() {
    return {QLatin1String(kResolutionOpt), QLatin1String(kExportOpt), QLatin1String(kRescaleOpt)};
}

const QList<Option>* optionsFor(const QString& key) {
    if (key == QLatin1String(kResolutionOpt)) return &resolutionOptions();
    if (key == QLatin1String(kExportOpt)) return &exportOptions();
    if (key == QLatin1String(kRescaleOpt)) return &rescaleOptions();
    return nullptr;
}

int effectiveValue(const QString& key, qint64 stored) {
    const QList<Option>* options = optionsFor(key);
    if (!options) return 0;
    if (key == QLatin1String(kRescaleOpt)) return rescaleIsBest(stored) ? kRescaleBest : kRescaleGood;
    return optionForValue(*options, stored).value;
}

QString listLabel(const QString& key, qint64 value) {
    const QList<Option>* options = optionsFor(key);
    if (!options) return QString();
    return optionForValue(*options, effectiveValue(key, value)).listLabel;
}

bool isInTable(const QString& key, qint64 value) {
    const QList<Option>* options = optionsFor(key);
    if (!options) return false;
    for (const Option& o : *options)
        if (o.value == value) return true;
    return false;
}

QString validValues(const QString& key) {
    const QList<Option>* options = optionsFor(key);
    if (!options) return QString();
    QStringList values;
    for (const Option& o : *options) values << QStringLiteral("%1 (%2)").arg(o.value).arg(o.listLabel);
    return values.join(QStringLiteral(", "));
}

bool rescaleIsBest(qint64 value) {
    return value >= kRescaleBest;
}

media::CapturePreset getSessionPresetFromSettings() {
    const qint64 value = platform::Defaults::standard().integerForKey(QLatin1String(kResolutionOpt));
    return optionForValue(resolutionOptions(), value).capturePreset;
}

media::ExportPreset getExportPresetFromSettings(const media::Asset* asset) {
    return exportPresetForOption(platform::Defaults::standard().integerForKey(QLatin1String(kExportOpt)), asset);
}

media::ExportPreset exportPresetForOption(qint64 option, const media::Asset* asset) {
    using media::ExportPreset;
    const ExportPreset preset = optionForValue(exportOptions(), option).exportPreset;
    if (preset == ExportPreset::HighestQuality || preset == ExportPreset::MediumQuality) return preset;
    if (!asset) return ExportPreset::MediumQuality;
    // A boxed preset the picture does not fill gives the next smaller box it fills, never less
    // than the worse choices give.
    const auto video = asset->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) return ExportPreset::MediumQuality;
    return media::exportPresetForSource(preset, video.front().naturalSize);
}

QString exportSizesText(int width, int height) {
    QStringList parts;
    for (const Option& o : exportOptions()) {
        const media::Size size = media::exportOutputSize(o.exportPreset, {width, height});
        parts << QStringLiteral("%1 %2x%3").arg(o.detailLabel).arg(size.width).arg(size.height);
    }
    return parts.join(QStringLiteral(", "));
}

}  // namespace settings
