#include "ui/TableView.h"

#include "ui/Fonts.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QAbstractListModel>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ui {

int TableViewDataSource::numberOfSections(TableView*) {
    return 1;
}
int TableViewDataSource::numberOfRows(TableView*, int) {
    return 0;
}
void TableViewDataSource::cellForRow(TableView*, const IndexPath&, TableCell&) {}
double TableViewDataSource::heightForRow(TableView*, const IndexPath&) {
    return 44.0;
}
void TableViewDataSource::headerForSection(TableView*, int, TableHeader&) {}
void TableViewDataSource::didSelectRow(TableView*, const IndexPath&) {}
void TableViewDataSource::accessoryButtonTapped(TableView*, const IndexPath&) {}
bool TableViewDataSource::canEditRow(TableView*, const IndexPath&) {
    return false;
}
void TableViewDataSource::commitDeletion(TableView*, const IndexPath&) {}

namespace {
constexpr double kDeleteControlWidth = 38.0;
constexpr double kDeleteButtonWidth = 66.0;
constexpr double kAccessoryWidth = 40.0;
constexpr double kMargin = 10.0;
}  // namespace

// One line of the list per header and per row.
struct TableItem {
    bool isHeader = false;
    IndexPath path;
    TableCell cell;
    TableHeader header;
    double height = 44.0;
};

class TableModel : public QAbstractListModel {
public:
    explicit TableModel(QObject* parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= static_cast<int>(items.size())) return {};
        const TableItem& it = items[static_cast<size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole: return it.isHeader ? it.header.title : it.cell.text;
        case Qt::AccessibleTextRole: {
            if (it.isHeader) return it.header.title;
            if (!it.cell.accessibleName.isEmpty()) return it.cell.accessibleName;
            QString s = it.cell.text;
            if (!it.cell.detailText.isEmpty()) s += QStringLiteral(", ") + it.cell.detailText;
            if (it.cell.accessory == CellAccessory::Checkmark) s += QStringLiteral(", checked");
            return s;
        }
        case Qt::AccessibleDescriptionRole: return it.isHeader ? QStringLiteral("section header") : QString();
        default: return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid() || index.row() >= static_cast<int>(items.size())) return Qt::NoItemFlags;
        if (items[static_cast<size_t>(index.row())].isHeader) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    void reset(std::vector<TableItem> fresh) {
        beginResetModel();
        items = std::move(fresh);
        endResetModel();
    }

    int flatIndex(const IndexPath& p) const {
        for (size_t i = 0; i < items.size(); ++i)
            if (!items[i].isHeader && items[i].path == p) return static_cast<int>(i);
        return -1;
    }

    void changed(int flat) {
        const QModelIndex i = index(flat);
        emit dataChanged(i, i);
    }

    void removeFlat(int flat) {
        beginRemoveRows({}, flat, flat);
        items.erase(items.begin() + flat);
        endRemoveRows();
    }

    std::vector<TableItem> items;
};

namespace {

void drawChevron(QPainter* p, QPointF centre, double size, const QColor& color, double width) {
    QPainterPath path;
    path.moveTo(centre.x() - size / 3, centre.y() - size / 2);
    path.lineTo(centre.x() + size / 3, centre.y());
    path.lineTo(centre.x() - size / 3, centre.y() + size / 2);
    p->setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->setBrush(Qt::NoBrush);
    p->drawPath(path);
}

class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TableView* table) : QStyledItemDelegate(table), table_(table) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const auto& items = table_->tableModel()->items;
        if (index.row() >= static_cast<int>(items.size())) return {};
        const double h = items[static_cast<size_t>(index.row())].height;
        return QSize(option.rect.width(),
                     std::max(0, static_cast<int>(std::lround(h * PointScale::current().pixelsPerPoint()))));
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const auto& items = table_->tableModel()->items;
        if (index.row() >= static_cast<int>(items.size())) return;
        const TableItem& it = items[static_cast<size_t>(index.row())];
        const double s = PointScale::current().pixelsPerPoint();
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setRenderHint(QPainter::TextAntialiasing);
        p->setRenderHint(QPainter::SmoothPixmapTransform);
        p->translate(option.rect.topLeft());
        p->scale(s, s);
        const double w = option.rect.width() / s;
        const double h = option.rect.height() / s;
        if (it.isHeader)
            paintHeader(p, it.header, w, h);
        else
            paintCell(p, option, it, w, h);
        p->restore();
    }

