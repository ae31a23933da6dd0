#include "Settings.h"

namespace settings {

const QList<Option>& resolutionOptions() {
    static const QList<Option> options{
        {0, QStringLiteral("High"), QStringLiteral("High")},
        {1, QStringLiteral("640x480"), QStringLiteral("640x480")},
        {2, QStringLiteral("Medium"), QStringLiteral("Medium")},
        {3, QStringLiteral("Low"), QStringLiteral("Low")},
    };
    return options;
}

const QList<Option>& exportOptions() {
    static const QList<Option> options{
        {0, QStringLiteral("Best Quality"), QStringLiteral("Best")},
        {1, QStringLiteral("Good Quality"), QStringLiteral("Good")},
        {2, QStringLiteral("Medium Quality"), QStringLiteral("Average")},
        {3, QStringLiteral("Low Quality"), QStringLiteral("Low")},
    };
    return options;
}

const QList<Option>& rescaleOptions() {
    static const QList<Option> options{
        {0, QStringLiteral("Good"), QStringLiteral("Good")},
        {1, QStringLiteral("Best"), QStringLiteral("Best")},
    };
    return options;
}

QStringList optionKeys() {
    return {QLatin1String(kResolutionOpt), QLatin1String(kExportOpt), QLatin1String(kRescaleOpt)};
}

const QList<Option>* optionsFor(const QString& key) {
    if (key == QLatin1String(kResolutionOpt))
        return &resolutionOptions();
    if (key == QLatin1String(kExportOpt))
        return &exportOptions();
    if (key == QLatin1String(kRescaleOpt))
        return &rescaleOptions();
    return nullptr;
}

QString listLabel(const QString& key, qint64 value) {
    const QList<Option>* options = optionsFor(key);
    if (!options)
        return QString();
    if (key == QLatin1String(kRescaleOpt))
        return options->at(value == 0 ? 0 : 1).listLabel;
    // The list shows the first three labels for 0-2 and the last for anything else, so a
    // stored value out of range still reads as an option.
    return options->at(value >= 0 && value <= 2 ? int(value) : 3).listLabel;
}

bool rescaleIsBest(qint64 value) {
    return value >= 1;
}

}  // namespace settings
