#include "dbf/order.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <set>

#include "dbf/error.h"
#include "dbf/order_internal.h"
#include "dbf/paths.h"
#include "dbf/table.h"
#include "dbf/table_internal.h"
#include "dbf/workspace.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace dbf {

using namespace orderdetail;

namespace {

std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// The controlling order as the work area sees it

class Orders::Nav : public OrderNav {
  public:
    explicit Nav(Orders* o) : o_(o) {}
    uint32_t first() override {
        o_->settlePending();
        OrderTag* ot = o_->cur();
        if (!ot) return 0;
        o_->last_ = o_->scopedFirst(*ot);
        return o_->last_.valid ? o_->last_.recno : 0;
    }
    uint32_t last() override {
        o_->settlePending();
        OrderTag* ot = o_->cur();
        if (!ot) return 0;
        o_->last_ = o_->scopedLast(*ot);
        return o_->last_.valid ? o_->last_.recno : 0;
    }
    uint32_t next(uint32_t recno) override {
        o_->settlePending();
        OrderTag* ot = o_->cur();
        if (!ot) return 0;
        CdxPos p = o_->positionOf(*ot, recno);
        CdxPos q = p.valid && p.recno == recno ? o_->scopedNext(*ot, p) : p;
        if (p.valid && p.recno == recno && q.valid) o_->mustAdvance(*ot, p, q, 1);
        o_->last_ = q;
        if (o_->last_.valid && !o_->inScope(*ot, o_->last_.key)) o_->last_ = {};
        return o_->last_.valid ? o_->last_.recno : 0;
    }
    uint32_t prev(uint32_t recno) override {
        o_->settlePending();
        OrderTag* ot = o_->cur();
        if (!ot) return 0;
        CdxPos p = o_->positionOf(*ot, recno);
        CdxPos q = p.valid ? o_->scopedPrev(*ot, p) : o_->scopedLast(*ot);
        if (p.valid && q.valid) o_->mustAdvance(*ot, p, q, -1);
        o_->last_ = q;
        return o_->last_.valid ? o_->last_.recno : 0;
    }

  private:
    Orders* o_;
};

// ---------------------------------------------------------------------------
// Orders

Orders::Orders(WorkArea& wa) : wa_(&wa) {
    wa.table().addObserver(this);
}

Orders::~Orders() {
    if (!closed_) {
        wa_->table().removeObserver(this);
        if (wa_->order() == nav_.get()) wa_->setOrder(nullptr);
    }
}

void Orders::attachNav() {
    if (current_ > 0) {
        if (!nav_) nav_ = std::make_shared<Nav>(this);
        wa_->setOrder(nav_);
    } else {
        wa_->setOrder(nullptr);
    }
    last_ = {};
}

Orders::OrderTag* Orders::cur() {
    if (current_ < 1 || current_ > static_cast<int>(tags_.size())) return nullptr;
    return &tags_[static_cast<size_t>(current_ - 1)];
}

void Orders::loadTags() {
    // Keep the scopes of tags that stay.
    std::map<std::pair<CdxBag*, std::string>,
             std::pair<std::optional<std::string>, std::optional<std::string>>>
        scopes;
    for (auto& ot : tags_) scopes[{ot.bag, ot.tag->name()}] = {ot.top, ot.bottom};
    std::string curName = current_ > 0 && cur() ? cur()->tag->name() : std::string();
    CdxBag* curBag = current_ > 0 && cur() ? cur()->bag : nullptr;
    tags_.clear();
    int newCurrent = 0;
    for (auto& b : bags_) {
        for (CdxTag* t : b->tags()) {
            OrderTag ot;
            ot.bag = b.get();
            ot.tag = t;
            ot.maker.prepare(*wa_, t->info().keyExpr, t->info().forExpr);
            if (ot.maker.computable()) {
                t->setKeyType(ot.maker.type());
                if (ot.maker.length() != t->keyLength()) {
                    // The expression's width differs from the stored keys (the
                    // table's structure changed): read it as stored.
                    ot.maker.adopt(ot.maker.type(), t->keyLength());
                }
            } else {
                ot.maker.adopt(t->keyType(), t->keyLength());
            }
            auto it = scopes.find({b.get(), t->name()});
            if (it != scopes.end()) {
                ot.top = it->second.first;
                ot.bottom = it->second.second;
            }
            tags_.push_back(std::move(ot));
            if (b.get() == curBag && t->name() == curName)
                newCurrent = static_cast<int>(tags_.size());
        }
    }
    current_ = newCurrent;
}

void Orders::addBag(const std::string& path) {
    wa_->table().flush();
    settlePending();
    // A bag already open is known by its name as written, or by the name
    // it was found under once opened again (no look at the disk before).
    const auto isOpen = [this](const std::string& p) {
        for (auto& b : bags_)
            if (b->path() == p) return true;
        return false;
    };
    if (isOpen(normalizeSeparators(path))) return;
    if (bags_.size() >= kMaxBags)
        throw DbfError(kErrBound, "No se pueden abrir más de seis índices con una tabla.", path);
    Table& t = wa_->table();
    std::unique_ptr<CdxBag> bag;
    try {
        bag = CdxBag::open(path, t.exclusive(), t.readOnly());
    } catch (const DbfError& e) {
        // Used alone, the same bag under another spelling holds its own lock.
        if (e.sharingViolation() && isOpen(resolvePath(path))) return;
        throw;
    }
    if (isOpen(bag->path())) return;
    bool none = current_ == 0;
    // A writer that died halfway through a change left its mark: the bag is
    // put right from the table before anyone reads through it.
    bool repair = !t.readOnly() && !bag->readOnly() && bag->interrupted();
    bags_.push_back(std::move(bag));
    if (holding_) bags_.back()->holdChange();
    if (repair) {
        // The table first: what a power cut left half there goes.
        t.mendAfterInterruption();
        rebuildBag(*bags_.back(), nullptr, true);
    }
    loadTags();
    if (none) {
        // Order 1 of the bag just opened.
        size_t before = 0;
        for (size_t i = 0; i + 1 < bags_.size(); ++i) before += bags_[i]->tags().size();
        current_ = before < tags_.size() ? static_cast<int>(before + 1) : 0;
    }
    attachNav();
}

void Orders::clearBags() {
    wa_->table().flush();
    settlePending();
    releaseMarks();
    settleBags();
    tags_.clear();
    bags_.clear();
    current_ = 0;
    before_.clear();
    attachNav();
}

void Orders::setOrder(int n) {
    if (n < 0 || n > static_cast<int>(tags_.size())) return;
    current_ = n;
    attachNav();
}

bool Orders::setOrder(std::string_view tag) {
    int n = orderOf(tag);
    if (n == 0) return false;
    setOrder(n);
    return true;
}

int Orders::orderOf(std::string_view tag) const {
    std::string u = upperAscii(trimmed(tag));
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i].tag->name() == u) return static_cast<int>(i + 1);
    return 0;
}