private:
    void paintHeader(QPainter* p, const TableHeader& hd, double w, double h) const {
        const QColor bg = hd.backgroundColor.isValid() ? hd.backgroundColor : table_->headerBackgroundColor();
        if (bg.alpha() > 0) p->fillRect(QRectF(0, 0, w, h), bg);
        p->setFont(Fonts::systemInPoints(hd.fontPoints, hd.bold));
        p->setPen(hd.textColor.isValid() ? hd.textColor : table_->headerTextColor());
        const double tw = hd.width > 0 ? hd.width : w - 2 * hd.x;
        p->drawText(QRectF(hd.x, 0, tw, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, hd.title);
    }

    void paintCell(QPainter* p, const QStyleOptionViewItem& option, const TableItem& it, double w, double h) const {
        const TableCell& c = it.cell;
        const bool selected = (option.state & QStyle::State_Selected) && table_->allowsSelection() &&
                              c.selectionStyle != CellSelectionStyle::None;
        const QRectF row(0, 0, w, h);
        if (selected && c.selectionStyle == CellSelectionStyle::Blue) {
            QLinearGradient g(0, 0, 0, h);
            g.setColorAt(0, QColor(32, 138, 255));
            g.setColorAt(1, QColor(10, 98, 220));
            p->fillRect(row, g);
        } else if (selected) {
            p->fillRect(row, QColor(209, 209, 214));
        } else {
            p->fillRect(row, c.backgroundColor.isValid() ? c.backgroundColor : table_->cellBackgroundColor());
        }
        const bool inverted = selected && c.selectionStyle == CellSelectionStyle::Blue;

        double x = kMargin;
        if (table_->showsDeleteControl(it.path)) {
            const QPointF centre(kMargin + 11, h / 2);
            p->setPen(Qt::NoPen);
            p->setBrush(QColor(255, 59, 48));
            p->drawEllipse(centre, 11, 11);
            p->setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
            const bool confirming = table_->rowAwaitingDeletion() == it.path;
            if (confirming)
                p->drawLine(QPointF(centre.x(), centre.y() - 6), QPointF(centre.x(), centre.y() + 6));
            else
                p->drawLine(QPointF(centre.x() - 6, centre.y()), QPointF(centre.x() + 6, centre.y()));
            x = kDeleteControlWidth;
        }
        if (!c.image.isNull()) {
            QSizeF size = c.image.deviceIndependentSize();
            if (size.height() > h) size.scale(size.width() * h / size.height(), h, Qt::KeepAspectRatio);
            const QRectF target(x, (h - size.height()) / 2, size.width(), size.height());
            p->drawImage(target, c.image);
            x = target.right() + kMargin;
        }

        double right = w - kMargin;
        const bool confirming = table_->rowAwaitingDeletion() == it.path;
        if (confirming) {
            const QRectF button(w - kDeleteButtonWidth - 8, (h - 30) / 2, kDeleteButtonWidth, 30);
            p->setPen(Qt::NoPen);
            p->setBrush(QColor(255, 59, 48));
            p->drawRoundedRect(button, 6, 6);
            p->setPen(Qt::white);
            p->setFont(Fonts::systemInPoints(14, true));
            p->drawText(button, Qt::AlignCenter, QStringLiteral("Delete"));
            right = button.left() - 6;
        } else {
            right = paintAccessory(p, c, w, h, inverted);
        }

        const QColor textColor = inverted ? c.highlightedTextColor : c.textColor;
        QColor detailColor = c.detailTextColor;
        if (!detailColor.isValid())
            detailColor = c.style == CellStyle::Value1 ? QColor(56, 84, 135) : QColor(128, 128, 133);
        if (inverted) detailColor = c.highlightedTextColor;
        const QFont font = Fonts::systemInPoints(c.fontPoints, c.bold);
        const QFont detailFont = Fonts::systemInPoints(c.detailFontPoints, false);
        const int wrap = c.numberOfLines == 1 ? 0 : Qt::TextWordWrap;
        const double avail = std::max(0.0, right - x);

        auto draw = [&](const QRectF& r, const QFont& f, const QColor& col, const QString& text, int align) {
            p->setFont(f);
            p->setPen(col);
            QString shown = text;
            if (c.numberOfLines == 1) shown = QFontMetricsF(f).elidedText(text, Qt::ElideRight, r.width());
            p->drawText(r, align | wrap, shown);
        };

        switch (c.style) {
        case CellStyle::Default:
            draw(QRectF(x, 0, avail, h), font, textColor, c.text, Qt::AlignLeft | Qt::AlignVCenter);
            break;
        case CellStyle::Value1: {
            const double detailW =
                c.detailText.isEmpty()
                    ? 0.0
                    : std::min(avail * 0.55, QFontMetricsF(detailFont).horizontalAdvance(c.detailText) + 2);
            draw(QRectF(x, 0, avail - detailW - (detailW > 0 ? 6 : 0), h), font, textColor, c.text,
                 Qt::AlignLeft | Qt::AlignVCenter);
            if (detailW > 0)
                draw(QRectF(right - detailW, 0, detailW, h), detailFont, detailColor, c.detailText,
                     Qt::AlignRight | Qt::AlignVCenter);
            break;
        }
        case CellStyle::Subtitle: {
            const double th = QFontMetricsF(font).height();
            const double dh = QFontMetricsF(detailFont).height();
            const double top = std::max(0.0, (h - th - dh - 2) / 2);
            draw(QRectF(x, top, avail, th), font, textColor, c.text, Qt::AlignLeft | Qt::AlignVCenter);
            draw(QRectF(x, top + th + 2, avail, dh), detailFont, detailColor, c.detailText,
                 Qt::AlignLeft | Qt::AlignVCenter);
            break;
        }
        }

        p->setPen(QPen(table_->separatorColor(), 1.0 / PointScale::current().pixelsPerPoint()));
        p->drawLine(QPointF(kMargin, h - 0.25), QPointF(w, h - 0.25));

        if ((option.state & QStyle::State_HasFocus) && table_->hasFocus()) {
            theme::paintFocusRing(*p, row.adjusted(0.5, 0.5, -0.5, -0.5), 2.0, 4);
        }
    }

    // Draws the accessory at the right edge; returns where the texts must end.
    double paintAccessory(QPainter* p, const TableCell& c, double w, double h, bool inverted) const {
        const QPointF centre(w - kAccessoryWidth / 2, h / 2);
        switch (c.accessory) {
        case CellAccessory::None: return w - kMargin;
        case CellAccessory::DisclosureIndicator:
            drawChevron(p, centre + QPointF(6, 0), 12, inverted ? Qt::white : QColor(170, 170, 178), 2.2);
            return w - kAccessoryWidth + 8;
        case CellAccessory::Checkmark: {
            QPainterPath tick;
            tick.moveTo(centre.x() - 7, centre.y());
            tick.lineTo(centre.x() - 2, centre.y() + 5);
            tick.lineTo(centre.x() + 8, centre.y() - 7);
            p->setPen(
                QPen(inverted ? Qt::white : QColor(10, 110, 230), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p->setBrush(Qt::NoBrush);
            p->drawPath(tick);
            return w - kAccessoryWidth;
        }
        case CellAccessory::DetailDisclosureButton: {
            p->setPen(Qt::NoPen);
            p->setBrush(inverted ? QColor(255, 255, 255) : QColor(10, 116, 255));
            p->drawEllipse(centre, 11, 11);
            drawChevron(p, centre + QPointF(1.5, 0), 9, inverted ? QColor(10, 116, 255) : Qt::white, 2.4);
            return w - kAccessoryWidth;
        }
        }
        return w - kMargin;
    }

    TableView* table_;
};

}  // namespace

TableView::TableView(QWidget* parent) : QListView(parent), model_(new TableModel(this)) {
    setModel(model_);
    setItemDelegate(new CellDelegate(this));
    setUniformItemSizes(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setResizeMode(QListView::Adjust);
    setSpacing(0);
    setFocusPolicy(Qt::StrongFocus);
    setStyleSheet(QStringLiteral(
        "QListView { background: transparent; border: none; outline: none; }"
        "QScrollBar:vertical { width: 6px; background: transparent; margin: 2px; }"
        "QScrollBar::handle:vertical { background: rgba(120,120,128,0.55); border-radius: 2px; min-height: 24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"));
}

TableView::~TableView() = default;

void TableView::setDataSource(TableViewDataSource* dataSource) {
    dataSource_ = dataSource;
    reloadData();
}

void TableView::reloadData() {
    const std::optional<IndexPath> current = currentRow();
    std::vector<TableItem> items;
    if (dataSource_) {
        const int sections = std::max(0, dataSource_->numberOfSections(this));
        for (int s = 0; s < sections; ++s) {
            TableItem head;
            head.isHeader = true;
            head.path = {s, -1};
            dataSource_->headerForSection(this, s, head.header);
            head.height = head.header.height > 0 ? head.header.height : (head.header.title.isEmpty() ? 0.0 : 28.0);
            if (head.height > 0) items.push_back(std::move(head));
            const int rows = std::max(0, dataSource_->numberOfRows(this, s));
            for (int r = 0; r < rows; ++r) {
                TableItem item;
                item.path = {s, r};
                dataSource_->cellForRow(this, item.path, item.cell);
                item.height = std::max(0.0, dataSource_->heightForRow(this, item.path));
                items.push_back(std::move(item));
            }
        }
    }
    confirming_.reset();
    model_->reset(std::move(items));
    if (current && model_->flatIndex(*current) >= 0) {
        setCurrentRow(*current);
    } else {
        // The keyboard always has a row to start from.
        for (const TableItem& it : model_->items)
            if (!it.isHeader) {
                setCurrentRow(it.path);
                break;
            }
    }
}

void TableView::reloadRow(const IndexPath& indexPath) {
    const int flat = model_->flatIndex(indexPath);
    if (flat < 0 || !dataSource_) return;
    TableItem& item = model_->items[static_cast<size_t>(flat)];
    item.cell = TableCell();
    dataSource_->cellForRow(this, indexPath, item.cell);
    item.height = std::max(0.0, dataSource_->heightForRow(this, indexPath));
    model_->changed(flat);
    doItemsLayout();
}

void TableView::deleteRows(const QList<IndexPath>& indexPaths) {
    for (const IndexPath& p : indexPaths) {
        const int flat = model_->flatIndex(p);
        if (flat >= 0) model_->removeFlat(flat);
    }
    // Rows below a deleted one in its section move up by one.
    for (TableItem& it : model_->items) {
        if (it.isHeader) continue;
        int shift = 0;
        for (const IndexPath& p : indexPaths)
            if (p.section == it.path.section && p.row < it.path.row) ++shift;
        it.path.row -= shift;
    }
    confirming_.reset();
    viewport()->update();
}

int TableView::numberOfSections() const {
    int n = 0;
    for (const TableItem& it : model_->items) n = std::max(n, it.path.section + 1);
    return dataSource_ ? std::max(n, dataSource_->numberOfSections(const_cast<TableView*>(this))) : n;
}

int TableView::numberOfRows(int section) const {
    int n = 0;
    for (const TableItem& it : model_->items)
        if (!it.isHeader && it.path.section == section) ++n;
    return n;
}

TableCell* TableView::cellForRow(const IndexPath& indexPath) {
    const int flat = model_->flatIndex(indexPath);
    return flat < 0 ? nullptr : &model_->items[static_cast<size_t>(flat)].cell;
}

void TableView::cellChanged(const IndexPath& indexPath) {
    const int flat = model_->flatIndex(indexPath);
    if (flat >= 0) model_->changed(flat);
}

double TableView::heightOfRow(const IndexPath& indexPath) const {
    const int flat = model_->flatIndex(indexPath);
    return flat < 0 ? 0.0 : model_->items[static_cast<size_t>(flat)].height;
}

const TableHeader* TableView::header(int section) const {
    for (const TableItem& it : model_->items)
        if (it.isHeader && it.path.section == section) return &it.header;
    return nullptr;
}

QRect TableView::rectForRow(const IndexPath& indexPath) const {
    return visualRect(modelIndex(indexPath));
}

QModelIndex TableView::modelIndex(const IndexPath& indexPath) const {
    const int flat = model_->flatIndex(indexPath);
    return flat < 0 ? QModelIndex() : model_->index(flat);
}

std::optional<IndexPath> TableView::indexPathAt(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= static_cast<int>(model_->items.size())) return std::nullopt;
    const TableItem& it = model_->items[static_cast<size_t>(index.row())];
    if (it.isHeader) return std::nullopt;
    return it.path;
}

std::optional<IndexPath> TableView::rowAtPoint(const QPoint& viewportPixel) const {
    return indexPathAt(indexAt(viewportPixel));
}

void TableView::setAllowsSelection(bool allows) {
    allowsSelection_ = allows;
    if (!allows) clearSelection();
    viewport()->update();
}

void TableView::selectRow(const IndexPath& indexPath) {
    const QModelIndex i = modelIndex(indexPath);
    if (!i.isValid()) return;
    setCurrentIndex(i);
    if (allowsSelection_) selectionModel()->select(i, QItemSelectionModel::ClearAndSelect);
}

void TableView::deselectRow(const IndexPath& indexPath, bool animated) {
    auto clear = [this, indexPath] {
        const QModelIndex i = modelIndex(indexPath);
        if (i.isValid()) selectionModel()->select(i, QItemSelectionModel::Deselect);
    };
    if (!animated) {
        clear();
        return;
    }
    // The highlight stays a moment, so the user sees which row answered.
    QPointer<TableView> self(this);
    QTimer::singleShot(250, this, [self, clear] {
        if (self) clear();
    });
}

std::optional<IndexPath> TableView::indexPathForSelectedRow() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return std::nullopt;
    return indexPathAt(selected.first());
}

