#pragma once
// One setting's options with a checkmark on the stored one, and a text that explains the
// setting. A choice is stored at once and the settings list shows it when the user goes back.

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QPointer>

class QLabel;
class ZoomSettingsController;

class SettingsDetailController : public ui::ViewController, public ui::TableViewDataSource {
    Q_OBJECT
public:
    // descId: 1 recording quality, 2 export preset, 3 rescale quality; others show nothing.
    // prevCtrl: the settings list whose table is reloaded after each choice (not owned).
    SettingsDetailController(int descId, ZoomSettingsController* prevCtrl, QWidget* parent = nullptr);
    ~SettingsDetailController() override;

    int descId() const { return descId_; }
    int rowSelected() const { return rowSelected_; }
    ui::TableView* settingsDetail() const { return settingsDetail_; }
    QLabel* descriptionLabel() const { return descriptionLabel_; }
    // The export preset's footer: what each choice gives the newest recording (null elsewhere).
    QLabel* footerLabel() const { return footerLabel_; }

    // The settings key of a descId; empty for any other value.
    static QString keyForDescId(int descId);
    // The explanation of a descId's setting; empty for any other value.
    static QString descriptionForDescId(int descId);
    // The detail screen's option labels of a descId, in stored-value order.
    static QStringList optionsForDescId(int descId);

    void cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const;

    // ui::TableViewDataSource
    int numberOfSections(ui::TableView* table) override;
    int numberOfRows(ui::TableView* table, int section) override;
    void cellForRow(ui::TableView* table, const ui::IndexPath& indexPath, ui::TableCell& cell) override;
    void headerForSection(ui::TableView* table, int section, ui::TableHeader& header) override;
    void didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) override;

private:
    void showExportSizes(double y);

    int descId_;
    int rowSelected_ = 0;
    QPointer<ZoomSettingsController> prevCtrl_;
    ui::TableView* settingsDetail_;
    QLabel* footerLabel_ = nullptr;
    QLabel* descriptionLabel_;
};
