#pragma once
// The user guide: six titled sections of paragraphs read from the bundle's "instructions"
// property list, the titles from the "instructions" string table. Read-only.

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QStringList>
#include <QVariantMap>

class InstructionsMenuViewController : public ui::ViewController, public ui::TableViewDataSource {
    Q_OBJECT
public:
    explicit InstructionsMenuViewController(QWidget* parent = nullptr);
    ~InstructionsMenuViewController() override;

    ui::TableView* instructionsView() const { return instructionsView_; }

    // The header keys of the six sections, in order.
    static QStringList sectionKeys();
    // The property list's keys of the six sections, in order.
    static QStringList listKeys();
    // A section's paragraphs as loaded; empty for any other section.
    QStringList paragraphs(int section) const;

    // The row height for paragraph `text` in a table `tableWidth` points wide: the text measured
    // in 14-point type within (tableWidth - 50) points, plus 20.
    static double rowHeightFor(const QString& text, double tableWidth);

    void cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const;

    // ui::TableViewDataSource
    int numberOfSections(ui::TableView* table) override;
    int numberOfRows(ui::TableView* table, int section) override;
    void cellForRow(ui::TableView* table, const ui::IndexPath& indexPath, ui::TableCell& cell) override;
    double heightForRow(ui::TableView* table, const ui::IndexPath& indexPath) override;
    void headerForSection(ui::TableView* table, int section, ui::TableHeader& header) override;
    bool canEditRow(ui::TableView* table, const ui::IndexPath& indexPath) override;

private:
    void load();

    ui::TableView* instructionsView_;
    QVariantMap instructionSet_;
    QStringList kWhatStrings_, kHowStrings_, kControlsStrings_, kImportantStrings_, kSupportStrings_,
        kDisclaimerStrings_;
};
