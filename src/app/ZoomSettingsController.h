#pragma once
// The settings list: the instructions row and one row per quality setting with its current
// value; a setting's row opens its detail screen. Two buttons below the list send feedback to
// the makers and a recommendation to a friend by mail. "Done" tells the invoker, which closes
// the settings.

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QPointer>

namespace ui {
class BarButtonItem;
class ImageButton;
}  // namespace ui
class QPushButton;

// The screen that opened the settings list.
class ZoomSettingsInvoker {
public:
    virtual ~ZoomSettingsInvoker() = default;
    // "Done" was pressed; the invoker applies what changed and dismisses the list.
    virtual void settingsChanged(QObject* sender);
};

class ZoomSettingsController : public ui::ViewController, public ui::TableViewDataSource {
    Q_OBJECT
public:
    explicit ZoomSettingsController(QWidget* parent = nullptr);
    ~ZoomSettingsController() override;

    ui::TableView* settingsTable() const { return settingsTable_; }
    ui::BarButtonItem* doneButton() const { return doneButton_; }
    QPushButton* feedbackButton() const { return feedback_; }
    QPushButton* tellAFriendButton() const { return tellAFriend_; }

    ZoomSettingsInvoker* invoker() const { return invoker_; }
    void setInvoker(ZoomSettingsInvoker* invoker) { invoker_ = invoker; }

    // Writes the row's text and value from the settings as they are now.
    void cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const;

    void doneButtonPressed();
    void feedBackButtonPressed();
    void tellAFriendButtonPressed();
    void sendMail(const QString& subject, const QString& body, const QString& recipient);

    // The recommendation's body: the localized "Check out this application:", two line
    // breaks, the store link.
    static QString tellAFriendBody();

    // ui::TableViewDataSource
    int numberOfSections(ui::TableView* table) override;
    int numberOfRows(ui::TableView* table, int section) override;
    void cellForRow(ui::TableView* table, const ui::IndexPath& indexPath, ui::TableCell& cell) override;
    double heightForRow(ui::TableView* table, const ui::IndexPath& indexPath) override;
    void headerForSection(ui::TableView* table, int section, ui::TableHeader& header) override;
    void didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) override;

    void viewWillAppear(bool animated) override;

private:
    ui::TableView* settingsTable_;
    ui::BarButtonItem* doneButton_;
    QPushButton* feedback_;
    QPushButton* tellAFriend_;
    ZoomSettingsInvoker* invoker_ = nullptr;
};
