#pragma once
// The choice of the camera or the microphone, in the style of the settings detail screens: the
// devices present (real ones first, then the test picture or test tone; "None" for silent
// movies), a checkmark on the chosen one and a text describing it. A choice is remembered at once
// by the device's stable id; the camera screen takes it when the settings close. The list comes
// from a listing on a worker thread and follows devices being plugged in and out.

#include "TavrioCaptureManager.h"

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QPointer>

class QLabel;
class ZoomSettingsController;

class DevicePickerController : public ui::ViewController, public ui::TableViewDataSource {
    Q_OBJECT
public:
    DevicePickerController(bool camera, ZoomSettingsController* prevCtrl, QWidget* parent = nullptr);
    ~DevicePickerController() override;

    QLabel* descriptionLabel() const { return description_; }
    // The rows' device ids ("none": no microphone), in order.
    const QStringList& choices() const { return ids_; }

    // ui::TableViewDataSource
    int numberOfSections(ui::TableView* table) override;
    int numberOfRows(ui::TableView* table, int section) override;
    void cellForRow(ui::TableView* table, const ui::IndexPath& indexPath, ui::TableCell& cell) override;
    void headerForSection(ui::TableView* table, int section, ui::TableHeader& header) override;
    void didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) override;

signals:
    // The devices were listed (anew) and the rows show them.
    void devicesShown();

private:
    void refresh();
    QString chosenID() const;

    bool camera_;
    QPointer<ZoomSettingsController> prevCtrl_;
    ui::TableView* table_;
    QLabel* description_;
    QStringList ids_, names_;
};