std::optional<IndexPath> TableView::currentRow() const {
    return indexPathAt(currentIndex());
}

void TableView::setCurrentRow(const IndexPath& indexPath) {
    const QModelIndex i = modelIndex(indexPath);
    if (i.isValid()) selectionModel()->setCurrentIndex(i, QItemSelectionModel::NoUpdate);
}

void TableView::setEditing(bool editing) {
    editing_ = editing;
    confirming_.reset();
    viewport()->update();
}

bool TableView::showsDeleteControl(const IndexPath& indexPath) const {
    return editing_ && dataSource_ && dataSource_->canEditRow(const_cast<TableView*>(this), indexPath);
}

void TableView::setCellBackgroundColor(const QColor& color) {
    cellBackground_ = color;
    viewport()->update();
}

void TableView::setHeaderBackgroundColor(const QColor& color) {
    headerBackground_ = color;
    viewport()->update();
}

void TableView::setHeaderTextColor(const QColor& color) {
    headerText_ = color;
    viewport()->update();
}

void TableView::setSeparatorColor(const QColor& color) {
    separator_ = color;
    viewport()->update();
}

double TableView::widthInPoints() const {
    return width() / PointScale::current().pixelsPerPoint();
}

TableView::Zone TableView::zoneAt(const IndexPath& indexPath, QPointF pt) const {
    const int flat = model_->flatIndex(indexPath);
    if (flat < 0) return Zone::Body;
    const double w = viewport()->width() / PointScale::current().pixelsPerPoint();
    if (confirming_ == indexPath && pt.x() >= w - kDeleteButtonWidth - 8) return Zone::DeleteButton;
    if (showsDeleteControl(indexPath) && pt.x() < kDeleteControlWidth) return Zone::DeleteControl;
    const TableCell& c = model_->items[static_cast<size_t>(flat)].cell;
    if (c.accessory == CellAccessory::DetailDisclosureButton && pt.x() >= w - kAccessoryWidth) return Zone::Accessory;
    return Zone::Body;
}

