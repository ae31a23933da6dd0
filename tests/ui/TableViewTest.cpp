#include "ui/PointScale.h"
#include "ui/TableView.h"
#include "ui/ViewController.h"
#include "ui/Window.h"

#include "support/GuiApp.h"

#include <QTest>

#include <gtest/gtest.h>

using ui::IndexPath;

namespace {

// Two sections of rows; the second section's rows can be deleted.
class Source : public ui::TableViewDataSource {
public:
    QList<QStringList> rows{{"Instructions"}, {"One", "Two", "Three"}};
    QList<IndexPath> selected, accessories, deleted;

    int numberOfSections(ui::TableView*) override { return static_cast<int>(rows.size()); }
    int numberOfRows(ui::TableView*, int section) override { return static_cast<int>(rows.value(section).size()); }
    void cellForRow(ui::TableView*, const IndexPath& p, ui::TableCell& cell) override {
        cell.style = p.section == 0 ? ui::CellStyle::Value1 : ui::CellStyle::Subtitle;
        cell.text = rows[p.section][p.row];
        cell.detailText = QStringLiteral("detail %1").arg(p.row);
        cell.accessory =
            p.section == 0 ? ui::CellAccessory::DisclosureIndicator : ui::CellAccessory::DetailDisclosureButton;
    }
    double heightForRow(ui::TableView*, const IndexPath& p) override { return p.section == 0 ? 40 : 80; }
    void headerForSection(ui::TableView*, int section, ui::TableHeader& h) override {
        h.title = section == 1 ? QStringLiteral("Movies") : QString();
        h.height = section == 1 ? 44 : 0;
    }
    void didSelectRow(ui::TableView*, const IndexPath& p) override { selected << p; }
    void accessoryButtonTapped(ui::TableView*, const IndexPath& p) override { accessories << p; }
    bool canEditRow(ui::TableView*, const IndexPath& p) override { return p.section == 1; }
    void commitDeletion(ui::TableView* table, const IndexPath& p) override {
        deleted << p;
        rows[p.section].removeAt(p.row);
        table->deleteRows({p});
    }
};

struct Table : testsupport::GuiAppFirst {
    explicit Table(QSize windowSize = {320, 480}) {
        testsupport::guiApp();
        window.resize(windowSize);
        screen = new ui::ViewController();
        table = new ui::TableView();
        screen->addSubview(table, QRectF(0, 0, 320, 480));
        window.setRootViewController(screen);
        window.show();
        QApplication::setActiveWindow(&window);
        table->setDataSource(&source);
        table->setFocus();
        QCoreApplication::processEvents();
    }
    ~Table() { table->setDataSource(nullptr); }
    QPoint pointInRow(const IndexPath& p, double xPoints) const {
        const QRect r = table->rectForRow(p);
        return QPoint(static_cast<int>(xPoints * window.pointScale().pixelsPerPoint()), r.center().y());
    }
    Source source;
    ui::Window window;
    ui::ViewController* screen;
    ui::TableView* table;
};

}  // namespace

TEST(TableView, SectionsRowsHeadersAndHeightsInPointsAtEveryScale) {
    for (const QSize size : {QSize(320, 480), QSize(640, 960)}) {
        Table t(size);
        const double s = t.window.pointScale().pixelsPerPoint();
        EXPECT_EQ(t.table->numberOfSections(), 2);
        EXPECT_EQ(t.table->numberOfRows(0), 1);
        EXPECT_EQ(t.table->numberOfRows(1), 3);
        EXPECT_EQ(t.table->header(0), nullptr);  // no title, no height: no header
        ASSERT_NE(t.table->header(1), nullptr);
        EXPECT_EQ(t.table->header(1)->title, "Movies");
        EXPECT_EQ(t.table->rectForRow({0, 0}).height(), qRound(40 * s));
        EXPECT_EQ(t.table->rectForRow({1, 2}).height(), qRound(80 * s));
        // Rows follow one another below the 44-point header.
        EXPECT_EQ(t.table->rectForRow({1, 0}).top(), qRound((40 + 44) * s));
        EXPECT_EQ(t.table->rectForRow({1, 1}).top(), qRound((40 + 44 + 80) * s));
        EXPECT_EQ(t.table->cellForRow({1, 1})->text, "Two");
        EXPECT_EQ(t.table->cellForRow({2, 0}), nullptr);
        EXPECT_EQ(t.table->model()->data(t.table->model()->index(0, 0), Qt::AccessibleTextRole).toString(),
                  "Instructions, detail 0");
    }
}

