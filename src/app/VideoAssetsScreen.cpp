#include "VideoAssetsScreen.h"

#include "UIImageAdditions.h"
#include "VideoDetailsViewController.h"

#include "platform/AlertService.h"
#include "platform/StringTable.h"
#include "ui/Alerts.h"
#include "ui/NavigationController.h"

#include <QFileInfo>
#include <QKeyEvent>

namespace {

const QColor kBackground(7, 9, 14);

QString localized(const char* key) {
    return platform::StringTable::localized(QStringLiteral("localizable"), QString::fromLatin1(key));
}

}  // namespace

VideoAssetsScreen::VideoAssetsScreen(VideoAssetsViewControllerDelegate* delegate, QWidget* parent)
    : ui::ViewController(parent), _library(new VideoAssetsViewController(this)) {
    _library->setDelegate(delegate);
    setTitle(localized("Videos"));
    setBackgroundColor(kBackground);

    _doneButton = new ui::BarButtonItem(localized("Done"), ui::BarButtonItem::Style::Done, this);
    _doneButton->setAccessibleName(QStringLiteral("Close the library"));
    connect(_doneButton, &ui::BarButtonItem::triggered, this, &VideoAssetsScreen::doneButtonPressed);
    setRightBarButtonItem(_doneButton);
    _editButton = new ui::BarButtonItem(localized("Edit"), ui::BarButtonItem::Style::Bordered, this);
    _editButton->setAccessibleName(QStringLiteral("Edit"));
    connect(_editButton, &ui::BarButtonItem::triggered, this, &VideoAssetsScreen::editDoneButtonPressed);
    setLeftBarButtonItem(_editButton);

    _placeholder = UIImageAdditions::imageWithContentsOfResolutionIndependentFile(
        UIImageAdditions::pathForResource(QStringLiteral("57x57"), QStringLiteral("png")));

    _tableView = new ui::TableView(this);
    _tableView->setAccessibleName(QStringLiteral("Movies"));
    _tableView->setCellBackgroundColor(kBackground);
    _tableView->setSeparatorColor(QColor(40, 44, 54));
    _tableView->setAllowsSelection(true);
    _tableView->installEventFilter(this);
    // The bar is translucent and the screen runs under it; the rows start below it.
    addSubview(_tableView, QRectF(0, ui::NavigationBar::kHeight, 320, 480 - ui::NavigationBar::kHeight));
    _tableView->setDataSource(this);

    connect(_library, &VideoAssetsViewController::dataReloaded, this, [this] {
        _tableView->reloadData();
        selectFirstRowIfNone();
    });
    connect(_library, &VideoAssetsViewController::rowChanged, this, [this](int row) {
        _tableView->reloadRow({0, row});
    });
    connect(_library, &VideoAssetsViewController::rowRemoved, this, [this](int row) {
        _tableView->deleteRows({ui::IndexPath{0, row}});
        selectFirstRowIfNone();
    });
    _library->viewDidLoad();
}

VideoAssetsScreen* VideoAssetsScreen::presentFrom(ui::ViewController* presenter,
                                                  VideoAssetsViewControllerDelegate* delegate) {
    if (!presenter || presenter->modalViewController() || presenter->isTransitioning()) return nullptr;
    auto* list = new VideoAssetsScreen(delegate);
    auto* nav = new ui::NavigationController(list);
    nav->setBarStyle(ui::NavigationBar::Style::Black, true);
    if (!presenter->presentModalViewController(nav, true)) {
        delete nav;
        return nullptr;
    }
    return list;
}

VideoAssetsScreen::~VideoAssetsScreen() {
    _tableView->setDataSource(nullptr);
}

int VideoAssetsScreen::numberOfRows(ui::TableView*, int) {
    return _library->count();
}

