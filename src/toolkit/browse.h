// The table-bound browse grid. The grid never reads the whole table: it asks
// its row source for the number of keys (the vertical range), goes to a key
// position for the first row of a page it has to draw, and reads that page
// with next-record steps; then it puts the record pointer back where it was.
// The grid's current row and the table's record pointer move together.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <QPointer>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "xbase/value.h"

namespace tk {

inline const QColor kFocusedRowBg{0, 228, 0};
inline const QColor kHeaderBg{0, 0, 128};
inline const QColor kOrderHeaderBg{128, 0, 0};
inline const QColor kBrowseBg{245, 245, 245};

// What the grid needs of a work area in its controlling order, scope and filter.
class RowSource {
  public:
    virtual ~RowSource() = default;
    // Number of keys (rows) in the order within the scope (ORDKEYCOUNT).
    virtual int64_t keyCount() = 0;
    // Position of the current record among them, from 1; 0 when at the end.
    virtual int64_t keyNo() = 0;
    // Goes to the row at `n` (from 1); false when there is none.
    virtual bool goKeyNo(int64_t n) = 0;
    // Next row; false when past the last one.
    virtual bool skip() = 0;
    virtual uint32_t recNo() = 0;
    virtual void goRecord(uint32_t recno) = 0;
    // Relative moves, which an index does without counting keys; the
    // defaults go through key positions.
    virtual bool skipBy(int64_t n) {
        const int64_t k = keyNo();
        return k > 0 && goKeyNo(k + n);
    }
    virtual bool goLast() { return goKeyNo(keyCount()); }
    // The controlling order's number (0 = record order).
    virtual int order() { return 0; }
    // Changes whenever the rows may have changed, this workstation's writes
    // or another's (file size, header date, index version...). 0 = unknown.
    virtual uint64_t changeStamp() { return 0; }
};

struct BrowseColumn {
    QString header;
    std::function<xb::Value()> value;  // evaluated with the row's record current
    int width = 0;                     // pixels; 0 = from header and picture
    std::string picture;               // TRANSFORM-style; empty = the value as it is
    Qt::Alignment align = {};          // empty = numbers right, the rest left
    int keyOfOrder = 0;                // this column is the key of that order
};

class BrowseModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    BrowseModel(RowSource* source, std::vector<BrowseColumn> columns, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // The text a value shows in `column`, as a cell shows it.
    QString shownText(const xb::Value& v, int column) const {
        return cellText(v, columns_.at(static_cast<size_t>(column)));
    }

    RowSource* source() const { return source_; }
    const std::vector<BrowseColumn>& columns() const { return columns_; }
    // Re-reads the key count and forgets every row read.
    void reload();
    // Forgets the rows read (they are read again when drawn); the count stays.
    void forgetRows();
    // Number of source calls made so far (positionings and steps), for the
    // benchmark and for tests that check that a page reads a bounded number.
    int64_t sourceReads() const { return reads_; }
    // Rows read at once when a row not in memory is asked for: a screenful.
    void setPageSize(int rows) { page_ = std::max(rows, 1); }
    int pageSize() const { return page_; }
    static constexpr int kPage = 32;

  private:
    const std::vector<QString>* row(int r) const;
    bool positionOn(int r) const;
    QString cellText(const xb::Value& v, const BrowseColumn& c) const;

    RowSource* source_;
    std::vector<BrowseColumn> columns_;
    int rows_ = 0;
    int page_ = kPage;
    mutable std::map<int, std::vector<QString>> cache_;
    mutable std::map<int, uint32_t> recnos_;  // record of every row in cache_
    mutable int64_t reads_ = 0;
};

// The font and alignment a heading is painted with in `room` pixels: a
// heading wider than its column is set smaller, down to three quarters of
// `font`'s size; what still does not fit is aligned left, so that its
// beginning shows rather than a tail such as "ANTIDAD".
QFont fitHeading(QFont font, const QString& text, int room, Qt::Alignment& align);

// Header painted white on navy, the current order's key column on its own colour.
class BrowseHeader : public QHeaderView {
  public:
    explicit BrowseHeader(QWidget* parent);
    QColor orderColour = kOrderHeaderBg;
    // The order's column painted from orderColour down to black instead of flat.
    bool orderGradient = false;

  protected:
    void paintSection(QPainter* p, const QRect& rect, int logical) const override;
};

class Browse : public QObject {
    Q_OBJECT
  public:
    // Takes over `view` (a template's grid control or a new one).
    Browse(QTableView* view, RowSource* source, std::vector<BrowseColumn> columns);
    QTableView* view() const { return view_; }
    BrowseModel* model() const { return model_; }

    void setFrozen(int columns);  // leading columns that never scroll away
    // Every column as wide as its values (their width on the current record:
    // a field's full width) and its heading need; the column `stretch` (by
    // default the widest text column) takes the rest. With `grow`, the grid
    // asks for the room its columns need, within the screen.
    void fitColumns(int stretch = -1, bool grow = true);
    void setRowExtra(int pixels);  // rows taller than the default
    void setHeaderExtra(int pixels);
    void setRowColours(const QColor& fg, const QColor& bg);
    void setOnActivate(std::function<void()> action) { onActivate_ = std::move(action); }
    void setOnRowChange(std::function<void()> action) { onRowChange_ = std::move(action); }
    void setOnKey(std::function<bool(int key)> action) { onKey_ = std::move(action); }
    // A click on the heading of a column tied to an order (keyOfOrder) runs
    // `action` with that order; headings of other columns do nothing.
    void setOnHeadingClick(std::function<void(int order)> action);
    // Re-reads everything (new order, scope or filter, or rows written) and
    // puts the grid on the record the table is on.
    void refresh();
    // Checks every `ms` whether another workstation changed the rows, and
    // refreshes when it did (0 stops).
    void setAutoRefresh(int ms);
    // Puts the grid's current row on the table's current record.
    void syncToRecord();
    int currentRow() const;
    // The vertical scroll bar as the program sees it: ranged 1 to the key
    // count, 1 showing the first row at the top. The view's own bar counts
    // its top row from 0, so positions are translated here, not by callers.
    void setScrollPos(int64_t pos);
    int64_t scrollPos() const;

  signals:
    void activated();
    void rowChanged();

  protected:
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void applyHeaderColours();

    QTableView* view_;
    RowSource* source_;
    BrowseModel* model_;
    BrowseHeader* header_;
    QTimer autoRefresh_;
    uint64_t lastStamp_ = 0;
    int64_t lastCount_ = -1;
    bool syncing_ = false;
    std::function<void()> onActivate_, onRowChange_;
    std::function<bool(int)> onKey_;
    std::function<void(int)> onHeading_;
};

}  // namespace tk