CdxTag* Orders::tag(int n) const {
    if (n == 0) n = current_;
    if (n < 1 || n > static_cast<int>(tags_.size())) return nullptr;
    return tags_[static_cast<size_t>(n - 1)].tag;
}

std::string Orders::orderName(int n) const {
    CdxTag* t = tag(n);
    return t ? t->name() : std::string();
}
std::string Orders::orderKey(int n) const {
    CdxTag* t = tag(n);
    return t ? t->info().keyExpr : std::string();
}
std::string Orders::orderFor(int n) const {
    CdxTag* t = tag(n);
    return t ? t->info().forExpr : std::string();
}
std::string Orders::orderBag(int n) const {
    CdxTag* t = tag(n);
    return t ? t->bag().path() : std::string();
}
bool Orders::orderUnique(int n) const {
    CdxTag* t = tag(n);
    return t && t->unique();
}

void Orders::buildInto(CdxBag& bag, const std::string& tagName, const std::string& keyExpr,
                       const std::string& forExpr, bool unique) {
    Table& t = wa_->table();
    t.flush();
    uint32_t keep = t.atPhantom() ? 0 : t.recno();
    CdxTagInfo def;
    def.name = tagName;
    def.keyExpr = keyExpr;
    def.forExpr = forExpr;
    def.options = unique ? kCdxUnique : 0;
    CdxBag::TagSource src = sourceFor(bag, def);
    bag.buildTag(tagName, keyExpr, forExpr, unique, src.type, src.keyLength,
                 std::move(src.flatKeys), std::move(src.recnos));
    t.read(keep);
}

void Orders::createTag(const std::string& bagPath, const std::string& tagName,
                       const std::string& keyExpr, const std::string& forExpr, bool unique) {
    wa_->table().flush();
    settlePending();
    Table& t = wa_->table();
    if (t.readOnly())
        throw DbfError(kErrReadonly,
                       "La tabla está abierta solo para lectura: no se puede indexar.", t.path());
    KeyMaker km;
    km.prepare(*wa_, keyExpr, forExpr);
    if (!km.computable())
        throw DbfError(kErrDataType, "La expresión de la clave no se puede calcular: " + keyExpr,
                       bagPath);
    const std::string resolved = resolvePath(bagPath);
    CdxBag* bag = nullptr;
    for (auto& b : bags_)
        if (b->path() == resolved) bag = b.get();
    if (!bag) {
        if (bags_.size() >= kMaxBags)
            throw DbfError(kErrBound, "No se pueden abrir más de seis índices con una tabla.",
                           bagPath);
        std::unique_ptr<CdxBag> nb = findExisting(bagPath)
                                         ? CdxBag::open(resolved, t.exclusive(), false)
                                         : CdxBag::create(resolved, t.exclusive());
        bags_.push_back(std::move(nb));
        bag = bags_.back().get();
    }
    std::string upperTag = upperAscii(trimmed(tagName)).substr(0, 10);
    bool exists = false;
    for (CdxTag* x : bag->tags())
        if (x->name() == upperTag) exists = true;
    if (exists) {
        // A tag replaced: the whole bag is built again from the table, so that
        // the old tree (perhaps the damaged one being replaced) is never walked.
        CdxTagInfo def;
        def.name = upperTag;
        def.keyExpr = keyExpr;
        def.forExpr = forExpr;
        def.options = unique ? kCdxUnique : 0;
        rebuildBag(*bag, &def);
    } else {
        buildInto(*bag, tagName, keyExpr, forExpr, unique);
    }
    loadTags();
    std::string u = upperAscii(tagName).substr(0, 10);
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i].bag == bag && tags_[i].tag->name() == u) current_ = static_cast<int>(i + 1);
    attachNav();
    wa_->goTop();
}

