#include "VideoAssetsScreen.h"
#include "platform/ScreenScale.h"

#include "MediaStore.h"
#include "UIImageAdditions.h"
#include "VideoDetailsViewController.h"

#include "platform/AlertService.h"
#include "platform/Background.h"
#include "platform/Logging.h"
#include "platform/StringTable.h"
#include "ui/Alerts.h"
#include "ui/Theme.h"
#include "ui/NavigationController.h"

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "ui/FileManager.h"
#include "ui/Fonts.h"

namespace {

const QColor kBackground = ui::theme::kBackground;
// Every row's picture box, in points: 4:3, tall enough to fill most of the row.
constexpr double kPictureWidth = 72, kPictureHeight = 54;

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
    _tableView->setSeparatorColor(ui::theme::kSeparator);
    _tableView->setAllowsSelection(true);
    _tableView->installEventFilter(this);
    // The bar is translucent and the screen runs under it; the rows start below it.
    addSubview(_tableView, QRectF(0, ui::NavigationBar::kHeight, 320, 480 - ui::NavigationBar::kHeight));
    _tableView->setDataSource(this);

    _tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(_tableView, &QWidget::customContextMenuRequested, this, &VideoAssetsScreen::showContextMenu);
    _tableView->viewport()->installEventFilter(this);

    _emptyLabel = new QLabel(QStringLiteral("<b>No movies yet</b><br><br>Record one on the camera screen with the red "
                                            "button or Space; it shows here when it is finished."),
                             this);
    _emptyLabel->setWordWrap(true);
    _emptyLabel->setAlignment(Qt::AlignCenter);
    _emptyLabel->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(ui::theme::kSecondaryText.name()));
    ui::Fonts::set(_emptyLabel, 15);
    addSubview(_emptyLabel, QRectF(30, 150, 260, 120));
    _emptyLabel->hide();

    connect(_library, &VideoAssetsViewController::aboutToReload, this, [this] {
        const auto current = _tableView->currentRow();
        if (current && current->row < _library->count()) _currentBeforeReload = _library->row(current->row).path;
    });
    connect(_library, &VideoAssetsViewController::dataReloaded, this, [this] {
        _tableView->reloadData();
        // The disk changed under the list: the movie the user was on stays current.
        const int kept = _currentBeforeReload.isEmpty() ? -1 : _library->indexOf(_currentBeforeReload);
        _currentBeforeReload.clear();
        if (kept >= 0) _tableView->setCurrentRow({0, kept});
        selectFirstRowIfNone();
        updateEmptyState();
    });
    connect(_library, &VideoAssetsViewController::rowChanged, this, [this](int row) {
        _tableView->reloadRow({0, row});
    });
    connect(_library, &VideoAssetsViewController::movieUnusable, this, [](const QString& fileName) {
        platform::AlertService::show(localized("Error") + QStringLiteral(" File:%1").arg(fileName),
                                     localized("Format Not Supported"), localized("Ok"));
    });
    connect(_library, &VideoAssetsViewController::rowRemoved, this, [this](int row) {
        _tableView->deleteRows({ui::IndexPath{0, row}});
        selectFirstRowIfNone();
        updateEmptyState();
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
    cell.fontPoints = 13;
    cell.detailFontPoints = 12;
    cell.text = row.title;
    cell.detailText = _library->detailText(indexPath.row);
    const QColor color = row.isRecording ? ui::theme::kRecordingRowText : ui::theme::kExportRowText;
    cell.textColor = color;
    cell.detailTextColor = color;
    cell.highlightedTextColor = color;
    _placeholder = platform::ScreenScale::repick(_placeholder);
    cell.image = rowPicture(row.thumbnail.isNull() ? _placeholder : row.thumbnail, _tableView->devicePixelRatioF());
    cell.accessibleName = (row.isRecording ? QStringLiteral("Recording ") : QStringLiteral("Export ")) +
                          QFileInfo(row.path).fileName() + QStringLiteral(", ") + row.title.trimmed() +
                          QStringLiteral(", ") + cell.detailText;
}

QImage VideoAssetsScreen::rowPicture(const QImage& thumbnail, qreal devicePixelRatio) {
    // Thumbnails come in the movie's own shape (portrait, landscape, placeholder square): fitted
    // whole into one box, rows line up and every picture is as large as the row allows.
    const qreal scale = std::max<qreal>(1, devicePixelRatio);
    QImage box(qRound(kPictureWidth * scale), qRound(kPictureHeight * scale), QImage::Format_RGB32);
    box.fill(ui::theme::kPictureGround);
    if (!thumbnail.isNull()) {
        QPainter p(&box);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize fitted = thumbnail.size().scaled(box.size(), Qt::KeepAspectRatio);
        p.drawImage(QRect(QPoint((box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2), fitted),
                    thumbnail);
    }
    box.setDevicePixelRatio(scale);
    return box;
}

void VideoAssetsScreen::updateEmptyState() {
    const bool empty = _library->count() == 0;
    _emptyLabel->setVisible(empty);
    if (empty) _emptyLabel->raise();
}

QMimeData* VideoAssetsScreen::mimeDataForRow(int row) const {
    if (row < 0 || row >= _library->count()) return nullptr;
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(_library->row(row).path)});
    return data;
}

