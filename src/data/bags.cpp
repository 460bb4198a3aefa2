#include "data/bags.h"

#include "data/paths.h"
#include "dbf/cdx.h"
#include "dbf/error.h"
#include "dbf/paths.h"
#include "dbf/workarea.h"
#include "dbf/workspace.h"
#include "xbase/compiler.h"

namespace data {

namespace {

// The key of the record in the area's buffer, in the form the tag stores.
std::string keyBytes(const xb::Value& v, dbf::cdxkey::Type type, size_t len) {
    switch (type) {
        case dbf::cdxkey::Type::Character:
            return dbf::cdxkey::fromText(v.asString(), len);
        case dbf::cdxkey::Type::Date:
            return dbf::cdxkey::fromDate(v.asDate());
        case dbf::cdxkey::Type::Logical:
            return dbf::cdxkey::fromLogical(v.asLogical());
        default:
            return dbf::cdxkey::fromNumber(v.asNumber());
    }
}

}  // namespace

void createTag(dbf::WorkArea& area, const std::string& path, const std::string& tag,
               const std::string& key, const std::string& forExpr, bool unique) {
    dbf::Workspace& ws = dbf::workspace();
    dbf::Table& table = area.table();
    std::vector<std::pair<std::string, uint32_t>> entries;
    dbf::cdxkey::Type type = dbf::cdxkey::Type::Character;
    size_t len = 0;
    ws.withArea(area.number(), [&] {
        xb::Expr keyExpr = xb::compile(key);
        // Records without the deletion mark are told from the table itself;
        // any other condition is an expression of the language.
        bool liveOnly = forExpr == "!Deleted()";
        xb::Expr cond = liveOnly || forExpr.empty() ? xb::Expr() : xb::compile(forExpr);
        uint32_t count = table.recCount();
        // The blank record tells the key's type and width even when the
        // table has no record.
        table.read(count + 1);
        xb::Value probe = keyExpr.eval();
        switch (probe.type()) {
            case 'C':
            case 'M':
                type = dbf::cdxkey::Type::Character;
                len = probe.asString().size();
                break;
            case 'D':
                type = dbf::cdxkey::Type::Date;
                len = 8;
                break;
            case 'L':
                type = dbf::cdxkey::Type::Logical;
                len = 1;
                break;
            case 'N':
                type = dbf::cdxkey::Type::Numeric;
                len = 8;
                break;
            default:
                throw dbf::DbfError(dbf::kErrDataType,
                                    "La clave «" + key + "» no da un valor que se pueda indexar",
                                    path);
        }
        if (len == 0 || len > dbf::kCdxMaxKey)
            throw dbf::DbfError(dbf::kErrDataWidth, "La clave «" + key + "» no cabe en un índice",
                                path);
        for (uint32_t r = 1; r <= count; ++r) {
            table.read(r);
            if (liveOnly && table.deleted()) continue;
            if (!cond.empty() && !cond.eval().asLogical()) continue;
            entries.emplace_back(keyBytes(keyExpr.eval(), type, len), r);
        }
    });
    area.goTop();
    std::string host = dbf::resolvePath(path);
    std::unique_ptr<dbf::CdxBag> bag =
        fileExists(path) ? dbf::CdxBag::open(host, true, false) : dbf::CdxBag::create(host, true);
    bag->buildTag(tag, key, forExpr, unique, type, static_cast<uint16_t>(len), std::move(entries));
    bag->flush();
}

}  // namespace data