void TableView::tapRow(const IndexPath& indexPath) {
    if (!modelIndex(indexPath).isValid()) return;
    if (confirming_) {
        // A tap elsewhere withdraws a pending deletion, as on the phone.
        confirming_.reset();
        viewport()->update();
        return;
    }
    if (!allowsSelection_) return;
    selectRow(indexPath);
    emit rowSelected(indexPath);
    if (dataSource_) dataSource_->didSelectRow(this, indexPath);
}

void TableView::tapAccessory(const IndexPath& indexPath) {
    if (modelIndex(indexPath).isValid() && dataSource_) dataSource_->accessoryButtonTapped(this, indexPath);
}

void TableView::tapDeleteControl(const IndexPath& indexPath) {
    if (!showsDeleteControl(indexPath)) return;
    if (confirming_ == indexPath)
        confirming_.reset();
    else
        confirming_ = indexPath;
    viewport()->update();
}

void TableView::commitDeletion(const IndexPath& indexPath) {
    confirming_.reset();
    viewport()->update();
    if (dataSource_) dataSource_->commitDeletion(this, indexPath);
}

void TableView::mousePressEvent(QMouseEvent* event) {
    pressed_ = indexAt(event->position().toPoint());
    if (allowsSelection_ && !confirming_)
        QListView::mousePressEvent(event);
    else
        setFocus(Qt::MouseFocusReason);
}

