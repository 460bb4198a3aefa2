// Index orders of a work area: the bags opened with its table, the
// controlling order that every move follows, seeks, scopes, key counts and
// positions, relations to child areas, and the upkeep of every tag of every
// open bag as records are appended, changed, deleted and recalled.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/cdx.h"
#include "dbf/observer.h"
#include "dbf/workarea.h"
#include "xbase/compiler.h"
#include "xbase/value.h"

namespace dbf {

inline constexpr size_t kMaxBags = 6;

// How a tag's key (and FOR condition) is computed from a record. Simple keys
// (fields joined by "+", DTOS(field), one field of any type) are read straight
// from the record buffer; anything else goes through the expression compiler.
class KeyMaker {
  public:
    KeyMaker() = default;
    // Prepares for `table`. computable() is false when the text names things
    // the table does not have (e.g. a database container's long field names).
    void prepare(WorkArea& wa, const std::string& keyText, const std::string& forText);
    bool computable() const { return computable_; }
    cdxkey::Type type() const { return type_; }
    uint16_t length() const { return length_; }
    // Sets type and length from the tag when the bag already has them.
    void adopt(cdxkey::Type t, uint16_t len) {
        type_ = t;
        length_ = len;
    }
    // The key of the record in the table's buffer; nothing when the FOR
    // condition leaves the record out.
    std::optional<std::string> key(WorkArea& wa, bool ignoreFor = false) const;
    // Encodes a value as this key type (character values are not padded).
    std::string encode(const xb::Value& v, bool pad) const;

  private:
    struct Term {
        int field;
        bool dtos;
    };
    xb::Value evalKey(WorkArea& wa) const;
    bool evalFor(WorkArea& wa) const;
    bool computable_ = false;
    cdxkey::Type type_ = cdxkey::Type::Character;
    uint16_t length_ = 0;
    std::vector<Term> terms_;  // native key
    bool nativeKey_ = false;
    char fieldType_ = 'C';  // native key of one non-character field
    int forKind_ = 0;       // 0 none, 1 not deleted (native), 2 compiled
    xb::Expr keyExpr_;
    xb::Expr forExpr_;
};

class Orders : public TableObserver {
    friend class ChangeBatch;

  public:
    explicit Orders(WorkArea& wa);
    ~Orders() override;
    Orders(const Orders&) = delete;
    Orders& operator=(const Orders&) = delete;

    WorkArea& area() { return *wa_; }

    // --- bags
    // Opens a bag with the table (shared or exclusive as the table is). When
    // no order controls the area yet, the bag's first tag does.
    void addBag(const std::string& path);
    void clearBags();
    size_t bagCount() const { return bags_.size(); }
    std::string bagPath(size_t i) const { return bags_.at(i)->path(); }

    // --- orders, numbered over the open bags in the order they were added
    int orderCount() const { return static_cast<int>(tags_.size()); }
    void setOrder(int n);  // 0 = record order; out of range changes nothing
    bool setOrder(std::string_view tag);
    int orderNumber() const { return current_; }
    int orderOf(std::string_view tag) const;  // 0 when absent
    std::string orderName(int n = 0) const;
    std::string orderKey(int n = 0) const;
    std::string orderFor(int n = 0) const;
    std::string orderBag(int n = 0) const;
    bool orderUnique(int n = 0) const;
    CdxTag* tag(int n = 0) const;

    // Creates (or replaces, keeping its number) a tag in `bagPath` over every
    // record of the table in one pass; the bag is created when missing and
    // added to the area when not yet open with it. The new tag controls.
    void createTag(const std::string& bagPath, const std::string& tag, const std::string& keyExpr,
                   const std::string& forExpr = "", bool unique = false);
    // Rebuilds every tag of every open bag, one pass each.
    void reindex();
    // Takes a tag out of its bag.
    void destroyTag(std::string_view tag);

    // --- moving in order
    // Positions on the first (or last) key starting with `key`; with `soft`
    // a miss stays on the next greater key. Answers found() and sets it.
    bool seek(const xb::Value& key, bool soft = false, bool last = false);
    // Scopes: key prefixes bounding the controlling order (nil clears one).
    void setScopeTop(const xb::Value& v);
    void setScopeBottom(const xb::Value& v);
    void clearScope();
    xb::Value scopeTop() const;
    xb::Value scopeBottom() const;
    uint32_t keyCount();  // visible keys in scope
    uint32_t keyNo();     // logical position of the current record, 0 when none
    bool keyGoto(uint32_t n);
    xb::Value keyValue();  // the current record's key in the controlling order

    // --- relations: child areas positioned at each move of this one
    void setRelation(int childArea, const std::string& keyExpr, const xb::Value& block = {});
    void clearRelations();
    void syncRelations();
    std::string relationText(int n) const;  // 1-based
    int relationArea(int n) const;

    // Faults of every tag against the table: keys recomputed from the records
    // against the tree (missing, extra, FOR, unique) and the tree's structure.
    std::vector<std::string> check();

