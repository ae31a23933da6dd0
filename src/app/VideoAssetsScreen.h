#pragma once
// The library list on screen: one 80-point row per movie (thumbnail, "duration (date)", size),
// recordings in dark gray and exports in white, newest first; Edit/Done for deleting, the
// detail button (or Return) for a movie's details screen. The list's state and its thumbnails
// are VideoAssetsViewController's; this screen draws them and takes the user's input.
//
// Keyboard: the first row is current when the list opens, the arrows move, Return opens the
// details, Delete asks whether to delete the movie, the menu key opens the row's menu.
//
// Desktop habits: a right click on a row offers Open With Default Player, Show in Files, Save to
// Videos and Delete; a row dragged out of the window is its movie file (text/uri-list) for a
// file manager, a chat or an editor. An empty library says how to make a movie.

#include "VideoAssetsViewController.h"

#include "ui/TableView.h"
#include "ui/ViewController.h"

#include <QImage>
#include <functional>
#include <optional>

class QLabel;
class QMenu;
class QMimeData;
class VideoDetailsViewController;

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
    // Pushes the details screen once the movie is known to be there (`then` gets it).
    void openDetailsForRow(int row, std::function<void(VideoDetailsViewController*)> then = {});
    // Asks with an action sheet, then deletes the row's movie.
    void askToDeleteRow(int row);
    // The row's menu, built anew (the caller owns it; null for no such row).
    QMenu* contextMenuForRow(int row);
    // What a drag of the row carries: the movie as a file:// URI.
    QMimeData* mimeDataForRow(int row) const;
    // Shown instead of the rows when there are none.
    QLabel* emptyLabel() const { return _emptyLabel; }
    // The picture a row shows: the thumbnail fitted into one box for every row.
    static QImage rowPicture(const QImage& thumbnail, qreal devicePixelRatio);

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
    void showContextMenu(const QPoint& viewportPixel);
    void updateEmptyState();

    VideoAssetsViewController* _library;
    bool _openingDetails = false;
    ui::TableView* _tableView;
    ui::BarButtonItem* _doneButton;
    ui::BarButtonItem* _editButton;
    QImage _placeholder;
    QLabel* _emptyLabel = nullptr;
    QString _currentBeforeReload;  // the movie that was current, kept current across a refresh
    QPoint _pressAt;               // where a press on a row began, for dragging it out
    std::optional<int> _pressedRow;
};
