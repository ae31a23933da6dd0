#include "DevicePickerController.h"

#include "SettingsStyle.h"
#include "ZoomSettingsController.h"

#include "Settings.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/Notifications.h"
#include "ui/Fonts.h"
#include "ui/FrameLayout.h"

#include <QLabel>

namespace {

const QLatin1String kNone("none");

QString settingKey(bool camera) {
    return QLatin1String(camera ? settings::kCameraDevice : settings::kMicrophoneDevice);
}

}  // namespace

DevicePickerController::DevicePickerController(bool camera, ZoomSettingsController* prevCtrl, QWidget* parent)
    : ui::ViewController(parent), camera_(camera), prevCtrl_(prevCtrl) {
    setTitle(camera ? QStringLiteral("Camera") : QStringLiteral("Microphone"));
    setBackgroundColor(settingsstyle::kBackground);

    table_ = new ui::TableView(this);
    table_->setAccessibleName(camera ? QStringLiteral("Cameras") : QStringLiteral("Microphones"));
    settingsstyle::styleTable(table_);
    description_ = new QLabel(QStringLiteral("Looking for devices…"), this);
    description_->setWordWrap(true);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    description_->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    description_->setAccessibleName(QStringLiteral("Description"));
    ui::Fonts::set(description_, 14);
    addSubview(table_, QRectF(0, 0, 320, 62));
    addSubview(description_, QRectF(20, 76, 280, 140));
    table_->setDataSource(this);
    refresh();

    // Listing opens every camera and asks the sound server: a worker does it, and again whenever
    // the hot-plug monitor reports a change while the screen shows.
    QPointer<DevicePickerController> self(this);
    TavrioCaptureManager::listDevicesAsync(this, [self] {
        if (self) self->refresh();
    });
    platform::Notifications::center().addObserver(this, QLatin1String(TavrioCaptureManager::kCaptureDevicesDidChange),
                                                  [this](const QString&, const QVariantMap&) { refresh(); });
}

DevicePickerController::~DevicePickerController() {
    platform::Notifications::center().removeObserver(this);
    table_->setDataSource(nullptr);
}

QString DevicePickerController::chosenID() const {
    const QString remembered = platform::Defaults::standard().stringForKey(settingKey(camera_));
    if (!camera_ && remembered == kNone) return kNone;
    const auto* chosen = TavrioCaptureManager::chosenDevice(camera_);
    return chosen ? chosen->uniqueID : (camera_ ? QString() : QString(kNone));
}

void DevicePickerController::refresh() {
    ids_.clear();
    names_.clear();
    const auto& devices = TavrioCaptureManager::knownDevices();
    // Real devices first, then the stand-in; the list is already in that order.
    for (const auto& d : devices) {
        if (d.isCamera != camera_) continue;
        ids_ << d.uniqueID;
        names_ << d.name;
    }
    if (!camera_) {
        ids_ << kNone;
        names_ << QStringLiteral("None");
    }
    const double tableHeight = 18.0 + ids_.size() * 44.0;
    frames()->setFrame(table_, QRectF(0, 0, 320, tableHeight));
    frames()->setFrame(description_, QRectF(20, tableHeight + 14, 280, 140));
    table_->reloadData();
    const QString chosen = chosenID();
    const int row = int(ids_.indexOf(chosen));
    if (row >= 0) table_->setCurrentRow({0, row});

    QString text;
    const auto* device = [&]() -> const TavrioCaptureManager::DeviceDescription* {
        for (const auto& d : devices)
            if (d.uniqueID == chosen) return &d;
        return nullptr;
    }();
    if (devices.empty()) {
        text = QStringLiteral("Looking for devices…");
    } else if (camera_ && !device) {
        text = QStringLiteral("No camera found. Connect one, or choose the test picture.");
    } else if (!camera_ && chosen == kNone) {
        text = QStringLiteral("Movies are recorded without sound.");
    } else if (device && device->isVirtual) {
        text = camera_ ? QStringLiteral(
                             "A moving test picture with a clock, for trying Tavrio without a camera. "
                             "\"High\" records it at %1.")
                             .arg(TavrioCaptureManager::highModeText(*device))
                       : QStringLiteral(
                             "A steady tone with a click every second, for trying Tavrio without a "
                             "microphone.");
    } else if (device && camera_) {
        QStringList sizes;
        for (const auto& f : device->formats) {
            const QString size = QStringLiteral("%1x%2").arg(f.width).arg(f.height);
            if (!sizes.contains(size)) sizes << size;
        }
        text = QStringLiteral("\"High\" records %1 from %2. It offers %3.")
                   .arg(TavrioCaptureManager::highModeText(*device), device->name, sizes.join(QStringLiteral(", ")));
    } else if (device) {
        text = QStringLiteral("%1 records the sound of every movie.").arg(device->name);
    }
    description_->setText(text);
    description_->setAccessibleDescription(text);
    if (!devices.empty()) emit devicesShown();
}

int DevicePickerController::numberOfSections(ui::TableView*) {
    return 1;
}

int DevicePickerController::numberOfRows(ui::TableView*, int) {
    return int(ids_.size());
}

void DevicePickerController::cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) {
    cell = ui::TableCell();
    cell.style = ui::CellStyle::Default;
    settingsstyle::styleCell(cell);
    const int row = indexPath.row;
    if (row < 0 || row >= ids_.size()) return;
    cell.text = names_.at(row);
    if (ids_.at(row) == chosenID()) cell.accessory = ui::CellAccessory::Checkmark;
}

void DevicePickerController::headerForSection(ui::TableView*, int, ui::TableHeader& header) {
    header.height = 18.0;
    header.backgroundColor = Qt::transparent;
}

void DevicePickerController::didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) {
    table->deselectRow(indexPath, true);
    if (indexPath.row < 0 || indexPath.row >= ids_.size()) return;
    platform::Defaults& defaults = platform::Defaults::standard();
    defaults.setString(ids_.at(indexPath.row), settingKey(camera_));
    if (!defaults.synchronize())
        qCWarning(lcApp).noquote() << "the settings file" << defaults.fileName()
                                   << "cannot be written; the choice holds until Tavrio quits";
    qCDebug(lcApp).noquote() << "devices: chose" << ids_.at(indexPath.row);
    refresh();
    table_->setCurrentRow(indexPath);
    if (prevCtrl_) prevCtrl_->settingsTable()->reloadData();
}