void VideoAssetsScreen::cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) {
    cell = ui::TableCell();
    if (indexPath.row < 0 || indexPath.row >= _library->count()) return;
    const VideoAssetsViewController::Row& row = _library->row(indexPath.row);
    cell.style = ui::CellStyle::Subtitle;
    cell.selectionStyle = ui::CellSelectionStyle::None;
    cell.accessory = ui::CellAccessory::DetailDisclosureButton;
    // The whole "duration (date and time)" fits beside the thumbnail in the locale's short form.
    cell.fontPoints = 14;
    cell.detailFontPoints = 13;
    cell.text = row.title;
    cell.detailText = _library->detailText(indexPath.row);
    const QColor color = row.isRecording ? QColor(Qt::darkGray) : QColor(Qt::white);
    cell.textColor = color;
    cell.detailTextColor = color;
    cell.highlightedTextColor = color;
    cell.image = row.thumbnail.isNull() ? _placeholder : row.thumbnail;
    cell.accessibleName = (row.isRecording ? QStringLiteral("Recording ") : QStringLiteral("Export ")) +
                          QFileInfo(row.path).fileName() + QStringLiteral(", ") + row.title.trimmed() +
                          QStringLiteral(", ") + cell.detailText;
}

void VideoAssetsScreen::didSelectRow(ui::TableView* table, const ui::IndexPath& indexPath) {
    // Rows have no highlight; choosing one (Return, a click) opens it like its detail button.
    table->deselectRow(indexPath, false);
    openDetailsForRow(indexPath.row);
}

void VideoAssetsScreen::accessoryButtonTapped(ui::TableView*, const ui::IndexPath& indexPath) {
    openDetailsForRow(indexPath.row);
}

void VideoAssetsScreen::commitDeletion(ui::TableView*, const ui::IndexPath& indexPath) {
    if (indexPath.row < 0 || indexPath.row >= _library->count()) return;
    _library->deleteVideoAssetAtPath(_library->row(indexPath.row).path);
}

void VideoAssetsScreen::openDetailsForRow(int row) {
    if (row < 0 || row >= _library->count()) return;
    ui::NavigationController* nav = navigationController();
    if (!nav || nav->isAnimating()) return;
    const QString path = _library->row(row).path;
    if (!QFileInfo::exists(path)) {
        platform::AlertService::show(
            QString(), QStringLiteral("File does'nt exists : %1").arg(QFileInfo(path).fileName()), localized("OK"));
        _library->refreshData();
        return;
    }
    auto* details = new VideoDetailsViewController(path, VideoAssetsViewController::thumbnailPathForVideo(path));
    details->setDelegate(_library);
    nav->pushViewController(details, true);
}

void VideoAssetsScreen::askToDeleteRow(int row) {
    if (row < 0 || row >= _library->count() || ui::ActionSheet::current()) return;
    const QString path = _library->row(row).path;
    QPointer<VideoAssetsScreen> self(this);
    auto* sheet = new ui::ActionSheet(QStringLiteral("Delete Video:"), localized("Cancel"), localized("Delete"), {},
                                      [self, path](int index) {
                                          if (self && index == 0) self->_library->deleteVideoAssetAtPath(path);
                                          if (self) self->_tableView->setFocus();
                                      });
    sheet->showFrom(this);
}

void VideoAssetsScreen::editDoneButtonPressed() {
    const bool editing = !_tableView->isEditing();
    _tableView->setEditing(editing);
    _doneButton->setEnabled(!editing);
    _doneButton->setTitle(editing ? QString() : localized("Done"));
    _editButton->setTitle(editing ? localized("Done") : localized("Edit"));
    _editButton->setStyle(editing ? ui::BarButtonItem::Style::Done : ui::BarButtonItem::Style::Bordered);
    _editButton->setAccessibleName(editing ? QStringLiteral("Done editing") : QStringLiteral("Edit"));
}

void VideoAssetsScreen::doneButtonPressed() {
    _library->doneButtonPressed();
    ViewController* presented = navigationController() ? static_cast<ViewController*>(navigationController()) : this;
    presented->dismissModalViewController(true);
}

void VideoAssetsScreen::selectFirstRowIfNone() {
    if (_library->count() > 0 && !_tableView->currentRow()) _tableView->setCurrentRow({0, 0});
}

void VideoAssetsScreen::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    selectFirstRowIfNone();
}

void VideoAssetsScreen::focusFirstControl() {
    selectFirstRowIfNone();
    _tableView->setFocus(Qt::OtherFocusReason);
}

bool VideoAssetsScreen::eventFilter(QObject* watched, QEvent* event) {
    // Outside editing mode the table ignores Delete; here it asks first, as the details screen does.
    if (watched == _tableView && event->type() == QEvent::KeyPress && !_tableView->isEditing()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            if (auto current = _tableView->currentRow()) askToDeleteRow(current->row);
            return true;
        }
    }
    return ui::ViewController::eventFilter(watched, event);
}