void Orders::reindex() {
    wa_->table().flush();
    settlePending();
    for (auto& b : bags_) rebuildBag(*b);
    loadTags();
    attachNav();
}

// The entries of one tag from the records. A tag whose expression this
// engine cannot compute keeps the entries its tree lists (when it can be read).
CdxBag::TagSource Orders::sourceFor(CdxBag& bag, const CdxTagInfo& def) {
    CdxBag::TagSource src;
    src.name = def.name;
    src.keyExpr = def.keyExpr;
    src.forExpr = def.forExpr;
    src.unique = def.options & kCdxUnique;
    KeyMaker km;
    km.prepare(*wa_, def.keyExpr, def.forExpr);
    if (!km.computable()) {
        CdxTag* old = bag.tag(def.name);
        if (!old) throw DbfError(kErrArg, "El índice no tiene la etiqueta " + def.name, bag.path());
        src.type = old->keyType();
        src.keyLength = old->keyLength();
        old->walk([&](std::string_view k, uint32_t r) {
            src.flatKeys.append(k.data(), k.size());
            src.recnos.push_back(r);
            return true;
        });
        return src;
    }
    src.type = km.type();
    src.keyLength = km.length();
    Table& t = wa_->table();
    uint32_t n = t.recCount();
    src.flatKeys.reserve(size_t{n} * km.length());
    src.recnos.reserve(n);
    for (uint32_t r = 1; r <= n; ++r) {
        t.read(r);
        if (auto k = km.key(*wa_)) {
            k->resize(km.length(), cdxkey::padByte(km.type()));
            src.flatKeys.append(k->data(), k->size());
            src.recnos.push_back(r);
        }
    }
    return src;
}

void Orders::rebuildBag(CdxBag& bag, const CdxTagInfo* replace, bool onlyIfInterrupted) {
    Table& t = wa_->table();
    t.flush();
    uint32_t keep = t.atPhantom() ? 0 : t.recno();
    {
        // The records are read under the bag's write lock: a writer that
        // changes one meanwhile follows it in the bag after our build.
        CdxBag::WriteGuard g(bag);
        if (onlyIfInterrupted && !bag.interrupted()) return;  // another open did it
        std::vector<CdxBag::TagSource> sources;
        for (const CdxTagInfo& d : bag.definitions())
            sources.push_back(sourceFor(bag, replace && d.name == replace->name ? *replace : d));
        bag.rebuild(std::move(sources));
        bag.clearDeadMarks();
    }
    t.read(keep);
}

// A bag's mark goes only once the bag and the records it follows are on the
// disk: the table first (after a power cut, a bag synced ahead of its table
// could hold keys of records the cut took back), then each bag syncs and
// clears its mark (CdxBag::settle). Two syncs per writing open, none per change.
void Orders::settleBags() {
    bool marked = std::any_of(bags_.begin(), bags_.end(), [](auto& b) { return b->marked(); });
    if (marked) wa_->table().commit();
    for (auto& b : bags_) b->settle();
}

void Orders::holdMarks() {
    if (holding_ || tags_.empty()) return;
    for (auto& b : bags_) b->holdChange();
    holding_ = true;
}

// The bags have followed every record written: nothing is pending here (an
// appended record's keys wait for its first change).
void Orders::releaseMarks() {
    if (!holding_ || pendingAppend_) return;
    holding_ = false;
    for (auto& b : bags_) b->releaseChange();
}

void Orders::destroyTag(std::string_view name) {
    wa_->table().flush();
    settlePending();
    int n = orderOf(name);
    if (n == 0) return;
    OrderTag& ot = tags_[static_cast<size_t>(n - 1)];
    CdxBag* bag = ot.bag;
    std::string tagName = ot.tag->name();
    std::string keepName;
    CdxBag* keepBag = nullptr;
    if (n != current_ && cur()) {
        keepName = cur()->tag->name();
        keepBag = cur()->bag;
    }
    current_ = 0;
    tags_.clear();  // the tag object goes away with the directory entry
    bag->removeTag(tagName);
    loadTags();
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i].bag == keepBag && tags_[i].tag->name() == keepName)
            current_ = static_cast<int>(i + 1);
    attachNav();
}

// ---------------------------------------------------------------------------
// Scopes and positions

bool Orders::inScope(const OrderTag& ot, const std::string& key) const {
    if (ot.top && key.compare(0, ot.top->size(), *ot.top) < 0) return false;
    if (ot.bottom && key.compare(0, ot.bottom->size(), *ot.bottom) > 0) return false;
    return true;
}

CdxPos Orders::scopedFirst(OrderTag& ot) {
    CdxPos p = ot.top ? ot.tag->seekFirst(*ot.top) : ot.tag->first();
    if (p.valid && !inScope(ot, p.key)) return {};
    return p;
}

