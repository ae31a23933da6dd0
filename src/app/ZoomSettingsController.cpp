#include "ZoomSettingsController.h"
#include "ui/Theme.h"

#include "AppInfo.h"
#include "DevicePickerController.h"
#include "InstructionsMenuViewController.h"
#include "SettingsDetailController.h"
#include "SettingsStyle.h"

#include "Settings.h"
#include "TavrioCaptureManager.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "platform/StringTable.h"
#include "ui/BarButtonItem.h"
#include "ui/Fonts.h"
#include "ui/MailComposer.h"
#include "ui/NavigationController.h"

#include <QPushButton>

void ZoomSettingsInvoker::settingsChanged(QObject*) {}

namespace {
const char* const kRowTitles[] = {"Recording Quality", "Export Preset", "Rescale Quality"};
constexpr int kDevicesSection = 2;
}  // namespace

ZoomSettingsController::ZoomSettingsController(QWidget* parent) : ui::ViewController(parent) {
    setTitle(QStringLiteral("Settings"));
    setBackgroundColor(settingsstyle::kBackground);
    doneButton_ = new ui::BarButtonItem(ui::BarButtonItem::SystemItem::Done, ui::BarButtonItem::Style::Bordered, this);
    doneButton_->setAccessibleName(QStringLiteral("Done"));
    connect(doneButton_, &ui::BarButtonItem::triggered, this, &ZoomSettingsController::doneButtonPressed);
    setRightBarButtonItem(doneButton_);

    settingsTable_ = new ui::TableView(this);
    settingsTable_->setAccessibleName(QStringLiteral("Settings"));
    settingsstyle::styleTable(settingsTable_);
    settingsTable_->setAllowsSelection(true);
    addSubview(settingsTable_, QRectF(0, 0, 320, 318));

    feedback_ = new QPushButton(QStringLiteral("Send Feedback"), this);
    tellAFriend_ = new QPushButton(QStringLiteral("Tell a Friend"), this);
    for (QPushButton* b : {feedback_, tellAFriend_}) {
        b->setAccessibleName(b->text());
        settingsstyle::styleButton(b);
    }
    feedback_->setToolTip(QStringLiteral("Write to the makers of Tavrio"));
    tellAFriend_->setToolTip(QStringLiteral("Recommend Tavrio by mail"));
    connect(feedback_, &QPushButton::clicked, this, &ZoomSettingsController::feedBackButtonPressed);
    connect(tellAFriend_, &QPushButton::clicked, this, &ZoomSettingsController::tellAFriendButtonPressed);
    addSubview(feedback_, QRectF(12, 336, 144, 44));
    addSubview(tellAFriend_, QRectF(164, 336, 144, 44));

    settingsTable_->setDataSource(this);
    // The device rows name the chosen devices, as listed off the main thread.
    platform::Notifications::center().addObserver(
        this, QLatin1String(TavrioCaptureManager::kCaptureDevicesDidChange),
        [this](const QString&, const QVariantMap&) { settingsTable_->reloadData(); });
    if (TavrioCaptureManager::knownDevices().empty()) TavrioCaptureManager::listDevicesAsync(this, {});
}

ZoomSettingsController::~ZoomSettingsController() {
    platform::Notifications::center().removeObserver(this);
    settingsTable_->setDataSource(nullptr);
}

void ZoomSettingsController::viewWillAppear(bool) {
    settingsTable_->reloadData();
}

int ZoomSettingsController::numberOfSections(ui::TableView*) {
    return 3;
}

int ZoomSettingsController::numberOfRows(ui::TableView*, int section) {
    return section == 0 ? 1 : section == kDevicesSection ? 2 : 3;
}

double ZoomSettingsController::heightForRow(ui::TableView*, const ui::IndexPath&) {
    return 40.0;
}

void ZoomSettingsController::headerForSection(ui::TableView*, int section, ui::TableHeader& header) {
    header.height = 18.0;  // a gap between the groups
    header.backgroundColor = Qt::transparent;
    if (section == kDevicesSection) {
        header.title = QStringLiteral("Devices");
        header.height = 30.0;
        header.fontPoints = 13;
        header.textColor = ui::theme::kSecondaryText;
    }
}

void ZoomSettingsController::cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) {
    cell = ui::TableCell();
    cell.image = QImage();
    cellTextForIndexPath(cell, indexPath);
    cell.accessory = ui::CellAccessory::DisclosureIndicator;
}

void ZoomSettingsController::cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const {
    cell.style = ui::CellStyle::Value1;
    settingsstyle::styleCell(cell);
    if (indexPath.section == 0) {
        cell.text = QStringLiteral("Instructions");
        cell.detailText = QString();
        return;
    }
    if (indexPath.section == kDevicesSection) {
        const bool camera = indexPath.row == 0;
        cell.text = camera ? QStringLiteral("Camera") : QStringLiteral("Microphone");
        const auto* chosen = TavrioCaptureManager::chosenDevice(camera);
        if (chosen)
            cell.detailText = chosen->name;
        else if (TavrioCaptureManager::knownDevices().empty())
            cell.detailText = QStringLiteral("…");
        else
            cell.detailText = camera ? QStringLiteral("None found") : QStringLiteral("None");
        cell.accessibleName = cell.text + QStringLiteral(": ") + cell.detailText;
        return;
    }
    // Read each time: the detail screen may have changed a value since the last look.
    const QStringList keys = settings::optionKeys();
    const int row = indexPath.row >= 0 && indexPath.row < keys.size() ? indexPath.row : 0;
    const QString& key = keys.at(row);
    cell.text = QLatin1String(kRowTitles[row]);
    cell.detailText = settings::listLabel(key, platform::Defaults::standard().integerForKey(key));
    cell.accessibleName = cell.text + QStringLiteral(": ") + cell.detailText;
}

void ZoomSettingsController::didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) {
    table->deselectRow(indexPath, true);
    ui::NavigationController* nav = navigationController();
    if (!nav) return;
    if (indexPath.section == 0) {
        nav->pushViewController(new InstructionsMenuViewController(), true);
        return;
    }
    if (indexPath.section == kDevicesSection) {
        nav->pushViewController(new DevicePickerController(indexPath.row == 0, this), true);
        return;
    }
    auto* detail = new SettingsDetailController(indexPath.row + 1, this);
    nav->pushViewController(detail, true);
}

void ZoomSettingsController::doneButtonPressed() {
    if (invoker_) invoker_->settingsChanged(nullptr);
}

void ZoomSettingsController::feedBackButtonPressed() {
    sendMail(QStringLiteral("Tavrio 2 Feedback"), QString(), QString::fromLatin1(appinfo::kSupportAddress));
}

QString ZoomSettingsController::tellAFriendBody() {
    return platform::StringTable::localized(QStringLiteral("localizable"),
                                            QStringLiteral("Check out this application:")) +
           QStringLiteral("\n\n") + QString::fromLatin1(appinfo::kStoreLink);
}

void ZoomSettingsController::tellAFriendButtonPressed() {
    sendMail(QStringLiteral("Tavrio for Linux: a zoom-while-recording camera"), tellAFriendBody(), QString());
}

void ZoomSettingsController::sendMail(const QString& subject, const QString& body, const QString& recipient) {
    ui::MailComposer::compose(subject, body, recipient.isEmpty() ? QStringList() : QStringList{recipient});
}
