#include "toolkit/browse.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>

#include "dbf/cdx.h"
#include "toolkit/entrymask.h"
#include "toolkit/text.h"
#include "xbase/date.h"
#include "xbase/picture.h"
#include "xbase/runtime.h"

namespace tk {

// ---------------------------------------------------------------- model

BrowseModel::BrowseModel(RowSource* source, std::vector<BrowseColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), source_(source), columns_(std::move(columns)) {
    rows_ = static_cast<int>(std::clamp<int64_t>(source_->keyCount(), 0, INT_MAX));
    ++reads_;
}

int BrowseModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}
int BrowseModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

void BrowseModel::reload() {
    beginResetModel();
    cache_.clear();
    recnos_.clear();
    rows_ = static_cast<int>(std::clamp<int64_t>(source_->keyCount(), 0, INT_MAX));
    ++reads_;
    endResetModel();
}

void BrowseModel::forgetRows() {
    cache_.clear();
    recnos_.clear();
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

QString BrowseModel::cellText(const xb::Value& v, const BrowseColumn& c) const {
    // A column with a picture shows what TRANSFORM gives, as reports do.
    if (!c.picture.empty() && v.type() != 'U') return fromAnsi(xb::transform(v, c.picture));
    const Picture pic = Picture::parse(c.picture);
    switch (v.type()) {
        case 'N':
            if (!pic.mask.empty())
                return QString::fromLatin1(formatNumberMask(v.asNumber(), pic.mask));
            return QString::fromStdString(
                xb::formatNumber(v.asNumber(), v.numWidth(), v.numDecimals()));
        case 'D':
            return v.asDate() == 0 ? QString()
                                   : QString::fromStdString(
                                         xb::formatDate(v.asDate(), xb::effectiveDateFormat()));
        case 'L':
            return v.asLogical() ? QStringLiteral("S") : QStringLiteral("N");
        case 'C':
        case 'M': {
            std::string s = v.asString();
            if (pic.upper)
                for (char& ch : s) ch = upperAnsi(ch);
            // The blanks that pad a field to its width are no text: counted,
            // they would cut a short value in a narrow column ("LIM-001 ...").
            s.erase(s.find_last_not_of(' ') + 1);
            return fromAnsi(s);
        }
        default:
            return {};
    }
}

// Puts the source on row `r` the cheapest way: from a row already read
// nearby, or from the end, by relative moves; only a far jump asks the
// index for a key position.
bool BrowseModel::positionOn(int r) const {
    const int near = 2 * page_;
    auto it = recnos_.lower_bound(r);
    int best = -1;
    if (it != recnos_.end()) best = it->first;
    if (it != recnos_.begin()) {
        auto prev = std::prev(it);
        if (best < 0 || r - prev->first < best - r) best = prev->first;
    }
    if (best >= 0 && std::abs(best - r) <= near) {
        source_->goRecord(recnos_.at(best));
        ++reads_;
        if (best == r) return true;
        ++reads_;
        return source_->skipBy(r - best);
    }
    if (rows_ - 1 - r <= near) {
        reads_ += 2;
        return source_->goLast() && (rows_ - 1 - r == 0 || source_->skipBy(-(rows_ - 1 - r)));
    }
    ++reads_;
    return source_->goKeyNo(r + 1);
}

const std::vector<QString>* BrowseModel::row(int r) const {
    auto it = cache_.find(r);
    if (it != cache_.end()) return &it->second;
    // Read the page that starts at this row, then go back to where the
    // table was: drawing never moves the record pointer.
    if (cache_.size() > static_cast<size_t>(8 * page_)) {
        cache_.clear();
        recnos_.clear();
    }
    // One look at the indexes for the whole page, not one per row.
    dbf::ReadBatch batch;
    const uint32_t saved = source_->recNo();
    if (positionOn(r)) {
        for (int i = 0; i < page_ && r + i < rows_; ++i) {
            if (cache_.count(r + i) == 0) {
                std::vector<QString> cells;
                cells.reserve(columns_.size());
                for (const BrowseColumn& c : columns_)
                    cells.push_back(c.value ? cellText(c.value(), c) : QString());
                cache_.emplace(r + i, std::move(cells));
                recnos_[r + i] = source_->recNo();
            }
            ++reads_;
            if (i + 1 < page_ && r + i + 1 < rows_ && !source_->skip()) break;
        }
    }
    source_->goRecord(saved);
    ++reads_;
    it = cache_.find(r);
    if (it == cache_.end()) it = cache_.emplace(r, std::vector<QString>(columns_.size())).first;
    return &it->second;
}

QVariant BrowseModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const BrowseColumn& c = columns_[static_cast<size_t>(index.column())];
    if (role == Qt::DisplayRole) {
        const std::vector<QString>* cells = row(index.row());
        return cells->at(static_cast<size_t>(index.column()));
    }
    if (role == Qt::TextAlignmentRole) {
        if (c.align) return QVariant::fromValue(c.align | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignVCenter | Qt::AlignLeft);
    }
    return {};
}