CdxPos Orders::scopedLast(OrderTag& ot) {
    CdxPos p = ot.bottom ? ot.tag->seekLast(*ot.bottom) : ot.tag->last();
    if (p.valid && !inScope(ot, p.key)) return {};
    return p;
}

CdxPos Orders::scopedNext(OrderTag& ot, const CdxPos& p) {
    CdxPos q = ot.tag->next(p);
    if (q.valid && !inScope(ot, q.key)) return {};
    return q;
}

CdxPos Orders::scopedPrev(OrderTag& ot, const CdxPos& p) {
    CdxPos q = ot.tag->prev(p);
    if (q.valid && !inScope(ot, q.key)) return {};
    return q;
}

// Where `recno` (whose record is in the buffer) sits in the order: its own
// entry, or the entry its key would take when the record is not in the tag.
CdxPos Orders::positionOf(OrderTag& ot, uint32_t recno) {
    if (last_.valid && last_.recno == recno) {
        // Still right unless the record's key changed since.
        auto k = ot.maker.computable() ? ot.maker.key(*wa_) : std::optional<std::string>(last_.key);
        if (!ot.maker.computable() || (k && *k == last_.key)) return last_;
        Table& t = wa_->table();
        if (!t.dirty() && ot.tag->holds(last_)) {
            // The tree lists the record under a key the record does not
            // have. Only a writer halfway through the change (it holds the
            // record) explains that; otherwise the tag is damaged, and
            // seeking by the record's own key would bring the walk back here
            // for ever.
            if (!t.lockedByOther(recno)) {
                t.reread();
                auto again = ot.maker.key(*wa_);
                if (!again || *again != last_.key)
                    damaged(ot, "la clave del registro " + std::to_string(recno) +
                                    " no es la de su entrada");
            }
            return last_;
        }
    }
    std::optional<std::string> k = ot.maker.key(*wa_);
    if (!k) {
        if (!ot.maker.computable()) {
            // The key cannot be computed: find the record by walking.
            for (CdxPos p = ot.tag->first(); p.valid; p = ot.tag->next(p))
                if (p.recno == recno) return p;
            return {};
        }
        // Not in the tag (FOR): placed by its key all the same.
        k = ot.maker.key(*wa_, true);
        if (!k) return {};
    }
    return ot.tag->seekEntry(*k, recno);
}

void Orders::damaged(const OrderTag& ot, const std::string& what) const {
    throw DbfError(kErrCorruption,
                   "Índice dañado: etiqueta " + ot.tag->name() + " del índice " +
                       baseName(ot.bag->path()) + ": " + what + ".",
                   ot.bag->path());
}

// A step in an order lands strictly beyond where it started; a tree whose
// keys are out of order (a damaged page) would otherwise walk in circles.
void Orders::mustAdvance(const OrderTag& ot, const CdxPos& from, const CdxPos& to, int dir) const {
    int c = to.key.compare(from.key);
    if (c == 0) c = to.recno < from.recno ? -1 : to.recno > from.recno ? 1 : 0;
    if (c * dir > 0) return;
    damaged(ot, "las claves no avanzan al recorrerla (registro " + std::to_string(from.recno) +
                    " a " + std::to_string(to.recno) + ")");
}

bool Orders::seek(const xb::Value& v, bool soft, bool lastOne) {
    settlePending();
    OrderTag* ot = cur();
    if (!ot) throw DbfError(36, "No hay un orden activo para buscar.", wa_->table().path());
    Table& t = wa_->table();
    t.flush();
    bool fitsType = false;
    switch (ot->maker.type()) {
        case cdxkey::Type::Character:
            fitsType = v.isString();
            break;
        case cdxkey::Type::Date:
            fitsType = v.isDate();
            break;
        case cdxkey::Type::Logical:
            fitsType = v.isLogical();
            break;
        default:
            fitsType = v.isNum();
    }
    if (!fitsType)
        throw DbfError(
            kErrDataType,
            "El valor buscado no es del tipo de la clave del orden " + ot->tag->name() + ".",
            ot->bag->path());
    std::string k = ot->maker.encode(v, false);
    // With SET EXACT on, a text matches only the whole key (trailing blanks
    // aside), not a key it begins.
    bool tooLong = false;
    if (ot->maker.type() == cdxkey::Type::Character && xb::settings().exact) {
        std::string s = v.asString();
        s.erase(s.find_last_not_of(' ') + 1);
        tooLong = s.size() > ot->tag->keyLength();
        k = ot->maker.encode(v, true);
    }
    CdxPos p;
    if (!lastOne) {
        p = ot->tag->seekFirst(k);
        if (ot->top && p.valid && p.key.compare(0, ot->top->size(), *ot->top) < 0)
            p = ot->tag->seekFirst(*ot->top);
    } else {
        p = ot->tag->seekLast(k);
        if (p.valid && p.key.compare(0, k.size(), k) != 0) p = ot->tag->next(p);
    }
    if (p.valid && !inScope(*ot, p.key)) p = {};
    last_ = p;
    if (!p.valid) {
        wa_->settle(0);
        wa_->setFound(false);
        return false;
    }
    wa_->settle(p.recno);
    bool found = false;
    if (!wa_->eof()) {
        auto cur = last_.valid && last_.recno == wa_->recno()
                       ? std::optional<std::string>(last_.key)
                       : ot->maker.key(*wa_);
        found = !tooLong && cur && cur->compare(0, k.size(), k) == 0;
    }
    if (!found && !soft) {
        wa_->settle(0);
    }
    wa_->setFound(found);
    return found;
}

