#pragma once
// A table of sections and rows, as phone screens use them: rows in the default, value-1 and
// subtitle cell styles, with images, checkmarks, disclosure indicators and detail-disclosure
// buttons; section headers; per-row heights in points; selection with or without highlight; an
// editing mode with a delete control per row. Built on QListView with a model and a delegate;
// the screen answers the questions of TableViewDataSource.
//
// Keyboard: the arrows move between rows, Return/Enter/Space select the current row, and in
// editing mode Delete asks for a row's deletion, which Return confirms and Escape withdraws.

#include <QColor>
#include <QImage>
#include <QListView>
#include <QPointer>
#include <QString>

#include <optional>

namespace ui {

struct IndexPath {
    int section = 0;
    int row = 0;
    bool operator==(const IndexPath&) const = default;
};

enum class CellStyle { Default, Value1, Subtitle };
enum class CellAccessory { None, DisclosureIndicator, DetailDisclosureButton, Checkmark };
enum class CellSelectionStyle { None, Blue, Gray };

struct TableCell {
    CellStyle style = CellStyle::Default;
    QString text;
    QString detailText;
    QImage image;  // drawn at its size in points (device pixel ratio honoured), fitted to the row
    CellAccessory accessory = CellAccessory::None;
    CellSelectionStyle selectionStyle = CellSelectionStyle::Blue;
    double fontPoints = 17;
    bool bold = false;
    double detailFontPoints = 15;
    QColor textColor = Qt::black;
    QColor highlightedTextColor = Qt::white;
    QColor detailTextColor;  // invalid: the style's own
    QColor backgroundColor;  // invalid: the table's cell colour
    int numberOfLines = 1;   // 0: as many lines as the text needs
    QString accessibleName;  // empty: the texts
};

struct TableHeader {
    QString title;
    double height = 0;  // 0: 28 points when there is a title, else no header
    double fontPoints = 15;
    bool bold = true;
    QColor textColor;        // invalid: the table's header colour
    QColor backgroundColor;  // invalid: the table's header background; Qt::transparent for none
    double x = 10;           // the title's box within the header, in points
    double width = 0;        // 0: to the right edge less x
};

class TableView;

// What a screen tells its table. Every operation has a do-nothing default.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSections(TableView* table);
    virtual int numberOfRows(TableView* table, int section);
    virtual void cellForRow(TableView* table, const IndexPath& indexPath, TableCell& cell);
    virtual double heightForRow(TableView* table, const IndexPath& indexPath);  // default 44
    virtual void headerForSection(TableView* table, int section, TableHeader& header);
    virtual void didSelectRow(TableView* table, const IndexPath& indexPath);
    virtual void accessoryButtonTapped(TableView* table, const IndexPath& indexPath);
    virtual bool canEditRow(TableView* table, const IndexPath& indexPath);  // default false
    virtual void commitDeletion(TableView* table, const IndexPath& indexPath);
};

class TableModel;

class TableView : public QListView {
    Q_OBJECT
public:
    explicit TableView(QWidget* parent = nullptr);
    ~TableView() override;

    void setDataSource(TableViewDataSource* dataSource);  // not owned
    // Asks the data source for everything again.
    void reloadData();
    // Asks again for one row's cell and height.
    void reloadRow(const IndexPath& indexPath);
    // Removes rows the data source has already dropped, keeping the others as they are.
    void deleteRows(const QList<IndexPath>& indexPaths);

    int numberOfSections() const;
    int numberOfRows(int section) const;
    // The cell as last filled; nullptr for a row that does not exist. After changing it, call
    // cellChanged() so it is drawn again.
    TableCell* cellForRow(const IndexPath& indexPath);
    void cellChanged(const IndexPath& indexPath);
    double heightOfRow(const IndexPath& indexPath) const;  // points; 0 for no such row
    const TableHeader* header(int section) const;
    QRect rectForRow(const IndexPath& indexPath) const;  // viewport pixels
    // The row under a point of the viewport (pixels), if any.
    std::optional<IndexPath> rowAtPoint(const QPoint& viewportPixel) const;

    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool allows);
    void selectRow(const IndexPath& indexPath);
    void deselectRow(const IndexPath& indexPath, bool animated);
    std::optional<IndexPath> indexPathForSelectedRow() const;
    std::optional<IndexPath> currentRow() const;
    void setCurrentRow(const IndexPath& indexPath);

    bool isEditing() const { return editing_; }
    void setEditing(bool editing);
    // The row whose red Delete button shows, waiting for confirmation.
    std::optional<IndexPath> rowAwaitingDeletion() const { return confirming_; }

    // The same as a tap on the row's body, on its accessory, on its delete control.
    void tapRow(const IndexPath& indexPath);
    void tapAccessory(const IndexPath& indexPath);
    void tapDeleteControl(const IndexPath& indexPath);

    QColor cellBackgroundColor() const { return cellBackground_; }
    void setCellBackgroundColor(const QColor& color);
    QColor headerBackgroundColor() const { return headerBackground_; }
    void setHeaderBackgroundColor(const QColor& color);
    QColor headerTextColor() const { return headerText_; }
    void setHeaderTextColor(const QColor& color);
    QColor separatorColor() const { return separator_; }
    void setSeparatorColor(const QColor& color);

    // Where in a row (in points from its top left) a tap at `pixel` lands; internal geometry
    // shared by painting and hit testing.
    enum class Zone { Body, Accessory, DeleteControl, DeleteButton };
    Zone zoneAt(const IndexPath& indexPath, QPointF pointInRow) const;
    double widthInPoints() const;

    // For the painting delegate.
    TableModel* tableModel() const { return model_; }
    bool showsDeleteControl(const IndexPath& indexPath) const;

signals:
    void rowSelected(const ui::IndexPath& indexPath);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::optional<IndexPath> indexPathAt(const QModelIndex& index) const;
    QModelIndex modelIndex(const IndexPath& indexPath) const;
    void commitDeletion(const IndexPath& indexPath);

    TableViewDataSource* dataSource_ = nullptr;
    TableModel* model_;
    bool allowsSelection_ = true;
    bool editing_ = false;
    std::optional<IndexPath> confirming_;
    QPersistentModelIndex pressed_;
    QColor cellBackground_ = Qt::white;
    QColor headerBackground_ = QColor(242, 242, 247);
    QColor headerText_ = QColor(60, 60, 67);
    QColor separator_ = QColor(216, 216, 222);
};

}  // namespace ui