QVariant BrowseModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size()))
        return {};
    const BrowseColumn& c = columns_[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole) return c.header;
    if (role == Qt::TextAlignmentRole && c.align)
        return QVariant::fromValue(c.align | Qt::AlignVCenter);
    return {};
}

// ---------------------------------------------------------------- header

QFont fitHeading(QFont font, const QString& text, int room, Qt::Alignment& align) {
    const qreal full = font.pointSizeF();
    while (full > 0 && QFontMetrics(font).horizontalAdvance(text) > room &&
           font.pointSizeF() > full * 0.75)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (QFontMetrics(font).horizontalAdvance(text) > room) align = Qt::AlignLeft | Qt::AlignVCenter;
    return font;
}

BrowseHeader::BrowseHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
}

void BrowseHeader::paintSection(QPainter* p, const QRect& rect, int logical) const {
    auto* m = qobject_cast<BrowseModel*>(model());
    bool isOrder = false;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    if (m != nullptr && logical < static_cast<int>(m->columns().size())) {
        const BrowseColumn& c = m->columns()[static_cast<size_t>(logical)];
        isOrder = c.keyOfOrder != 0 && c.keyOfOrder == m->source()->order();
        if (c.align) align = c.align | Qt::AlignVCenter;
    }
    p->save();
    if (isOrder && orderGradient) {
        QLinearGradient g(rect.topLeft(), rect.bottomLeft());
        g.setColorAt(0, orderColour);
        g.setColorAt(1, Qt::black);
        p->fillRect(rect, g);
    } else {
        p->fillRect(rect, isOrder ? orderColour : kHeaderBg);
    }
    p->setPen(QColor(255, 255, 255, 90));
    p->drawLine(rect.topRight(), rect.bottomRight());
    p->setPen(Qt::white);
    QFont f = font();
    f.setBold(true);
    const QString text =
        model() ? model()->headerData(logical, Qt::Horizontal).toString() : QString();
    const QRect room = rect.adjusted(4, 0, -4, 0);
    f = fitHeading(f, text, room.width(), align);
    p->setFont(f);
    p->drawText(room, static_cast<int>(align), text);
    p->restore();
}

// ---------------------------------------------------------------- browse

void Browse::setOnHeadingClick(std::function<void(int order)> action) {
    onHeading_ = std::move(action);
    header_->setSectionsClickable(onHeading_ != nullptr);
}