void Orders::setScopeTop(const xb::Value& v) {
    OrderTag* ot = cur();
    if (!ot) return;
    if (v.isNil())
        ot->top.reset();
    else
        ot->top = ot->maker.encode(v, false);
}

void Orders::setScopeBottom(const xb::Value& v) {
    OrderTag* ot = cur();
    if (!ot) return;
    if (v.isNil())
        ot->bottom.reset();
    else
        ot->bottom = ot->maker.encode(v, false);
}

void Orders::clearScope() {
    if (OrderTag* ot = cur()) {
        ot->top.reset();
        ot->bottom.reset();
    }
}

static xb::Value decodeScope(const std::optional<std::string>& s, cdxkey::Type t) {
    if (!s) return xb::Value::nil();
    switch (t) {
        case cdxkey::Type::Character:
            return xb::Value::str(*s);
        case cdxkey::Type::Date:
            return xb::Value::date(static_cast<int32_t>(cdxkey::toNumber(*s)));
        case cdxkey::Type::Integer:
            return xb::Value::num(cdxkey::toInteger(*s));
        case cdxkey::Type::Logical:
            return xb::Value::logical(*s == "T");
        default:
            return xb::Value::num(cdxkey::toNumber(*s));
    }
}

xb::Value Orders::scopeTop() const {
    if (current_ < 1) return xb::Value::nil();
    const OrderTag& ot = tags_[static_cast<size_t>(current_ - 1)];
    return decodeScope(ot.top, ot.maker.type());
}

xb::Value Orders::scopeBottom() const {
    if (current_ < 1) return xb::Value::nil();
    const OrderTag& ot = tags_[static_cast<size_t>(current_ - 1)];
    return decodeScope(ot.bottom, ot.maker.type());
}

bool Orders::countNeedsRecords(const OrderTag& ot) const {
    if (!wa_->filterText().empty()) return true;
    bool hide = xb::settings().deleted;
    if (!hide) return false;
    std::string f = noSpaces(ot.tag->info().forExpr);
    return !(f == "!DELETED()" || f == ".NOT.DELETED()");
}

// Every key of the tag is a row the area shows: no filter, and deleted
// records either shown or kept out of the tag by its own condition. Then
// counting and positioning need no record, and whole leaves count at once.
bool Orders::everyKeyVisible(const OrderTag& ot) const {
    return wa_->filterText().empty() && !countNeedsRecords(ot);
}

uint32_t Orders::keyCount() {
    settlePending();
    OrderTag* ot = cur();
    if (!ot) return wa_->countVisible();
    Table& t = wa_->table();
    t.flush();
    if (everyKeyVisible(*ot)) {
        // One read lock for both ends and the leaves between them.
        CdxBag::ReadGuard g(*ot->bag);
        CdxPos a = scopedFirst(*ot);
        if (!a.valid) return 0;
        CdxPos b = scopedLast(*ot);
        if (!b.valid) return 0;
        return static_cast<uint32_t>(ot->tag->span(a, b));
    }
    bool records = countNeedsRecords(*ot);
    uint32_t keep = t.atPhantom() ? 0 : t.recno();
    uint32_t n = 0;
    for (CdxPos p = scopedFirst(*ot); p.valid; p = scopedNext(*ot, p)) {
        if (records) {
            t.read(p.recno);
            if (!wa_->visible()) continue;
        }
        ++n;
    }
    if (records) t.read(keep);
    return n;
}

uint32_t Orders::keyNo() {
    settlePending();
    OrderTag* ot = cur();
    Table& t = wa_->table();
    if (t.atPhantom() || wa_->eof()) return 0;
    if (!ot) return t.recno();
    t.flush();
    uint32_t target = t.recno();
    auto k = ot->maker.key(*wa_);
    if (k && everyKeyVisible(*ot)) {
        CdxBag::ReadGuard g(*ot->bag);
        CdxPos p = ot->tag->seekEntry(*k, target);
        if (!p.valid || p.recno != target || p.key != *k || !inScope(*ot, p.key)) return 0;
        CdxPos a = scopedFirst(*ot);
        if (!a.valid) return 0;
        return static_cast<uint32_t>(ot->tag->span(a, p));
    }
    bool records = countNeedsRecords(*ot);
    uint32_t n = 0;
    uint32_t found = 0;
    for (CdxPos p = scopedFirst(*ot); p.valid; p = scopedNext(*ot, p)) {
        if (records) {
            t.read(p.recno);
            if (!wa_->visible()) continue;
        }
        ++n;
        if (p.recno == target && (!k || *k == p.key)) {
            found = n;
            break;
        }
    }
    if (records || t.recno() != target) t.read(target);
    return found;
}

