// The page list on its own: cells by index, the current cell, markings,
// widths in twips, row removal, emptying, and the signals an operator's
// clicks and keys raise (and a program's moves do not).
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include "orvo/testing/qt_test_main.h"
#include "orvo/widgets/page_list.h"

using orvo::widgets::PageList;

class PageListTest : public QObject {
    Q_OBJECT

  private:
    // Two columns with a batch's worth of rows, as the scan run fills them.
    static void Fill(PageList& list, int pages) {
        list.setCols(2);
        for (int p = 0; p < pages; ++p) {
            list.setRows(p + 1);
            list.setCol(0);
            list.setRow(p);
            list.setText(QStringLiteral("A%1F").arg(p, 6, 10, QLatin1Char('0')));
            list.setTopRow(p);
            list.setCol(1);
            list.setText(QStringLiteral("record %1").arg(p));
        }
    }

  private slots:
    void cellsByIndex() {
        PageList list;
        list.setCols(2);
        list.setRows(0);
        QCOMPARE(list.rows(), 0);
        QCOMPARE(list.text(), QString());
        list.setText("ignored");  // no cell yet
        list.setRows(3);
        list.setRow(2);
        list.setCol(1);
        list.setText("r2c1");
        QCOMPARE(list.row(), 2);
        QCOMPARE(list.col(), 1);
        QCOMPARE(list.text(), QString("r2c1"));
        QCOMPARE(list.cellText(2, 1), QString("r2c1"));
        QCOMPARE(list.cellText(0, 0), QString());
        // Outside the grid nothing moves.
        list.setRow(3);
        list.setCol(-1);
        QCOMPARE(list.row(), 2);
        QCOMPARE(list.col(), 1);
        QCOMPARE(list.cellText(7, 0), QString());
    }

    void markingShowsYellow() {
        PageList list;
        Fill(list, 3);
        list.setRow(1);
        list.setCol(0);
        list.setCellMarking(PageList::kMarkedYellow);
        QCOMPARE(list.cellMarking(), PageList::kMarkedYellow);
        QCOMPARE(list.table()->item(1, 0)->background().color(), QColor(255, 255, 0));
        QCOMPARE(list.cellMarkingAt(0, 0), 0u);
        // 0 is the normal colour again.
        list.setCellMarking(0);
        QCOMPARE(list.cellMarking(), 0u);
        QCOMPARE(list.table()->item(1, 0)->background().style(), Qt::NoBrush);
        // Other colours are 0x00BBGGRR.
        list.setCellMarking(0x00FF0000);
        QCOMPARE(list.table()->item(1, 0)->background().color(), QColor(0, 0, 255));

        // A marked cell shows its colour also while it is the current cell.
        list.setCellMarking(PageList::kMarkedYellow);
        list.resize(400, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QRect cell = list.table()->visualRect(list.table()->model()->index(1, 0));
        const QImage shot = list.table()->viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(cell.center() + QPoint(cell.width() / 2 - 6, 0)),
                 QColor(255, 255, 0));
    }

    void widthsInTwips() {
        PageList list;
        list.setCols(2);
        list.setColumnWidthTwips(0, 900);
        list.setColumnWidthTwips(1, 4500);
        const int dpi = list.logicalDpiX();
        QCOMPARE(list.table()->columnWidth(0), qRound(900.0 * dpi / 1440));
        QCOMPARE(list.table()->columnWidth(1), qRound(4500.0 * dpi / 1440));
        QCOMPARE(list.columnWidthTwips(0), 900);
        QCOMPARE(list.columnWidthTwips(1), 4500);
    }

    void removeAndEmpty() {
        PageList list;
        Fill(list, 4);
        list.setRow(1);
        list.setCol(0);
        list.setCellMarking(PageList::kMarkedYellow);
        QSignalSpy entered(&list, &PageList::cellEntered);
        list.removeRow(1);
        QCOMPARE(list.rows(), 3);
        // The current cell stays on its index, now the next page's name, and
        // the removal is no move of the operator's.
        QCOMPARE(list.row(), 1);
        QCOMPARE(list.table()->currentRow(), 1);
        QCOMPARE(list.text(), QString("A000002F"));
        QCOMPARE(entered.count(), 0);
        QCOMPARE(list.cellText(1, 0), QString("A000002F"));
        QCOMPARE(list.cellMarkingAt(1, 0), 0u);
        list.removeRow(7);
        QCOMPARE(list.rows(), 3);
        list.setRow(2);
        list.removeRow(2);
        QCOMPARE(list.row(), 1);  // still inside the grid

        list.setRow(0);
        list.setCellMarking(PageList::kMarkedYellow);
        list.clearCells();
        QCOMPARE(list.rows(), 2);
        QCOMPARE(list.cols(), 2);
        QCOMPARE(list.cellText(0, 0), QString());
        QCOMPARE(list.cellText(1, 1), QString());
        QCOMPARE(list.cellMarkingAt(0, 0), 0u);
        list.setRows(0);
        QCOMPARE(list.rows(), 0);
        QCOMPARE(entered.count(), 0);
    }

    void topRowFollowsTheLastPage() {
        PageList list;
        list.resize(300, 80);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        Fill(list, 50);
        QTableWidget* table = list.table();
        // The last page is in sight.
        QCOMPARE(table->rowAt(table->viewport()->height() - 1), 49);
        QVERIFY(table->rowAt(0) > 40);
        list.setTopRow(10);
        QCOMPARE(table->rowAt(0), 10);
    }

    void clicksAndKeysOfTheOperator() {
        PageList list;
        list.resize(400, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        Fill(list, 5);
        QSignalSpy clicked(&list, &PageList::clicked);
        QSignalSpy entered(&list, &PageList::cellEntered);
        QSignalSpy keys(&list, &PageList::keyPressed);

        // The program's own moves raise nothing.
        list.setRow(0);
        list.setCol(0);
        QCOMPARE(clicked.count() + entered.count(), 0);

        QTableWidget* table = list.table();
        const QRect cell = table->visualRect(table->model()->index(3, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(entered.count(), 0);
        QCOMPARE(list.row(), 3);
        QCOMPARE(list.col(), 1);
        QCOMPARE(list.text(), QString("record 3"));

        QTest::keyClick(table, Qt::Key_Up);
        QCOMPARE(entered.count(), 1);
        QCOMPARE(list.row(), 2);

        // Typed characters do not search: "r" would otherwise move on to
        // "record 3", and a command would act on another row.
        QTest::keyClick(table, 'r');
        QCOMPARE(list.row(), 2);
        QCOMPARE(list.col(), 1);
        QCOMPARE(entered.count(), 1);

        QTest::keyClick(table, 'd');
        QTest::keyClick(table, 'D');
        QCOMPARE(keys.count(), 3);
        QCOMPARE(keys.at(1).at(0).toInt(), 100);
        QCOMPARE(keys.at(2).at(0).toInt(), 68);
        QCOMPARE(list.row(), 2);
        QTest::keyClick(table, Qt::Key_Down);
        QCOMPARE(list.row(), 3);
        QCOMPARE(entered.count(), 2);
    }
};

ORVO_QT_TEST(PageListTest);
#include "page_list_test.moc"