TEST(TableView, ClicksReachTheRowTheAccessoryAndTheDeleteControls) {
    Table t(QSize(640, 960));
    QTest::mouseClick(t.table->viewport(), Qt::LeftButton, {}, t.pointInRow({1, 1}, 100));
    ASSERT_EQ(t.source.selected.size(), 1);
    EXPECT_EQ(t.source.selected[0], (IndexPath{1, 1}));
    EXPECT_EQ(t.table->indexPathForSelectedRow(), (IndexPath{1, 1}));
    // The detail-disclosure button at the right edge is its own target.
    QTest::mouseClick(t.table->viewport(), Qt::LeftButton, {}, t.pointInRow({1, 2}, 300));
    EXPECT_EQ(t.source.accessories, (QList<IndexPath>{{1, 2}}));
    EXPECT_EQ(t.source.selected.size(), 1);

    t.table->setEditing(true);
    EXPECT_FALSE(t.table->showsDeleteControl({0, 0}));
    EXPECT_TRUE(t.table->showsDeleteControl({1, 0}));
    QTest::mouseClick(t.table->viewport(), Qt::LeftButton, {}, t.pointInRow({1, 0}, 15));
    EXPECT_EQ(t.table->rowAwaitingDeletion(), (IndexPath{1, 0}));
    EXPECT_TRUE(t.source.deleted.isEmpty());  // the red control only asks
    QTest::mouseClick(t.table->viewport(), Qt::LeftButton, {}, t.pointInRow({1, 0}, 300));
    EXPECT_EQ(t.source.deleted, (QList<IndexPath>{{1, 0}}));
    // The rows below moved up and keep their own cells.
    EXPECT_EQ(t.table->numberOfRows(1), 2);
    EXPECT_EQ(t.table->cellForRow({1, 0})->text, "Two");
    EXPECT_EQ(t.table->cellForRow({1, 1})->text, "Three");
    EXPECT_FALSE(t.table->rowAwaitingDeletion());
}

TEST(TableView, KeyboardMovesSelectsAndDeletesWithConfirmation) {
    Table t;
    t.table->setCurrentRow({0, 0});
    QTest::keyClick(t.table, Qt::Key_Down);  // past the header, onto the next section
    EXPECT_EQ(t.table->currentRow(), (IndexPath{1, 0}));
    QTest::keyClick(t.table, Qt::Key_Down);
    QTest::keyClick(t.table, Qt::Key_Return);
    EXPECT_EQ(t.source.selected, (QList<IndexPath>{{1, 1}}));

    // Outside editing mode Delete does nothing.
    QTest::keyClick(t.table, Qt::Key_Delete);
    EXPECT_FALSE(t.table->rowAwaitingDeletion());
    t.table->setEditing(true);
    QTest::keyClick(t.table, Qt::Key_Delete);
    EXPECT_EQ(t.table->rowAwaitingDeletion(), (IndexPath{1, 1}));
    QTest::keyClick(t.table, Qt::Key_Escape);  // withdrawn
    EXPECT_FALSE(t.table->rowAwaitingDeletion());
    EXPECT_TRUE(t.source.deleted.isEmpty());
    QTest::keyClick(t.table, Qt::Key_Delete);
    QTest::keyClick(t.table, Qt::Key_Return);
    EXPECT_EQ(t.source.deleted, (QList<IndexPath>{{1, 1}}));
    EXPECT_EQ(t.source.selected.size(), 1);  // confirming is not selecting
}

TEST(TableView, WithoutSelectionTapsChooseNothing) {
    Table t;
    t.table->setAllowsSelection(false);
    QTest::mouseClick(t.table->viewport(), Qt::LeftButton, {}, t.pointInRow({1, 0}, 100));
    t.table->tapRow({1, 1});
    EXPECT_TRUE(t.source.selected.isEmpty());
    EXPECT_FALSE(t.table->indexPathForSelectedRow());
}

TEST(TableView, AnimatedDeselectionLeavesTheHighlightForAMoment) {
    Table t;
    t.table->selectRow({1, 0});
    t.table->deselectRow({1, 0}, true);
    EXPECT_EQ(t.table->indexPathForSelectedRow(), (IndexPath{1, 0}));
    EXPECT_TRUE(testsupport::spinUntil([&] { return !t.table->indexPathForSelectedRow(); }, 10000));
    t.table->selectRow({1, 2});
    t.table->deselectRow({1, 2}, false);
    EXPECT_FALSE(t.table->indexPathForSelectedRow());
}

TEST(TableView, ReloadAsksAgainAndKeepsTheCurrentRow) {
    Table t;
    t.table->setCurrentRow({1, 2});
    t.source.rows[1][2] = QStringLiteral("Changed");
    t.table->reloadData();
    EXPECT_EQ(t.table->cellForRow({1, 2})->text, "Changed");
    EXPECT_EQ(t.table->currentRow(), (IndexPath{1, 2}));
    t.source.rows[1][0] = QStringLiteral("Again");
    t.table->reloadRow({1, 0});
    EXPECT_EQ(t.table->cellForRow({1, 0})->text, "Again");
}