bool Orders::keyGoto(uint32_t want) {
    settlePending();
    OrderTag* ot = cur();
    if (!ot) {
        wa_->goTo(want);
        return !wa_->eof();
    }
    Table& t = wa_->table();
    t.flush();
    if (want == 0) {
        wa_->settle(0);
        return false;
    }
    if (everyKeyVisible(*ot)) {
        CdxPos p;
        {
            CdxBag::ReadGuard g(*ot->bag);
            CdxPos a = scopedFirst(*ot);
            if (a.valid) p = ot->tag->advance(a, want - 1);
            if (p.valid && !inScope(*ot, p.key)) p = {};
        }
        if (!p.valid) {
            wa_->settle(0);
            return false;
        }
        last_ = p;
        wa_->settle(p.recno);
        return true;
    }
    uint32_t n = 0;
    for (CdxPos p = scopedFirst(*ot); p.valid; p = scopedNext(*ot, p)) {
        t.read(p.recno);
        if (!wa_->visible()) continue;
        if (++n == want) {
            last_ = p;
            wa_->settle(p.recno);
            return true;
        }
    }
    wa_->settle(0);
    return false;
}

xb::Value Orders::keyValue() {
    settlePending();
    OrderTag* ot = cur();
    if (!ot || wa_->table().atPhantom()) return xb::Value::nil();
    auto k = ot->maker.key(*wa_);
    if (!k) return xb::Value::nil();
    return decodeScope(k, ot->maker.type());
}

// ---------------------------------------------------------------------------
// Relations

void Orders::setRelation(int childArea, const std::string& keyExpr, const xb::Value& block) {
    Relation r;
    r.child = childArea;
    r.text = keyExpr;
    if (block.isBlock())
        r.block = block;
    else
        r.expr = xb::compile(keyExpr);
    relations_.push_back(std::move(r));
    // Every move of this area positions the children.
    wa_->setMoveHook([this](WorkArea&) { syncRelations(); });
    syncRelations();
}

void Orders::clearRelations() {
    relations_.clear();
    if (!closed_) wa_->setMoveHook(nullptr);
}

std::string Orders::relationText(int n) const {
    if (n < 1 || n > static_cast<int>(relations_.size())) return {};
    return relations_[static_cast<size_t>(n - 1)].text;
}

int Orders::relationArea(int n) const {
    if (n < 1 || n > static_cast<int>(relations_.size())) return 0;
    return relations_[static_cast<size_t>(n - 1)].child;
}

void Orders::syncRelations() {
    if (relations_.empty() || syncing_) return;
    syncing_ = true;
    struct Done {
        bool& f;
        ~Done() { f = false; }
    } done{syncing_};
    Workspace& ws = workspace();
    for (Relation& r : relations_) {
        WorkArea* child = ws.area(r.child);
        if (!child) continue;
        if (wa_->eof() || wa_->table().atPhantom()) {
            child->settle(0);
            child->setFound(false);
            continue;
        }
        xb::Value v = inArea(
            *wa_, [&] { return r.block.isBlock() ? xb::evalBlock(r.block) : r.expr.eval(); });
        Orders* co = findOrders(*child);
        if (co && co->orderNumber() > 0) {
            co->seek(v, false, false);
        } else {
            child->goTo(static_cast<uint32_t>(v.asNumber()));
            child->setFound(!child->eof());
        }
    }
}

// ---------------------------------------------------------------------------
// Upkeep

std::vector<std::optional<std::string>> Orders::keysNow() {
    std::vector<std::optional<std::string>> keys;
    keys.reserve(tags_.size());
    for (auto& ot : tags_) keys.push_back(ot.maker.key(*wa_));
    return keys;
}

void Orders::beforeChange(Table&, uint32_t recno) {
    if (tags_.empty()) return;
    if (recno == pendingAppend_) {
        pendingAppend_ = 0;
        before_[recno] = std::vector<std::optional<std::string>>(tags_.size());
        return;
    }
    settlePending();
    before_[recno] = keysNow();
}

void Orders::beforeWrite(Table&, uint32_t) {
    holdMarks();
}

void Orders::afterChange(Table&, uint32_t recno) {
    if (tags_.empty()) return;
    if (pendingAppend_ != recno) settlePending(false);  // this record's keys still to follow
    auto it = before_.find(recno);
    if (it == before_.end()) {  // announced before we were attached
        releaseMarks();
        return;
    }
    std::vector<std::optional<std::string>> old = std::move(it->second);
    before_.erase(it);
    std::vector<std::optional<std::string>> now = keysNow();
    // One lock per bag for all its tags. A unique key that lost its record
    // finds its next holder under the same lock: between the two, another
    // writer would take the free key without asking who comes first.
    for (auto& b : bags_) {
        bool any = false;
        for (size_t i = 0; i < tags_.size() && i < old.size(); ++i)
            if (tags_[i].bag == b.get() && tags_[i].maker.computable() && old[i] != now[i])
                any = true;
        if (!any) continue;
        CdxBag::WriteGuard g(*b);
        std::vector<std::pair<size_t, std::string>> orphaned;
        for (size_t i = 0; i < tags_.size() && i < old.size(); ++i) {
            OrderTag& ot = tags_[i];
            if (ot.bag != b.get() || !ot.maker.computable() || old[i] == now[i]) continue;
            if (old[i] && ot.tag->remove(*old[i], recno) && ot.tag->unique())
                orphaned.emplace_back(i, *old[i]);
            if (now[i]) insertKey(ot, *now[i], recno);
        }
        for (auto& [i, key] : orphaned) refillUnique(i, key, recno);
    }
    if (last_.valid && last_.recno == recno) last_ = {};
    releaseMarks();
}