void TableView::mouseReleaseEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (allowsSelection_) QListView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !index.isValid() || index != pressed_) return;
    const std::optional<IndexPath> path = indexPathAt(index);
    if (!path) return;
    const double s = PointScale::current().pixelsPerPoint();
    const QPointF inRow = (event->position() - QPointF(visualRect(index).topLeft())) / s;
    switch (zoneAt(*path, inRow)) {
    case Zone::DeleteButton: commitDeletion(*path); break;
    case Zone::DeleteControl: tapDeleteControl(*path); break;
    case Zone::Accessory: tapAccessory(*path); break;
    case Zone::Body: tapRow(*path); break;
    }
}

bool TableView::event(QEvent* e) {
    // Escape withdraws a pending deletion before any screen shortcut sees it.
    if (e->type() == QEvent::ShortcutOverride && confirming_ && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
        e->accept();
        return true;
    }
    return QListView::event(e);
}

void TableView::keyPressEvent(QKeyEvent* event) {
    const std::optional<IndexPath> current = currentRow();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (current) {
            if (confirming_ == current)
                commitDeletion(*current);
            else
                tapRow(*current);
        }
        event->accept();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (current && showsDeleteControl(*current) && confirming_ != current) {
            confirming_ = current;
            viewport()->update();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (confirming_) {
            confirming_.reset();
            viewport()->update();
            event->accept();
            return;
        }
        break;
    default: break;
    }
    const QModelIndex before = currentIndex();
    QListView::keyPressEvent(event);
    // Moving the cursor only moves the focus frame; choosing is Return's job.
    if (currentIndex() != before && !allowsSelection_) clearSelection();
}

void TableView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    // Rows of wrapped text are as tall as the new width makes them (a screen that widens or
    // narrows with a landscape window).
    if (dataSource_ && event->oldSize().width() != event->size().width())
        for (TableItem& item : model_->items)
            if (!item.isHeader) item.height = std::max(0.0, dataSource_->heightForRow(this, item.path));
    doItemsLayout();
}

}  // namespace ui