Browse::Browse(QTableView* view, RowSource* source, std::vector<BrowseColumn> columns)
    : QObject(view), view_(view), source_(source) {
    for (BrowseColumn& c : columns)
        if (!c.align && c.value) {
            const xb::Value probe = c.value();
            c.align = probe.type() == 'N' ? Qt::AlignRight : Qt::AlignLeft;
        }
    model_ = new BrowseModel(source, std::move(columns), view);
    header_ = new BrowseHeader(view);
    view_->setHorizontalHeader(header_);
    // The row header is shaped before the model comes: once it holds one
    // section per key, every change of the row height is signalled row by
    // row (a million signals on a big table).
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setTabKeyNavigation(false);
    view_->setWordWrap(false);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // The last column takes what is left, so no grey band shows beside the rows.
    header_->setStretchLastSection(true);
    header_->setMinimumHeight(view_->fontMetrics().height() + 8);
    const auto& cols = model_->columns();
    for (size_t i = 0; i < cols.size(); ++i) {
        int w = cols[i].width;
        if (w <= 0) {
            const int chars =
                std::max<int>(static_cast<int>(cols[i].header.size()),
                              std::max<int>(static_cast<int>(cols[i].picture.size()), 10));
            w = view_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * chars + 12;
        }
        view_->setColumnWidth(static_cast<int>(i), w);
    }
    setRowColours(Qt::black, kBrowseBg);
    view_->installEventFilter(this);
    view_->viewport()->installEventFilter(this);
    connect(header_, &QHeaderView::sectionClicked, this, [this](int section) {
        const auto& cols = model_->columns();
        if (!onHeading_ || section < 0 || section >= static_cast<int>(cols.size())) return;
        if (const int order = cols[static_cast<size_t>(section)].keyOfOrder; order != 0)
            onHeading_(order);
    });
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now, const QModelIndex&) {
                if (syncing_ || !now.isValid()) return;
                {
                    dbf::ReadBatch batch;
                    source_->goKeyNo(now.row() + 1);
                }
                if (onRowChange_) onRowChange_();
                emit rowChanged();
            });
    connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex&) {
        if (onActivate_) onActivate_();
        emit activated();
    });
    connect(&autoRefresh_, &QTimer::timeout, this, [this] {
        // Counting keys can be dear on a big table: a source that tells
        // when its files changed is asked only that.
        const uint64_t stamp = source_->changeStamp();
        if (stamp != 0) {
            if (stamp != lastStamp_) refresh();
            return;
        }
        if (source_->keyCount() != lastCount_) refresh();
    });
    syncToRecord();
}

void Browse::setRowColours(const QColor& fg, const QColor& bg) {
    QPalette pal = view_->palette();
    pal.setColor(QPalette::Base, bg);
    pal.setColor(QPalette::AlternateBase, bg);
    pal.setColor(QPalette::Text, fg);
    pal.setColor(QPalette::Highlight, kFocusedRowBg);
    pal.setColor(QPalette::HighlightedText, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::Highlight, kFocusedRowBg);
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
    view_->setPalette(pal);
}

void Browse::setFrozen(int columns) {
    // Frozen columns stay in view: when every column is frozen there is
    // nothing to scroll sideways.
    if (columns >= model_->columnCount())
        view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int i = 0; i < columns && i < model_->columnCount(); ++i)
        header_->setSectionResizeMode(i, QHeaderView::Fixed);
}