// A unique tag lists each key once, held by the first record (in record
// order) that has it: a record with a smaller number takes the key over.
void Orders::insertKey(OrderTag& ot, const std::string& key, uint32_t recno) {
    if (!ot.tag->unique()) {
        ot.tag->insert(key, recno);
        return;
    }
    CdxPos p = ot.tag->seekFirst(key);
    if (p.valid && p.key == ot.tag->normalize(key)) {
        if (p.recno <= recno) return;
        ot.tag->remove(p.key, p.recno);
    }
    ot.tag->insert(key, recno);
}

// The record that held a unique key left it: the first other record with
// that key (if any) holds it now, so that the tag keeps listing the value.
void Orders::refillUnique(size_t idx, const std::string& key, uint32_t except) {
    OrderTag& ot = tags_[idx];
    CdxBag::WriteGuard g(*ot.bag);
    CdxPos held = ot.tag->seekFirst(key);
    if (held.valid && held.key == key) return;
    uint32_t best = 0;
    // A non-unique tag whose key starts with this one (same condition) names
    // the candidates without reading the table.
    std::string mine = noSpaces(ot.tag->info().keyExpr);
    std::string myFor = noSpaces(ot.tag->info().forExpr);
    bool viaSibling = false;
    for (auto& other : tags_) {
        // Only a tag of the same bag: its lock is the one held now.
        if (&other == &ot || other.bag != ot.bag || other.tag->unique() ||
            !other.maker.computable())
            continue;
        std::string k = noSpaces(other.tag->info().keyExpr);
        if (noSpaces(other.tag->info().forExpr) != myFor) continue;
        if (!(k == mine || (k.size() > mine.size() && k.compare(0, mine.size(), mine) == 0 &&
                            k[mine.size()] == '+')))
            continue;
        if (other.maker.type() != ot.maker.type()) continue;
        for (CdxPos p = other.tag->seekFirst(key);
             p.valid && p.key.compare(0, key.size(), key) == 0; p = other.tag->next(p))
            if (p.recno != except && (best == 0 || p.recno < best)) best = p.recno;
        viaSibling = true;
        break;
    }
    if (!viaSibling) {
        Table& t = wa_->table();
        uint32_t keep = t.atPhantom() ? 0 : t.recno();
        uint32_t n = t.recCount();
        for (uint32_t r = 1; r <= n && best == 0; ++r) {
            if (r == except) continue;
            t.read(r);
            auto k = ot.maker.key(*wa_);
            if (k && *k == key) best = r;
        }
        t.read(keep);
    }
    if (best) ot.tag->insert(key, best);
}

void Orders::afterAppend(Table&, uint32_t recno) {
    if (tags_.empty()) return;
    settlePending(false);  // the mark stays for the new record
    // The blank record's keys wait until it is filled (its first change,
    // announced next in the usual case) or anything else happens here: one
    // insertion per tag instead of a blank one, a removal and the real one.
    pendingAppend_ = recno;
    pendingKeys_ = keysNow();
    last_ = {};
}

void Orders::settlePending(bool release) {
    if (!pendingAppend_) return;
    uint32_t recno = pendingAppend_;
    pendingAppend_ = 0;
    std::vector<std::optional<std::string>> keys = std::move(pendingKeys_);
    for (auto& b : bags_) {
        CdxBag::WriteGuard g(*b);
        for (size_t i = 0; i < tags_.size() && i < keys.size(); ++i) {
            OrderTag& ot = tags_[i];
            if (ot.bag != b.get() || !ot.maker.computable() || !keys[i]) continue;
            insertKey(ot, *keys[i], recno);
        }
    }
    if (release) releaseMarks();
}

void Orders::afterPack(Table&) {
    pendingAppend_ = 0;
    before_.clear();
    reindex();
}

void Orders::afterZap(Table&) {
    pendingAppend_ = 0;
    before_.clear();
    reindex();
}

void Orders::tableClosing(Table& t) {
    if (closed_) return;
    // A change still in the buffer is written now, while we can follow it.
    try {
        t.flush();
    } catch (...) {
    }
    try {
        settlePending();
    } catch (...) {
    }
    // Released only when the bags followed (a failure above keeps the mark
    // for the next open to repair).
    try {
        releaseMarks();
        settleBags();
    } catch (...) {
    }
    t.removeObserver(this);
    wa_->setMoveHook(nullptr);
    closed_ = true;
    relations_.clear();
    tags_.clear();
    bags_.clear();
}

// ---------------------------------------------------------------------------
// Checking

