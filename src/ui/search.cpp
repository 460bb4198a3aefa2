#include "ui/search.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QTableView>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>

#include "data/helpers.h"
#include "data/interaction.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace ui {

QString shown(const std::string& b) {
    return tk::fromAnsi(b);
}
std::string bytes(const QString& text) {
    return tk::toAnsi(text);
}

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string upper(const std::string& s) {
    return xb::upper1252(s);
}

dbf::Workspace& ws() {
    return dbf::workspace();
}

// Keeps a work area's position (the end of file included) across a helper.
struct KeepPosition {
    explicit KeepPosition(dbf::WorkArea& a) : wa(a), recno(a.recno()), eof(a.eof()) {}
    ~KeepPosition() {
        if (!restore) return;
        if (eof) {
            wa.goBottom();
            if (!wa.eof()) wa.skip(1);
        } else {
            wa.goTo(recno);
        }
    }
    dbf::WorkArea& wa;
    uint32_t recno;
    bool eof;
    bool restore = true;
};

// Selects an area for the data-layer helpers that work on the current one.
struct SelectArea {
    explicit SelectArea(int n) : prev(ws().current()) { ws().select(n); }
    ~SelectArea() { ws().select(prev); }
    int prev;
};

// ------------------------------------------------------ expression kinds

// What a search expression reads: a field as it is, DTOS(field) or
// UPPER(field) read straight from the record bytes; anything else goes
// through the language.
struct FieldExpr {
    int field = -1;
    enum Kind { Text, Date, Dtos } kind = Text;
};