QMenu* VideoAssetsScreen::contextMenuForRow(int row) {
    if (row < 0 || row >= _library->count()) return nullptr;
    const QString path = _library->row(row).path;
    auto* menu = new QMenu(this);
    menu->setAccessibleName(QStringLiteral("Movie menu"));
    menu->addAction(QStringLiteral("Open With Default Player"), this,
                    [path] { ui::FileManager::openWithDefaultApplication(path); });
    menu->addAction(QStringLiteral("Show in Files"), this, [path] { ui::FileManager::showItem(path); });
    QAction* save = menu->addAction(QStringLiteral("Save to Videos"), this, [this, path] {
        // The details screen saves and tells where the copy went, with Show in Files.
        const int index = _library->indexOf(path);
        if (index < 0) return;
        openDetailsForRow(index, [](VideoDetailsViewController* details) { details->saveVideoButtonPressed(); });
    });
    // A recording is saved as its export; the original alone only after a failed export.
    save->setEnabled(!_library->row(row).isRecording);
    menu->addSeparator();
    menu->addAction(localized("Delete"), this, [this, path] {
        if (const int index = _library->indexOf(path); index >= 0) askToDeleteRow(index);
    });
    return menu;
}

void VideoAssetsScreen::showContextMenu(const QPoint& viewportPixel) {
    std::optional<ui::IndexPath> row = _tableView->rowAtPoint(viewportPixel);
    if (!row) row = _tableView->currentRow();  // the menu key
    if (!row || ui::ActionSheet::current()) return;
    _tableView->setCurrentRow(*row);
    QMenu* menu = contextMenuForRow(row->row);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPoint at = viewportPixel;
    if (!_tableView->rowAtPoint(viewportPixel)) at = _tableView->rectForRow(*row).center();
    menu->popup(_tableView->viewport()->mapToGlobal(at));
    qCDebug(lcApp).noquote() << "library: menu shown for" << QFileInfo(_library->row(row->row).path).fileName();
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

void VideoAssetsScreen::openDetailsForRow(int row, std::function<void(VideoDetailsViewController*)> then) {
    if (row < 0 || row >= _library->count() || _openingDetails) return;
    ui::NavigationController* nav = navigationController();
    if (!nav || nav->isAnimating()) return;
    const QString path = _library->row(row).path;
    // Whether the movie is still there, and its thumbnail's name, are answers from the disk.
    _openingDetails = true;
    platform::Background::run(
        this,
        [path] {
            const bool exists = QFileInfo::exists(path);
            return std::pair<bool, QString>(exists, exists ? MediaStore::thumbnailPathForVideo(path) : QString());
        },
        [this, path, then](const std::pair<bool, QString>& found) {
            _openingDetails = false;
            if (!found.first) {
                platform::AlertService::show(QString(),
                                             QStringLiteral("File does'nt exists : %1").arg(QFileInfo(path).fileName()),
                                             localized("OK"));
                _library->refreshData();
                return;
            }
            ui::NavigationController* nav = navigationController();
            if (!nav || nav->topViewController() != this) return;  // the user went elsewhere meanwhile
            auto* details = new VideoDetailsViewController(path, found.second);
            details->setDelegate(_library);
            nav->pushViewController(details, true);
            if (then) then(details);
        },
        platform::Background::Lane::Normal, "details opened");
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
    if (watched == _tableView->viewport() && !_tableView->isEditing()) {
        // Only mouse events are mouse events: a cast before the type is known is undefined.
        const auto* mouse = dynamic_cast<const QMouseEvent*>(event);
        if (event->type() == QEvent::MouseButtonPress && mouse && mouse->button() == Qt::LeftButton) {
            _pressAt = mouse->position().toPoint();
            const auto row = _tableView->rowAtPoint(_pressAt);
            _pressedRow = row ? std::optional<int>(row->row) : std::nullopt;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            _pressedRow.reset();
        } else if (event->type() == QEvent::MouseMove && mouse && (mouse->buttons() & Qt::LeftButton) && _pressedRow &&
                   (mouse->position().toPoint() - _pressAt).manhattanLength() >= QApplication::startDragDistance()) {
            QMimeData* data = mimeDataForRow(*_pressedRow);
            _pressedRow.reset();
            if (data) {
                auto* drag = new QDrag(this);
                drag->setMimeData(data);
                const int row = _library->indexOf(data->urls().value(0).toLocalFile());
                if (row >= 0) drag->setPixmap(QPixmap::fromImage(rowPicture(_library->row(row).thumbnail, 1)));
                drag->exec(Qt::CopyAction);
                return true;
            }
        }
    }
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