std::vector<std::string> Orders::check() {
    settlePending();
    std::vector<std::string> faults;
    Table& t = wa_->table();
    t.flush();
    uint32_t keep = t.atPhantom() ? 0 : t.recno();
    uint32_t n = t.recCount();
    for (auto& ot : tags_) {
        for (auto& f : ot.tag->checkStructure()) faults.push_back(f);
        if (!ot.maker.computable()) continue;
        const std::string& name = ot.tag->name();
        std::vector<std::pair<std::string, uint32_t>> inTree;
        try {
            ot.tag->walk([&](std::string_view k, uint32_t r) {
                inTree.emplace_back(std::string(k), r);
                return true;
            });
        } catch (const DbfError& e) {
            // Already told by the structure check; the keys cannot be compared.
            faults.push_back("etiqueta " + name + ": " + e.description());
            continue;
        }
        std::map<uint32_t, std::string> treeByRec;
        for (auto& [k, r] : inTree) {
            if (r == 0 || r > n)
                faults.push_back("etiqueta " + name + ": registro " + std::to_string(r) +
                                 " inexistente en el índice");
            else if (!treeByRec.emplace(r, k).second)
                faults.push_back("etiqueta " + name + ": el registro " + std::to_string(r) +
                                 " aparece más de una vez");
        }
        // A unique tag holds each key once, by the first record having it.
        std::map<std::string, uint32_t> firstOfKey;
        for (uint32_t r = 1; r <= n; ++r) {
            t.read(r);
            auto k = ot.maker.key(*wa_);
            auto it = treeByRec.find(r);
            bool wanted = k.has_value();
            if (wanted && ot.tag->unique()) wanted = firstOfKey.emplace(*k, r).second;
            if (wanted && it == treeByRec.end())
                faults.push_back("etiqueta " + name + ": falta la clave del registro " +
                                 std::to_string(r));
            else if (!wanted && it != treeByRec.end())
                faults.push_back("etiqueta " + name + ": el registro " + std::to_string(r) +
                                 (k ? " repite una clave única" : " no cumple la condición") +
                                 " y está en el índice");
            else if (wanted && *k != it->second)
                faults.push_back("etiqueta " + name + ": la clave del registro " +
                                 std::to_string(r) + " no corresponde al registro");
        }
        if (faults.size() > 1000) break;
    }
    t.read(keep);
    return faults;
}

// ---------------------------------------------------------------------------
// Per-area registry

namespace {
struct Entry {
    uint64_t serial;
    std::unique_ptr<Orders> orders;
};
std::map<WorkArea*, Entry>& registry() {
    static std::map<WorkArea*, Entry> r;
    return r;
}
}  // namespace

Orders* findOrders(WorkArea& wa) {
    auto& r = registry();
    auto it = r.find(&wa);
    if (it == r.end()) return nullptr;
    if (it->second.serial != wa.serial() || it->second.orders->closed()) return nullptr;
    return it->second.orders.get();
}

Orders& orders(WorkArea& wa) {
    auto& r = registry();
    for (auto it = r.begin(); it != r.end();) {
        if (it->second.orders->closed() && it->first != &wa)
            it = r.erase(it);
        else
            ++it;
    }
    auto it = r.find(&wa);
    if (it != r.end() && it->second.serial == wa.serial() && !it->second.orders->closed())
        return *it->second.orders;
    // A closed area's leftovers: its table is gone, so nothing to detach.
    if (it != r.end()) r.erase(it);
    auto o = std::make_unique<Orders>(wa);
    Orders& ref = *o;
    r[&wa] = Entry{wa.serial(), std::move(o)};
    return ref;
}

ChangeBatch::ChangeBatch(WorkArea& wa, Kind kind) : wa_(wa) {
    Table& t = wa.table();
    if (t.exclusive() || t.readOnly()) return;
    wa.flush();
    if (kind == Appends && !t.headerLocked() && !t.fileLocked()) {
        if (!t.lockHeader(tabledetail::kAppendWaitMs))
            throw DbfError(kErrAppendLock,
                           "No se puede añadir un registro: otro usuario tiene bloqueada la tabla.",
                           t.path(), kOsSharingViolation);
        header_ = true;
    }
    if (Orders* o = findOrders(wa)) {
        try {
            for (auto& b : o->bags_) {
                if (b->readOnly()) continue;
                b->beginWrite();
                bags_.push_back(b.get());
            }
        } catch (...) {
            for (CdxBag* b : bags_) b->endWrite();
            if (header_) t.unlockHeader();
            throw;
        }
    }
}

ChangeBatch::~ChangeBatch() noexcept(false) {
    const bool unwinding = std::uncaught_exceptions() > 0;
    std::exception_ptr first;
    // The records and their count, then the pages that follow them.
    try {
        wa_.flush();
    } catch (...) {
        first = std::current_exception();
    }
    if (header_) try {
            wa_.table().unlockHeader();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    for (CdxBag* b : bags_) try {
            b->endWrite();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    // A failure already unwinding is the one the caller hears; a bag left
    // unwritten keeps its mark, so the next open puts it right.
    if (first && !unwinding) std::rethrow_exception(first);
}

}  // namespace dbf