std::string squeeze(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::optional<FieldExpr> fieldExpr(dbf::WorkArea& wa, const std::string& expression) {
    std::string e = squeeze(expression);
    if (e.rfind("_FIELD->", 0) == 0) e = e.substr(8);
    FieldExpr fx;
    auto inner = [&](const char* fn) -> std::optional<std::string> {
        const std::string head = std::string(fn) + "(";
        if (e.rfind(head, 0) == 0 && e.back() == ')')
            return e.substr(head.size(), e.size() - head.size() - 1);
        return std::nullopt;
    };
    std::string name = e;
    bool dtos = false;
    if (auto in = inner("DTOS")) {
        name = *in;
        dtos = true;
    } else if (auto up = inner("UPPER")) {
        name = *up;
    }
    if (name.rfind("_FIELD->", 0) == 0) name = name.substr(8);
    const int f = wa.table().fieldIndex(name);
    if (f < 0) return std::nullopt;
    const char t = wa.table().fields()[f].type;
    if (dtos) {
        if (t != 'D') return std::nullopt;
        fx.kind = FieldExpr::Dtos;
    } else if (t == 'D') {
        fx.kind = FieldExpr::Date;
    } else if (t != 'C') {
        return std::nullopt;
    }
    fx.field = f;
    return fx;
}

// Tests one record's bytes for the text, as the language's condition would.
class Matcher {
  public:
    Matcher(const dbf::Table& t, const FieldExpr& fx, const std::string& needle)
        : fx_(fx), needle_(needle) {
        const auto& f = t.fields()[fx.field];
        offset_ = 1 + f.offset;
        len_ = f.len;
        for (int c = 0; c < 256; ++c)
            up_[c] = static_cast<char>(xb::upper1252(static_cast<unsigned char>(c)));
        // A date shown by the session's format (DTOC); "dd-mm-yyyy" is
        // built from the stored digits without a conversion.
        dateFormat_ = xb::effectiveDateFormat();
        plainFormat_ = upper(dateFormat_) == "DD-MM-YYYY";
        buf_.resize(std::max<size_t>(len_, 16));
    }
    bool operator()(const char* record) {
        const char* p = record + offset_;
        size_t n = len_;
        if (fx_.kind == FieldExpr::Text) {
            for (size_t i = 0; i < n; ++i) buf_[i] = up_[static_cast<unsigned char>(p[i])];
        } else if (fx_.kind == FieldExpr::Dtos) {
            // The column shows the date, not its eight digits: the text is
            // looked for in the date as shown, and in the digits as before.
            std::memcpy(buf_.data(), p, n);
            if (contains(buf_.data(), n)) return true;
            n = dateText(p);
        } else {
            n = dateText(p);
        }
        return contains(buf_.data(), n);
    }

  private:
    size_t dateText(const char* p) {
        bool blank = true;
        for (int i = 0; i < 8; ++i)
            if (p[i] != ' ' && p[i] != '\0') blank = false;
        if (plainFormat_) {
            if (blank) {
                std::memcpy(buf_.data(), "  -  -    ", 10);
            } else {
                const char out[10] = {p[6], p[7], '-', p[4], p[5], '-', p[0], p[1], p[2], p[3]};
                std::memcpy(buf_.data(), out, 10);
            }
            return 10;
        }
        std::string s;
        if (blank) {
            s = xb::formatDate(0, dateFormat_);
        } else {
            const int y = std::atoi(std::string(p, 4).c_str());
            const int m = std::atoi(std::string(p + 4, 2).c_str());
            const int d = std::atoi(std::string(p + 6, 2).c_str());
            s = xb::formatDate(xb::julianFromYmd(y, m, d), dateFormat_);
        }
        if (buf_.size() < s.size()) buf_.resize(s.size());
        std::memcpy(buf_.data(), s.data(), s.size());
        return s.size();
    }
    bool contains(const char* hay, size_t n) const {
        if (needle_.size() > n) return false;
        return memmem(hay, n, needle_.data(), needle_.size()) != nullptr;
    }

    FieldExpr fx_;
    std::string needle_;
    size_t offset_ = 0, len_ = 0;
    std::array<char, 256> up_{};
    std::string dateFormat_;
    bool plainFormat_ = true;
    std::vector<char> buf_;
};

bool hidesDeleted() {
    return xb::settings().deleted;
}

// The records that match, read from the file in large blocks (the table's
// own buffer written first). match[r] for r in 1..count.
std::vector<bool> scanFile(dbf::WorkArea& wa, Matcher& match, const SearchHooks& hooks,
                           bool& cancelled, uint64_t& hits) {
    dbf::Table& t = wa.table();
    t.flush();
    const uint32_t count = wa.recCount();
    std::vector<bool> hit(count + 1, false);
    const int fd = ::open(t.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return hit;
    const size_t reclen = t.recordLength();
    const uint32_t perBlock = static_cast<uint32_t>(std::max<size_t>(1, (4u << 20) / reclen));
    std::vector<char> block(static_cast<size_t>(perBlock) * reclen);
    const bool hide = hidesDeleted();
    for (uint32_t first = 1; first <= count; first += perBlock) {
        const uint32_t n = std::min(perBlock, count - first + 1);
        const ssize_t got =
            ::pread(fd, block.data(), static_cast<size_t>(n) * reclen,
                    static_cast<off_t>(t.headerLength() + uint64_t(first - 1) * reclen));
        if (got <= 0) break;
        const uint32_t whole = static_cast<uint32_t>(static_cast<size_t>(got) / reclen);
        for (uint32_t i = 0; i < whole; ++i) {
            const char* rec = block.data() + static_cast<size_t>(i) * reclen;
            if (hide && rec[0] == '*') continue;
            if (match(rec)) {
                hit[first + i] = true;
                ++hits;
            }
        }
        if (hooks.progress && !hooks.progress(first + n - 1, count)) {
            cancelled = true;
            break;
        }
    }
    ::close(fd);
    return hit;
}

// Does the area have a scope on its controlling order?
bool scoped(dbf::WorkArea& wa) {
    dbf::Orders* o = dbf::findOrders(wa);
    if (o == nullptr || o->orderNumber() == 0) return false;
    return !o->scopeTop().isNil() || !o->scopeBottom().isNil();
}

// The bytes (in upper case) that some key of the controlling order holds
// past its first place. Read with one walk of the keys and kept while the
// bag's file stays as it was (any workstation's write changes it).
struct KeySummary {
    const dbf::CdxTag* tag = nullptr;
    std::string bag;
    uint64_t stamp = 0;
    std::array<bool, 256> later{};
};

uint64_t fileStamp(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return 0;
    const auto time = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    return (static_cast<uint64_t>(size) * 1000003u) ^
           static_cast<uint64_t>(time.time_since_epoch().count());
}

bool keysHoldLater(dbf::Orders& orders, unsigned char c) {
    static KeySummary cache;
    dbf::CdxTag* tag = orders.tag();
    const std::string bag = orders.orderBag();
    const uint64_t stamp = fileStamp(bag);
    if (stamp == 0 || cache.tag != tag || cache.bag != bag || cache.stamp != stamp) {
        cache = KeySummary{};
        tag->walk([&](std::string_view k, uint32_t) {
            for (size_t i = 1; i < k.size(); ++i)
                cache.later[xb::upper1252(static_cast<unsigned char>(k[i]))] = true;
            return true;
        });
        if (stamp == 0) return cache.later[c];
        cache.tag = tag;
        cache.bag = bag;
        cache.stamp = stamp;
    }
    return cache.later[c];
}

// The bytes whose upper case is `c`.
const std::vector<char>& caseVariants(unsigned char c) {
    static const std::array<std::vector<char>, 256> table = [] {
        std::array<std::vector<char>, 256> t;
        for (int b = 0; b < 256; ++b)
            t[xb::upper1252(static_cast<unsigned char>(b))].push_back(static_cast<char>(b));
        return t;
    }();
    return table[c];
}

// The first entry of the tag, in its order, whose key begins with `text`
// in any case and whose record is visible.
dbf::CdxPos firstWithPrefix(dbf::WorkArea& wa, dbf::CdxTag& tag, const std::string& text) {
    dbf::CdxPos best;
    auto before = [](const dbf::CdxPos& a, const dbf::CdxPos& b) {
        return !b.valid || a.key < b.key || (a.key == b.key && a.recno < b.recno);
    };
    std::function<void(const std::string&)> visit = [&](const std::string& prefix) {
        if (prefix.size() == text.size()) {
            for (dbf::CdxPos p = tag.seekFirst(prefix);
                 p.valid && p.key.compare(0, prefix.size(), prefix) == 0; p = tag.next(p)) {
                wa.goTo(p.recno);
                if (!wa.visible()) continue;
                if (before(p, best)) best = p;
                return;
            }
            return;
        }
        for (char v : caseVariants(static_cast<unsigned char>(text[prefix.size()]))) {
            const std::string next = prefix + v;
            const dbf::CdxPos p = tag.seekFirst(next);
            if (p.valid && p.key.compare(0, next.size(), next) == 0) visit(next);
        }
    };
    visit(std::string());
    return best;
}

}  // namespace

// ------------------------------------------------------------------ search

SearchOutcome searchContains(dbf::WorkArea& wa, const std::string& expression,
                             const std::string& text, const SearchHooks& hooks) {
    SearchOutcome out;
    KeepPosition keep(wa);
    const std::string needle = upper(trim(text));
    if (needle.empty()) return out;  // an empty text is contained in no value

    const auto fx = fieldExpr(wa, expression);
    dbf::Orders& orders = dbf::orders(wa);
    auto land = [&](uint32_t recno) {
        wa.goTo(recno);
        out.found = true;
        out.recno = recno;
        keep.restore = false;
    };

    // A search in the column of the controlling order's key reads the keys
    // alone, in order, and no record until one contains the text.
    if (fx && fx->kind == FieldExpr::Text && wa.filterText().empty() && !scoped(wa) &&
        orders.orderNumber() > 0 && orders.tag() != nullptr &&
        squeeze(orders.orderKey()) == wa.table().fields()[fx->field].name &&
        orders.tag()->keyLength() == wa.table().fields()[fx->field].len) {
        dbf::CdxTag* tag = orders.tag();
        uint32_t first = 0;
        uint64_t position = 0;
        if (!keysHoldLater(orders, static_cast<unsigned char>(needle[0]))) {
            // No key has the text's first letter past its first place: only
            // keys that begin with the text can hold it, and seeks find them.
            const dbf::CdxPos p = firstWithPrefix(wa, *tag, needle);
            if (p.valid) {
                first = p.recno;
                position = tag->span(tag->first(), p);
            }
        } else {
            std::array<char, 256> up{};
            for (int c = 0; c < 256; ++c)
                up[c] = static_cast<char>(xb::upper1252(static_cast<unsigned char>(c)));
            std::vector<char> key(tag->keyLength());
            tag->walk([&](std::string_view k, uint32_t recno) {
                ++position;
                const size_t n = std::min(k.size(), key.size());
                for (size_t i = 0; i < n; ++i) key[i] = up[static_cast<unsigned char>(k[i])];
                if (memmem(key.data(), n, needle.data(), needle.size()) == nullptr) return true;
                wa.goTo(recno);
                if (!wa.visible()) return true;  // a deleted record the tag still lists
                first = recno;
                return false;
            });
        }
        out.examined = position;
        if (first == 0) return out;
        if (position > kSearchLimit && (!hooks.goOn || !hooks.goOn(kSearchLimit))) {
            out.stopped = true;
            return out;
        }
        land(first);
        return out;
    }

    // Fast way: the file read in blocks, then the order walked for the first
    // matching record; whole table, no filter, no scope.
    if (fx && wa.filterText().empty() && !scoped(wa)) {
        Matcher match(wa.table(), *fx, needle);
        uint64_t hits = 0;
        const std::vector<bool> hit = scanFile(wa, match, hooks, out.cancelled, hits);
        if (out.cancelled) return out;
        // No record holds the text: the order need not be walked.
        if (hits == 0) {
            out.examined = hit.size() - 1;
            return out;
        }
        uint32_t first = 0;
        uint64_t position = 0;
        if (orders.orderNumber() == 0) {
            for (uint32_t r = 1; r < hit.size(); ++r) {
                ++position;
                if (hit[r]) {
                    first = r;
                    break;
                }
            }
        } else if (dbf::CdxTag* tag = orders.tag()) {
            tag->walk([&](std::string_view, uint32_t recno) {
                ++position;
                if (recno < hit.size() && hit[recno]) {
                    first = recno;
                    return false;
                }
                return true;
            });
        }
        out.examined = position;
        if (first == 0) return out;
        if (position > kSearchLimit && (!hooks.goOn || !hooks.goOn(kSearchLimit))) {
            out.stopped = true;
            return out;
        }
        land(first);
        return out;
    }

    // Step by step in the order, scope and filter applied.
    std::optional<Matcher> match;
    if (fx) match.emplace(wa.table(), *fx, needle);
    xb::Procedure frame("BUSCA2");
    xb::Expr cond;
    if (!match) {
        // The condition as the language writes it, with CCADENA and C visible.
        std::string type = "C";
        try {
            wa.goTop();
            const xb::Value probe = xb::compile(expression).eval();
            if (probe.type() == 'D') type = "D";
        } catch (...) {
        }
        const std::string c = type == "D" ? "cCadena$dtoc(" + expression + ")"
                                          : "cCadena$upper(" + upper(expression) + ")";
        xb::createPrivate("CCADENA", xb::Value::str(needle));
        xb::createPrivate("C", xb::Value::str(c));
        cond = xb::compile(c);
    }
    const uint64_t total = std::max<uint64_t>(orders.keyCount(), 1);
    for (wa.goTop(); !wa.eof(); wa.skip(1)) {
        ++out.examined;
        bool ok = false;
        if (match) {
            ok = (*match)(wa.table().buffer());
        } else {
            try {
                ok = cond.eval().asLogical();
            } catch (const xb::Break&) {
                throw;
            } catch (...) {
                ok = false;
            }
        }
        if (ok) {
            land(wa.recno());
            return out;
        }
        if (out.examined % 4096 == 0 && hooks.progress && !hooks.progress(out.examined, total)) {
            out.cancelled = true;
            return out;
        }
        if (out.examined == kSearchLimit) {
            wa.skip(1);
            const bool more = !wa.eof();
            wa.skip(-1);
            if (more && (!hooks.goOn || !hooks.goOn(kSearchLimit))) {
                out.stopped = true;
                return out;
            }
        }
    }
    return out;
}

SearchHooks interactiveHooks(QWidget* owner) {
    SearchHooks h;
    // The dialog appears only when the search lasts: a short one shows nothing.
    auto dialog = std::make_shared<std::unique_ptr<QProgressDialog>>();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    h.progress = [dialog, clock, owner](uint64_t done, uint64_t total) {
        if (!*dialog) {
            if (clock->elapsed() < 400) return true;
            *dialog = std::make_unique<QProgressDialog>(
                QStringLiteral("Buscando..."), QStringLiteral("&Cancelar"), 0, 1000, owner);
            (*dialog)->setWindowTitle(QStringLiteral("Buscar"));
            (*dialog)->setWindowModality(Qt::WindowModal);
            (*dialog)->setMinimumDuration(0);
        }
        (*dialog)->setValue(static_cast<int>(total ? done * 1000 / total : 0));
        QApplication::processEvents();
        return !(*dialog)->wasCanceled();
    };
    h.goOn = [](uint64_t examined) {
        return data::DECIS("No se encontr\xf3 en los primeros " + std::to_string(examined) +
                           " registros. \xbf Desea continuar la b\xfasqueda en el resto del "
                           "fichero ?") == "S";
    };
    return h;
}

bool BUSCA2(QWidget* searchDialog, tk::Browse* browse, const std::string& alias,
            const std::string& label, const std::string& text,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels) {
    bool found = false;
    dbf::WorkArea* wa = ws().area(upper(trim(alias)));
    if (wa == nullptr) wa = ws().selected();
    if (wa != nullptr) {
        size_t i = 0;
        while (i < labels.size() && trim(labels[i]) != trim(label)) ++i;
        if (i < labels.size() && i < fields.size()) {
            SearchOutcome r = searchContains(*wa, fields[i], text, interactiveHooks(searchDialog));
            found = r.found;
            if (r.stopped || r.cancelled)
                data::interaction().info(
                    r.cancelled ? "B\xfasqueda cancelada: el texto no se encontr\xf3."
                                : "B\xfasqueda detenida en " + std::to_string(kSearchLimit) +
                                      " registros: el texto no se encontr\xf3.",
                    "Atenci\xf3n.....");
        }
    }
    if (auto* d = qobject_cast<tk::Dialog*>(searchDialog)) d->end(1);
    if (browse != nullptr) {
        browse->refresh();
        browse->view()->setFocus();
    }
    return found;
}

void BUSCA1(QWidget* owner, tk::Browse* browse, const std::string& alias,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels) {
    tk::Dialog dlg(QStringLiteral("Buscar1"), owner);
    dlg.setWindowTitle(QStringLiteral("Buscar"));
    dlg.setBrush(tk::kDialogBrush);
    QStringList items;
    for (const auto& l : labels) items << shown(l);
    int chosen = 1;
    dlg.form().bindCombo(
        101, items, [&] { return chosen; }, [&](int n) { chosen = n; });
    xb::Value text = xb::Value::str(std::string(30, ' '));
    tk::EntryBinding b;
    b.get = [&] { return text; };
    b.set = [&](const xb::Value& v) { text = v; };
    b.picture = "@!";
    dlg.bindEntry(102, b);
    if (dlg.form().find(702))
        dlg.form().setColors(702, QColor(120, 120, 120), QColor(255, 255, 152));
    dlg.bindButton(
        201,
        tk::ButtonSpec{QStringLiteral("&Aceptar"), {}, QStringLiteral("Aceptar búsqueda"), {}, [&] {
                           dlg.form().commit();
                           const size_t i = static_cast<size_t>(std::max(chosen, 1) - 1);
                           const std::string label = i < labels.size() ? labels[i] : std::string();
                           BUSCA2(&dlg, browse, alias, label, text.asString(), fields, labels);
                       }});
    dlg.bindButton(202, tk::ButtonSpec{QStringLiteral("&Salir"),
                                       {},
                                       QStringLiteral("Salir de búsqueda"),
                                       {},
                                       [&] { dlg.end(0); },
                                       true});
    dlg.run();
}

// ------------------------------------------------------- duplicate codes

namespace {

// An order of the area whose key is `field` alone, with every record in
// it (no FOR other than the deletion mark), not unique.
dbf::CdxTag* codeTag(dbf::WorkArea& wa, const std::string& field) {
    dbf::Orders& o = dbf::orders(wa);
    for (int n = 1; n <= o.orderCount(); ++n) {
        std::string key = squeeze(o.orderKey(n));
        if (key.rfind("_FIELD->", 0) == 0) key = key.substr(8);
        const std::string forText = squeeze(o.orderFor(n));
        if (key == squeeze(field) && !o.orderUnique(n) &&
            (forText.empty() || forText == "!DELETED()" || forText == ".NOT.DELETED()"))
            return o.tag(n);
    }
    return nullptr;
}

}  // namespace

uint32_t findCodeHolder(dbf::WorkArea& wa, const std::string& field, const std::string& value,
                        uint32_t except) {
    const int f = wa.table().fieldIndex(trim(field));
    if (f < 0) return 0;
    const std::string target = upper(trim(value));
    KeepPosition keep(wa);
    wa.table().flush();
    auto holds = [&](uint32_t recno) {
        if (recno == except) return false;
        wa.goTo(recno);
        if (wa.eof() || !wa.visible()) return false;
        const xb::Value v = wa.get(f);
        return v.isString() && upper(trim(v.asString())) == target;
    };
    dbf::CdxTag* tag = codeTag(wa, field);
    if (tag == nullptr || wa.table().fields()[f].type != 'C') {
        for (uint32_t r = 1; r <= wa.recCount(); ++r)
            if (holds(r)) return r;
        return 0;
    }
    const size_t keyLen = tag->keyLength();
    if (target.size() > keyLen) return 0;
    // One look at the bag for all the seeks below.
    dbf::ReadBatch batch;
    // The cards write their codes in capitals from the first column: a code
    // that is there at all is almost always there as typed, found by one seek.
    const std::string asTyped = target + std::string(keyLen - target.size(), ' ');
    for (dbf::CdxPos p = tag->seekFirst(asTyped); p.valid && p.key == asTyped; p = tag->next(p))
        if (holds(p.recno)) return p.recno;
    // Every key that trims and upper-cases to the target: leading blanks,
    // then the target's letters in either case, then blanks. Only the
    // prefixes the index holds are followed, so a file of upper-case codes
    // costs a couple of seeks per character.
    auto exists = [&](const std::string& prefix) {
        const dbf::CdxPos p = tag->seekFirst(prefix);
        return p.valid && p.key.compare(0, prefix.size(), prefix) == 0;
    };
    uint32_t result = 0;
    std::function<bool(const std::string&, size_t)> visit = [&](const std::string& prefix,
                                                                size_t j) {
        if (j == target.size()) {
            const std::string full = prefix + std::string(keyLen - prefix.size(), ' ');
            for (dbf::CdxPos p = tag->seekFirst(full); p.valid && p.key == full; p = tag->next(p))
                if (holds(p.recno)) {
                    result = p.recno;
                    return true;
                }
            return false;
        }
        if (j == 0 && prefix.size() + target.size() < keyLen && exists(prefix + ' ') &&
            visit(prefix + ' ', 0))
            return true;
        for (char v : caseVariants(static_cast<unsigned char>(target[j]))) {
            const std::string next = prefix + v;
            if (exists(next) && visit(next, j + 1)) return true;
        }
        return false;
    };
    visit(std::string(), 0);
    return result;
}

uint32_t editedRecord() {
    xb::Value v;
    if (!xb::getVar("LREG", v) || !v.isNum() || v.asNumber() < 0) return 0;
    return static_cast<uint32_t>(v.asNumber());
}

bool DUPLICA(uint32_t foundRecno) {
    if (foundRecno == 0) return false;
    const uint32_t editing = editedRecord();
    return editing == 0 || foundRecno != editing;
}

void tellDuplicate(const std::string& label) {
    data::interaction().beep();
    data::alertDialog(label + " ya existe", "Atenci\xf3n.....!!!");
}

bool CHKDUP(const xb::Value& value, const std::string& label, const std::string& field) {
    dbf::WorkArea* wa = ws().selected();
    if (wa == nullptr) return true;
    const std::string code = value.isString() ? value.asString() : std::string();
    // The record being edited may hold its own code: it is passed over.
    const uint32_t holder = findCodeHolder(*wa, field, code, editedRecord());
    if (!DUPLICA(holder)) return true;
    tellDuplicate(label);
    return false;
}

namespace {

// The table's lock, waited for a few seconds at a time; then the user may
// wait on or give up. Other workstations hold it only while they save.
bool lockTable(dbf::WorkArea& wa) {
    using clock = std::chrono::steady_clock;
    auto until = clock::now() + std::chrono::seconds(3);
    while (!wa.lockFile()) {
        if (clock::now() >= until) {
            const int b =
                data::alertDialog("Fichero bloqueado en " + wa.alias() + ". Por favor espere ...",
                                  "Atenci\xf3n.....", {"&Aceptar", "&Abandonar"});
            if (b != 1) return false;
            until = clock::now() + std::chrono::seconds(3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

SaveResult saveWithUniqueCode(dbf::WorkArea& wa, const std::string& field, const std::string& code,
                              const std::string& label, bool isNew,
                              const std::function<void()>& write) {
    SelectArea sel(wa.number());
    const uint32_t editing = isNew ? 0 : wa.recno();
    if (!isNew && (wa.eof() || editing == 0)) return SaveResult::Abandoned;
    if (!isNew && !data::REC_LOCK(0)) return SaveResult::Abandoned;
    struct Unlock {
        dbf::WorkArea& wa;
        ~Unlock() { wa.unlock(0); }
    } unlock{wa};
    // Another workstation saving another record of this table holds that
    // record and wants the table too: were both to wait for the table with
    // their record kept, each would wait for the other. So when the table is
    // not free at once the record is let go while waiting; the table's lock,
    // once had, covers it.
    if (!wa.lockFile()) wa.unlock(0);
    if (!lockTable(wa)) {
        data::PARE("No se grabaron los datos.");
        return SaveResult::Abandoned;
    }
    // Under the lock nobody else can write the code in between.
    if (findCodeHolder(wa, field, code, editing) != 0) {
        if (!isNew) wa.goTo(editing);
        tellDuplicate(label);
        return SaveResult::Duplicate;
    }
    if (isNew)
        wa.append(false);
    else
        wa.goTo(editing);
    write();
    wa.commit();
    return SaveResult::Saved;
}

bool deleteCurrent(dbf::WorkArea& wa) {
    // Nothing to delete at the end of the file or in an empty grid: no lock
    // on the phantom record, no mark.
    if (wa.eof() || wa.recno() == 0 || wa.recno() > wa.recCount()) return false;
    SelectArea sel(wa.number());
    const uint32_t recno = wa.recno();
    wa.goTo(recno);
    if (!wa.visible()) return false;
    if (!data::REC_LOCK(0)) return false;
    wa.deleteRecord();
    wa.unlock(0);
    wa.skip(1);
    if (wa.eof()) wa.goBottom();
    return true;
}

// ---------------------------------------------------------- order switch

namespace {

dbf::WorkArea* areaOf(tk::Browse* browse) {
    if (browse == nullptr) return ws().selected();
    if (auto* rows = dynamic_cast<tk::WorkAreaRows*>(browse->model()->source()))
        return &rows->area();
    return ws().selected();
}

// Sets `order` on the browse's area keeping the record, marks its column
// and refreshes the browse.
void switchOrder(tk::Browse* browse, int order, bool gradient) {
    dbf::WorkArea* wa = areaOf(browse);
    if (wa == nullptr) return;
    const bool eof = wa->eof();
    const uint32_t recno = wa->recno();
    dbf::orders(*wa).setOrder(order);
    if (eof) {
        wa->goBottom();
        if (!wa->eof()) wa->skip(1);
    } else {
        wa->goTo(recno);
    }
    if (browse == nullptr) return;
    if (auto* h = dynamic_cast<tk::BrowseHeader*>(browse->view()->horizontalHeader())) {
        h->orderColour = gradient ? QColor(200, 0, 0) : tk::kOrderHeaderBg;
        h->orderGradient = gradient;
    }
    browse->refresh();
    browse->view()->setFocus();
}

}  // namespace

int orderForChoice(const std::string& choice, const std::string& kind, int* column) {
    const std::string two = choice.substr(0, std::min<size_t>(2, choice.size()));
    const std::string ko = "C\xf3";  // "Có"
    auto set = [&](int order, int col) {
        if (column) *column = col;
        return order;
    };
    if (upper(trim(kind)) == "PROSP") {
        if (two == ko) return set(1, 1);
        if (two == "No") return set(2, 2);
        if (two == "Ve") return set(3, 3);
        if (two == "Pr") return set(8, 5);
        return set(0, 0);
    }
    if (two == ko) return set(1, 1);
    return set(2, 2);
}

int COMBOINDEX(tk::Browse* browse, const std::string& choice, int& order, const std::string& kind) {
    const int n = orderForChoice(choice, kind);
    if (n == 0) return order;  // a caption that matches no row: unchanged
    switchOrder(browse, n, true);
    order = n;
    return n;
}

int COMBO2INDEX(tk::Browse* browse, const std::string& choice, int& order, const std::string&) {
    const int n = orderForChoice(choice, {});
    switchOrder(browse, n, false);
    order = n;
    return n;
}

void headingsChooseOrder(tk::Browse& grid, QComboBox* list, std::vector<int> orders,
                         std::function<void(int item)> choose) {
    grid.setOnHeadingClick(
        [list, orders = std::move(orders), choose = std::move(choose)](int order) {
            const auto it = std::find(orders.begin(), orders.end(), order);
            if (it == orders.end() || list == nullptr) return;
            const int item = static_cast<int>(it - orders.begin());
            {
                const QSignalBlocker quiet(list);
                list->setCurrentIndex(item);
            }
            choose(item);
        });
}

namespace {

// The box layout under `layout` that holds `w`, however deep.
QBoxLayout* boxHolding(QLayout* layout, QWidget* w) {
    if (layout == nullptr) return nullptr;
    if (auto* box = qobject_cast<QBoxLayout*>(layout); box && box->indexOf(w) >= 0) return box;
    for (int i = 0; i < layout->count(); ++i)
        if (QBoxLayout* found = boxHolding(layout->itemAt(i)->layout(), w)) return found;
    return nullptr;
}

}  // namespace

QLabel* addRecordCount(QComboBox* list) {
    QWidget* parent = list->parentWidget();
    auto* count = new QLabel(parent);
    count->setObjectName(QStringLiteral("recordCount"));
    if (QBoxLayout* row = boxHolding(parent->layout(), list))
        row->insertWidget(row->indexOf(list) + 1, count);
    return count;
}

void showRecordCount(QLabel* label, tk::Browse& grid) {
    const int64_t n = grid.model()->source()->keyCount();
    label->setText(QStringLiteral("%1 registro%2").arg(n).arg(QLatin1String(n == 1 ? "" : "s")));
}

void ESTABILIZA(tk::Browse* browse) {
    if (browse == nullptr) return;
    tk::RowSource* src = browse->model()->source();
    QTableView* view = browse->view();
    // Counting the keys of a big order is dear: it is done again only when
    // the files or the order changed since the last count.
    const uint64_t stamp = src->changeStamp() ^ (static_cast<uint64_t>(src->order()) << 48);
    const QVariant last = view->property("vdrStabilised");
    if (stamp != 0 && last.isValid() && last.toULongLong() == stamp) return;
    if (stamp == 0 && src->keyCount() == browse->model()->rowCount()) return;
    view->setProperty("vdrStabilised", QVariant::fromValue<qulonglong>(stamp));
    if (last.isValid()) browse->refresh();
}

uint64_t NUMREGLOG() {
    dbf::WorkArea* wa = ws().selected();
    if (wa == nullptr) return 0;
    dbf::Orders& o = dbf::orders(*wa);
    const uint64_t n = o.orderNumber() > 0 ? o.keyCount() : wa->countVisible();
    wa->goTop();
    return n;
}

namespace {
int g_releases = 0;
void throttledRelease(std::time_t& stamp) {
    const std::time_t now = std::time(nullptr);
    if (stamp == 0) {
        stamp = now;
        return;
    }
    if (now - stamp > 2) {
        for (int i = 0; i < 5; ++i) malloc_trim(0);
        ++g_releases;
        stamp = 0;
    }
}
std::time_t g_limpia = 0, g_endForm = 0;
}  // namespace

void LIMPIAMEM() {
    throttledRelease(g_limpia);
}
void ENDOFFORMCLEARMEM() {
    throttledRelease(g_endForm);
}
int memoryReleases() {
    return g_releases;
}

// ------------------------------------------------------ browse registry

namespace {
std::vector<tk::Browse*>& stack() {
    static std::vector<tk::Browse*> s;
    return s;
}
}  // namespace

BrowseStack::BrowseStack(tk::Browse* browse) {
    stack().push_back(browse);
}
BrowseStack::~BrowseStack() {
    stack().pop_back();
}
tk::Browse* BrowseStack::top() {
    return stack().empty() ? nullptr : stack().back();
}

}  // namespace ui