void Browse::fitColumns(int stretch, bool grow) {
    const auto& cols = model_->columns();
    const int n = static_cast<int>(cols.size());
    if (n == 0) return;
    std::vector<int> chars(cols.size(), 0);
    int widestText = -1;
    for (int i = 0; i < n; ++i) {
        const BrowseColumn& c = cols[static_cast<size_t>(i)];
        if (!c.value) continue;
        const xb::Value probe = c.value();
        // A text column is as wide as its field can be, not as this value.
        chars[static_cast<size_t>(i)] = static_cast<int>(
            probe.type() == 'C' ? probe.asString().size() : model_->shownText(probe, i).size());
        if (probe.type() == 'C' && (widestText < 0 || chars[static_cast<size_t>(i)] >
                                                          chars[static_cast<size_t>(widestText)]))
            widestText = i;
    }
    if (stretch < 0 || stretch >= n) stretch = widestText >= 0 ? widestText : n - 1;
    QFont bold = header_->font();
    bold.setBold(true);
    const QFontMetrics cell(view_->font()), heading(bold);
    // Digits are as wide as the letters codes are made of, about.
    const int digit = cell.horizontalAdvance(QLatin1Char('0'));
    auto need = [&](int i) {
        return std::max(digit * chars[static_cast<size_t>(i)],
                        heading.horizontalAdvance(cols[static_cast<size_t>(i)].header)) +
               16;
    };
    int total = 0;
    for (int i = 0; i < n; ++i) {
        if (i == stretch) continue;
        view_->setColumnWidth(i, need(i));
        total += need(i);
    }
    header_->setStretchLastSection(false);
    header_->setSectionResizeMode(stretch, QHeaderView::Stretch);
    if (!grow) return;
    // The description shows forty characters at least, when it has them.
    total += std::max(digit * std::min(chars[static_cast<size_t>(stretch)], 40),
                      heading.horizontalAdvance(cols[static_cast<size_t>(stretch)].header)) +
             16;
    total += 2 * view_->frameWidth() + view_->verticalScrollBar()->sizeHint().width();
    if (QScreen* screen = view_->screen())
        total = std::min(total, screen->availableGeometry().width() - 80);
    view_->setMinimumWidth(std::max(view_->minimumWidth(), total));
}

void Browse::setRowExtra(int pixels) {
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6 + pixels);
}

void Browse::setHeaderExtra(int pixels) {
    header_->setMinimumHeight(view_->fontMetrics().height() + 8 + pixels);
}

void Browse::applyHeaderColours() {
    header_->viewport()->update();
}

int Browse::currentRow() const {
    return view_->currentIndex().isValid() ? view_->currentIndex().row() : -1;
}

void Browse::setScrollPos(int64_t pos) {
    QScrollBar* bar = view_->verticalScrollBar();
    bar->setValue(static_cast<int>(std::clamp<int64_t>(pos - 1, bar->minimum(), bar->maximum())));
}

int64_t Browse::scrollPos() const {
    return static_cast<int64_t>(view_->verticalScrollBar()->value()) + 1;
}

void Browse::syncToRecord() {
    const int64_t k = source_->keyNo();
    lastStamp_ = source_->changeStamp();
    lastCount_ = model_->rowCount();
    if (model_->rowCount() == 0) return;
    const int row =
        static_cast<int>(std::clamp<int64_t>(k > 0 ? k - 1 : 0, 0, model_->rowCount() - 1));
    syncing_ = true;
    const QModelIndex idx = model_->index(row, std::max(view_->currentIndex().column(), 0));
    view_->selectionModel()->setCurrentIndex(
        idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(idx);
    syncing_ = false;
    // Off the end (no current key): the grid shows the last row and the
    // record pointer follows it.
    if (k <= 0) source_->goKeyNo(row + 1);
}

void Browse::refresh() {
    dbf::ReadBatch batch;
    const uint32_t rec = source_->recNo();
    model_->reload();
    source_->goRecord(rec);
    syncToRecord();
    applyHeaderColours();
}

void Browse::setAutoRefresh(int ms) {
    if (ms <= 0) {
        autoRefresh_.stop();
        return;
    }
    autoRefresh_.start(ms);
}

bool Browse::eventFilter(QObject* o, QEvent* e) {
    if (o == view_->viewport() && e->type() == QEvent::Resize) {
        const int rowHeight = std::max(view_->verticalHeader()->defaultSectionSize(), 1);
        model_->setPageSize(view_->viewport()->height() / rowHeight + 2);
    }
    if (o == view_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            if (onActivate_) onActivate_();
            emit activated();
            return true;
        }
        if (onKey_ && onKey_(k->key())) return true;
    }
    return false;
}

}  // namespace tk
