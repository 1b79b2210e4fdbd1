#include "orvo/widgets/page_list.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace orvo::widgets {

namespace {

constexpr int kMarkingRole = Qt::UserRole + 1;
constexpr int kTwipsPerInch = 1440;
// A window's tab order is walked this far at most.
constexpr int kMaxFocusChainSteps = 10000;

// Paints cells as usual and frames the current cell (the list keeps no
// selection, so a marked cell shows its colour also while it is current).
class CurrentCellDelegate : public QStyledItemDelegate {
  public:
    CurrentCellDelegate(QTableWidget* table, const int* highlight)
        : QStyledItemDelegate(table), table_(table), highlight_(highlight) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        const bool current = index == table_->currentIndex();
        const bool show = *highlight_ == 1 || (*highlight_ == 2 && table_->hasFocus());
        if (current && show) {
            painter->save();
            painter->setPen(QPen(option.palette.color(QPalette::Highlight), 2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
            painter->restore();
        }
    }

  private:
    QTableWidget* table_;
    const int* highlight_;
};

}  // namespace

PageList::PageList(QWidget* parent) : QWidget(parent), table_(new QTableWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
    // Page names and MICR records line up in a fixed-pitch font.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(std::min(font.pointSizeF(), 8.5));
    table_->setFont(font);
    table_->setColumnCount(2);
    table_->setRowCount(0);
    table_->horizontalHeader()->hide();
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setWordWrap(false);
    table_->setItemDelegate(new CurrentCellDelegate(table_, &highlight_));
    table_->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    setFocusProxy(table_);
    // Tab and Shift+Tab leave the list for the next control; the arrow keys
    // move between its cells.
    table_->setTabKeyNavigation(false);

    connect(table_, &QTableWidget::cellClicked, this, [this](int r, int c) {
        row_ = r;
        col_ = c;
        emit clicked();
    });
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int r, int c, int, int) {
        if (moving_ || r < 0 || c < 0) return;
        row_ = r;
        col_ = c;
        // Clicks report themselves; only keyboard moves are told here.
        if (!mousePressed_) {
            emit cellEntered();
        }
    });
}

int PageList::rows() const {
    return table_->rowCount();
}

void PageList::setRows(int rows) {
    // Rows the program drops or adds move no current cell of the operator's.
    moving_ = true;
    table_->setRowCount(std::max(0, rows));
    moving_ = false;
    if (row_ >= this->rows()) row_ = std::max(0, this->rows() - 1);
    moveCurrent();
}

int PageList::cols() const {
    return table_->columnCount();
}

void PageList::setCols(int cols) {
    table_->setColumnCount(std::max(0, cols));
}

void PageList::setRow(int row) {
    if (row < 0 || row >= rows()) return;
    row_ = row;
    moveCurrent();
}

void PageList::setCol(int col) {
    if (col < 0 || col >= cols()) return;
    col_ = col;
    moveCurrent();
}

void PageList::moveCurrent() {
    if (row_ >= rows() || col_ >= cols()) return;
    moving_ = true;
    table_->setCurrentCell(row_, col_, QItemSelectionModel::NoUpdate);
    moving_ = false;
}

QTableWidgetItem* PageList::itemAt(int row, int col, bool create) {
    if (row < 0 || col < 0 || row >= rows() || col >= cols()) return nullptr;
    QTableWidgetItem* item = table_->item(row, col);
    if (!item && create) {
        item = new QTableWidgetItem;
        table_->setItem(row, col, item);
    }
    return item;
}

QString PageList::cellText(int row, int col) const {
    if (row < 0 || col < 0 || row >= rows() || col >= cols()) return QString();
    const QTableWidgetItem* item = table_->item(row, col);
    return item ? item->text() : QString();
}

QString PageList::text() const {
    return cellText(row_, col_);
}

void PageList::setText(const QString& text) {
    if (QTableWidgetItem* item = itemAt(row_, col_, true)) item->setText(text);
}

void PageList::setCellMarking(uint32_t colour) {
    QTableWidgetItem* item = itemAt(row_, col_, true);
    if (!item) return;
    item->setData(kMarkingRole, colour);
    if (colour == 0) {
        item->setData(Qt::BackgroundRole, QVariant());
    } else {
        item->setBackground(QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    }
}

uint32_t PageList::cellMarkingAt(int row, int col) const {
    if (row < 0 || col < 0 || row >= rows() || col >= cols()) return 0;
    const QTableWidgetItem* item = table_->item(row, col);
    return item ? item->data(kMarkingRole).toUInt() : 0;
}

uint32_t PageList::cellMarking() const {
    return cellMarkingAt(row_, col_);
}

void PageList::setTopRow(int row) {
    if (row < 0 || row >= rows()) return;
    table_->scrollTo(table_->model()->index(row, 0), QAbstractItemView::PositionAtTop);
}

void PageList::setRedraw(bool redraw) {
    table_->setUpdatesEnabled(redraw);
}

void PageList::setHighlight(int mode) {
    highlight_ = std::clamp(mode, 0, 2);
    table_->viewport()->update();
}

void PageList::setColumnWidthTwips(int col, int twips) {
    if (col < 0 || col >= cols() || twips < 0) return;
    table_->setColumnWidth(col, static_cast<int>(std::lround(static_cast<double>(twips) *
                                                             logicalDpiX() / kTwipsPerInch)));
    table_->horizontalHeader()->resizeSection(col, table_->columnWidth(col));
}

int PageList::columnWidthTwips(int col) const {
    if (col < 0 || col >= cols()) return 0;
    return static_cast<int>(
        std::lround(static_cast<double>(table_->columnWidth(col)) * kTwipsPerInch / logicalDpiX()));
}

void PageList::removeRow(int row) {
    if (row < 0 || row >= rows()) return;
    moving_ = true;
    table_->removeRow(row);
    moving_ = false;
    if (row_ >= rows()) row_ = std::max(0, rows() - 1);
    moveCurrent();
}

void PageList::clearCells() {
    table_->clearContents();
}

void PageList::refresh() {
    table_->viewport()->update();
}

bool PageList::LeaveByTab(bool forward) {
    // The next (or previous) control of the window's tab order outside the list.
    QWidget* w = table_;
    for (int steps = 0; steps < kMaxFocusChainSteps; ++steps) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == nullptr || w == table_) return false;
        if (w == this || isAncestorOf(w) || w->window() != window()) continue;
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisible() && w->isEnabled() &&
            w->focusProxy() == nullptr) {
            w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

bool PageList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            const bool forward =
                key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
            if (LeaveByTab(forward)) return true;
        }
        if (!key->text().isEmpty()) {
            const QChar typed = key->text().at(0);
            emit keyPressed(typed.unicode());
            // A typed character is the program's command, not a search: the
            // current cell stays where it is (no type-ahead to a row whose
            // name begins with it).
            if (typed.isPrint() && !typed.isSpace()) return true;
        }
    } else if (watched == table_->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) mousePressed_ = true;
        if (event->type() == QEvent::MouseButtonRelease) mousePressed_ = false;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace orvo::widgets
