#include "SettingsDetailController.h"

#include "SettingsStyle.h"
#include "ZoomSettingsController.h"

#include "MovieInfo.h"
#include "Settings.h"
#include "ZoomTrack.h"
#include "MediaStore.h"
#include "TavrioCaptureManager.h"
#include "platform/Background.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "ui/Fonts.h"

#include <QFileInfo>
#include <QLabel>

SettingsDetailController::SettingsDetailController(int descId, ZoomSettingsController* prevCtrl, QWidget* parent)
    : ui::ViewController(parent), descId_(descId), prevCtrl_(prevCtrl) {
    setTitle(QStringLiteral("Detail"));
    setBackgroundColor(settingsstyle::kBackground);

    const QString key = keyForDescId(descId_);
    // A value outside the table (edited by hand) checks the option that is actually used.
    rowSelected_ = key.isEmpty() ? 0 : settings::effectiveValue(key, platform::Defaults::standard().integerForKey(key));

    const int rows = static_cast<int>(optionsForDescId(descId_).size());
    const double tableHeight = 18.0 + rows * 44.0;
    settingsDetail_ = new ui::TableView(this);
    settingsDetail_->setAccessibleName(QStringLiteral("Options"));
    settingsstyle::styleTable(settingsDetail_);
    addSubview(settingsDetail_, QRectF(0, 0, 320, tableHeight));

    descriptionLabel_ = new QLabel(descriptionForDescId(descId_), this);
    descriptionLabel_->setWordWrap(true);
    descriptionLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    descriptionLabel_->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(ui::theme::kText.name()));
    descriptionLabel_->setAccessibleName(QStringLiteral("Description"));
    descriptionLabel_->setAccessibleDescription(descriptionLabel_->text());
    ui::Fonts::set(descriptionLabel_, 14);
    addSubview(descriptionLabel_, QRectF(20, tableHeight + 14, 280, 120));

    if (descId_ == 2) showExportSizes(tableHeight + 14 + 84);  // under the four lines above

    settingsDetail_->setDataSource(this);
    // The keyboard starts on the stored choice.
    if (rowSelected_ >= 0 && rowSelected_ < rows) settingsDetail_->setCurrentRow({0, rowSelected_});
}

void SettingsDetailController::showExportSizes(double y) {
    // Until the newest recording's size is known (read off the UI thread), a common one.
    footerLabel_ =
        new QLabel(QStringLiteral("For a 1280x720 recording: %1.").arg(settings::exportSizesText(1280, 720)), this);
    footerLabel_->setWordWrap(true);
    footerLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    footerLabel_->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(ui::theme::kText.name()));
    footerLabel_->setAccessibleName(QStringLiteral("Export sizes"));
    ui::Fonts::set(footerLabel_, 13);
    addSubview(footerLabel_, QRectF(20, y, 280, 70));
    platform::Background::run(
        footerLabel_,
        [] {
            const QString newest = MediaStore::newestEntryIn(MediaStore::baseDirForOriginalVideos());
            if (newest.isEmpty()) return QString();
            const std::optional<MovieInfo> info = MovieInfo::read(newest);
            if (!info || !info->video) return QString();
            return QStringLiteral("For your newest recording, %1 (%2x%3): %4.")
                .arg(QFileInfo(newest).fileName())
                .arg(info->video->width)
                .arg(info->video->height)
                .arg(settings::exportSizesText(info->video->width, info->video->height));
        },
        [label = footerLabel_](const QString& text) {
            if (!text.isEmpty()) label->setText(text);
        },
        platform::Background::Lane::Normal, "newest recording's size");
}

SettingsDetailController::~SettingsDetailController() {
    settingsDetail_->setDataSource(nullptr);
}

QString SettingsDetailController::keyForDescId(int descId) {
    switch (descId) {
    case 1: return QLatin1String(settings::kResolutionOpt);
    case 2: return QLatin1String(settings::kExportOpt);
    case 3: return QLatin1String(settings::kRescaleOpt);
    default: return {};
    }
}

QString SettingsDetailController::descriptionForDescId(int descId) {
    switch (descId) {
    case 1: {
        // What "High" is for the camera in use: its best mode up to 1920x1080 at up to 30 fps.
        QString text = QStringLiteral(
            "High quality means recording at the camera's highest resolution up to 1920x1080, at up to 30 fps.");
        if (const auto* camera = TavrioCaptureManager::chosenDevice(true))
            text += QStringLiteral(" For %1 it is %2.").arg(camera->name, TavrioCaptureManager::highModeText(*camera));
        return text;
    }
    case 2:
        return QStringLiteral(
            "Better export preset implies more file size in bytes at the expense of little better quality. "
            "Choose a lower preset to save disk space.");
    case 3: return QStringLiteral("Choosing higher rescaling quality will increase export time.");
    default: return {};
    }
}

QStringList SettingsDetailController::optionsForDescId(int descId) {
    const QList<settings::Option>* options = settings::optionsFor(keyForDescId(descId));
    QStringList labels;
    if (options)
        for (const settings::Option& o : *options) labels << o.detailLabel;
    return labels;
}

int SettingsDetailController::numberOfSections(ui::TableView*) {
    return 1;
}

int SettingsDetailController::numberOfRows(ui::TableView*, int) {
    return static_cast<int>(optionsForDescId(descId_).size());
}

void SettingsDetailController::cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const {
    const QStringList labels = optionsForDescId(descId_);
    cell.style = ui::CellStyle::Default;
    settingsstyle::styleCell(cell);
    cell.text = indexPath.row >= 0 && indexPath.row < labels.size() ? labels.at(indexPath.row) : QString();
}

void SettingsDetailController::cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) {
    cell = ui::TableCell();
    cellTextForIndexPath(cell, indexPath);
    if (indexPath.row == rowSelected_) cell.accessory = ui::CellAccessory::Checkmark;
}

void SettingsDetailController::headerForSection(ui::TableView*, int, ui::TableHeader& header) {
    header.height = 18.0;  // the same gap above the options as above the settings list's groups
    header.backgroundColor = Qt::transparent;
}

void SettingsDetailController::didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) {
    table->deselectRow(indexPath, true);
    const ui::IndexPath previous{0, rowSelected_};
    if (ui::TableCell* old = table->cellForRow(previous); old && old->accessory == ui::CellAccessory::Checkmark) {
        old->accessory = ui::CellAccessory::None;
        table->cellChanged(previous);
    }
    if (ui::TableCell* chosen = table->cellForRow(indexPath);
        chosen && chosen->accessory != ui::CellAccessory::Checkmark) {
        chosen->accessory = ui::CellAccessory::Checkmark;
        table->cellChanged(indexPath);
    }
    rowSelected_ = indexPath.row;

    const QString key = keyForDescId(descId_);
    if (!key.isEmpty()) {
        platform::Defaults& defaults = platform::Defaults::standard();
        defaults.setInteger(rowSelected_, key);
        if (!defaults.synchronize())
            qCWarning(lcApp).noquote() << "the settings file" << defaults.fileName()
                                       << "cannot be written; the choice holds until Tavrio quits";
    }
    if (prevCtrl_) prevCtrl_->settingsTable()->reloadData();
}
