#pragma once
// The library list on screen: one 80-point row per movie (thumbnail, "duration (date)", size),
// recordings in dark gray and exports in white, newest first; Edit/Done for deleting, the
// detail button (or Return) for a movie's details screen. The list's state and its thumbnails
// are VideoAssetsViewController's; this screen draws them and takes the user's input.
//
// Keyboard: the first row is current when the list opens, the arrows move, Return opens the
// details, Delete asks whether to delete the movie.

#include "VideoAssetsViewController.h"

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QImage>

class VideoAssetsScreen : public ui::ViewController, public ui::TableViewDataSource {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 80;

    explicit VideoAssetsScreen(VideoAssetsViewControllerDelegate* delegate = nullptr, QWidget* parent = nullptr);
    ~VideoAssetsScreen() override;

    // Opens the list over `presenter` in a navigation controller with the black translucent bar,
    // slid up; Done slides it down again. Null when `presenter` is busy presenting something.
    static VideoAssetsScreen* presentFrom(ui::ViewController* presenter,
                                          VideoAssetsViewControllerDelegate* delegate = nullptr);

    VideoAssetsViewController* library() const { return _library; }
    ui::TableView* tableView() const { return _tableView; }
    ui::BarButtonItem* doneButton() const { return _doneButton; }
    ui::BarButtonItem* editButton() const { return _editButton; }

    void editDoneButtonPressed();
    void doneButtonPressed();
    // The details screen of the row's movie, or the "does not exist" alert and a refresh.
    void openDetailsForRow(int row);
    // Asks with an action sheet, then deletes the row's movie.
    void askToDeleteRow(int row);

    // ui::TableViewDataSource
    int numberOfSections(ui::TableView*) override { return 1; }
    int numberOfRows(ui::TableView*, int section) override;
    void cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) override;
    double heightForRow(ui::TableView*, const ui::IndexPath&) override { return kRowHeight; }
    void didSelectRow(ui::TableView*, const ui::IndexPath& indexPath) override;
    void accessoryButtonTapped(ui::TableView*, const ui::IndexPath& indexPath) override;
    bool canEditRow(ui::TableView*, const ui::IndexPath&) override { return true; }
    void commitDeletion(ui::TableView*, const ui::IndexPath& indexPath) override;

    void viewDidAppear(bool animated) override;
    void focusFirstControl() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectFirstRowIfNone();

    VideoAssetsViewController* _library;
    ui::TableView* _tableView;
    ui::BarButtonItem* _doneButton;
    ui::BarButtonItem* _editButton;
    QImage _placeholder;
};