    // TableObserver
    void beforeChange(Table& t, uint32_t recno) override;
    void beforeWrite(Table& t, uint32_t recno) override;
    void afterChange(Table& t, uint32_t recno) override;
    void afterAppend(Table& t, uint32_t recno) override;
    void afterPack(Table& t) override;
    void afterZap(Table& t) override;
    void tableClosing(Table& t) override;

    bool closed() const { return closed_; }

  private:
    struct OrderTag {
        CdxBag* bag = nullptr;
        CdxTag* tag = nullptr;
        KeyMaker maker;
        std::optional<std::string> top, bottom;  // scope (encoded prefixes)
    };
    class Nav;
    friend class Nav;
    void loadTags();
    void buildInto(CdxBag& bag, const std::string& tag, const std::string& keyExpr,
                   const std::string& forExpr, bool unique);
    OrderTag* cur();
    bool inScope(const OrderTag& ot, const std::string& key) const;
    CdxPos scopedFirst(OrderTag& ot);
    CdxPos scopedLast(OrderTag& ot);
    CdxPos scopedNext(OrderTag& ot, const CdxPos& p);
    CdxPos scopedPrev(OrderTag& ot, const CdxPos& p);
    CdxPos positionOf(OrderTag& ot, uint32_t recno);
    [[noreturn]] void damaged(const OrderTag& ot, const std::string& what) const;
    void mustAdvance(const OrderTag& ot, const CdxPos& from, const CdxPos& to, int dir) const;
    std::vector<std::optional<std::string>> keysNow();
    // Writes the keys of a blank record appended and not yet filled.
    void settlePending(bool release = true);
    void insertKey(OrderTag& ot, const std::string& key, uint32_t recno);
    void refillUnique(size_t idx, const std::string& key, uint32_t except);
    bool countNeedsRecords(const OrderTag& ot) const;
    bool everyKeyVisible(const OrderTag& ot) const;
    void attachNav();
    // Builds every tag of `bag` again from the table, under the bag's write
    // lock; `replace` (when given) takes the place of the tag of its name.
    // With `onlyIfInterrupted`, only when a dead writer's mark is still there.
    void rebuildBag(CdxBag& bag, const CdxTagInfo* replace = nullptr,
                    bool onlyIfInterrupted = false);
    CdxBag::TagSource sourceFor(CdxBag& bag, const CdxTagInfo& def);
    void holdMarks();
    void releaseMarks();
    void settleBags();

    WorkArea* wa_;
    std::vector<std::unique_ptr<CdxBag>> bags_;
    std::vector<OrderTag> tags_;
    int current_ = 0;
    std::shared_ptr<Nav> nav_;
    CdxPos last_;  // last position handed to the work area
    std::map<uint32_t, std::vector<std::optional<std::string>>> before_;
    struct Relation {
        int child;
        std::string text;
        xb::Expr expr;
        xb::Value block;  // a code block given instead of a text
    };
    std::vector<Relation> relations_;
    uint32_t pendingAppend_ = 0;
    std::vector<std::optional<std::string>> pendingKeys_;
    bool closed_ = false;
    bool syncing_ = false;
    bool holding_ = false;  // the bags carry our change mark
};

// The bags and orders of a work area, made on first use and dropped when its
// table closes.
Orders& orders(WorkArea& wa);
// Only when already made (nullptr otherwise).
Orders* findOrders(WorkArea& wa);

// Several changes of one shared table made as one (the rows a save appends
// or deletes): each of its bags is held for writing, so that the pages the
// changes touch are written back once, after the records, instead of once
// per record; for appends the table's header is held too, so that the
// records appended meanwhile go to the file with the count in one write at
// the end. Other workstations wait for the end to change keys (and to
// append), so a batch never waits for a record another workstation holds
// (lock the records first), nor for the user. DbfError (oscode 32) when
// another user keeps the header.
class ChangeBatch {
  public:
    enum Kind { Appends, Changes };
    explicit ChangeBatch(WorkArea& wa, Kind kind = Appends);
    ~ChangeBatch() noexcept(false);
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;

  private:
    WorkArea& wa_;
    bool header_ = false;  // taken here (not held before)
    std::vector<CdxBag*> bags_;
};

// Registers ORDSETFOCUS, DBSETORDER, INDEXORD, ORDNUMBER, ORDNAME, ORDKEY,
// INDEXKEY, ORDFOR, ORDBAGNAME, ORDCOUNT, DBSEEK, ORDSCOPE, DBCLEARSCOPE,
// ORDKEYCOUNT, ORDKEYNO, ORDKEYGOTO, ORDKEYVAL, ORDCONDSET, ORDCREATE,
// DBCREATEINDEX, ORDLISTADD, DBSETINDEX, ORDLISTCLEAR, DBCLEARINDEX,
// ORDLISTREBUILD, DBREINDEX, ORDDESTROY, DBSETRELATION, DBCLEARRELATION,
// DBRELATION, DBRSELECT in the language.
void registerOrderFunctions();

}  // namespace dbf
