#include "prospects/card.h"
#include "prospects/rows.h"
#include "prospects/save.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "data/helpers.h"
#include "data/paths.h"
#include "dbf/bulk.h"
#include "dbf/cdx.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace prospects {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

int fi(dbf::WorkArea& wa, const char* name) {
    const int i = wa.table().fieldIndex(name);
    if (i < 0)
        throw std::runtime_error(std::string("falta el campo ") + name + " en " + wa.alias());
    return i;
}

}  // namespace

// ------------------------------------------------------------- small helpers

std::string S(dbf::WorkArea& wa, const char* f) {
    return wa.get(fi(wa, f)).asString();
}
double N(dbf::WorkArea& wa, const char* f) {
    return wa.get(fi(wa, f)).asNumber();
}
int32_t D(dbf::WorkArea& wa, const char* f) {
    return wa.get(fi(wa, f)).asDate();
}
bool L(dbf::WorkArea& wa, const char* f) {
    return wa.get(fi(wa, f)).asLogical();
}
void putS(dbf::WorkArea& wa, const char* f, const std::string& s) {
    wa.put(fi(wa, f), xb::Value::str(s));
}
void putM(dbf::WorkArea& wa, const char* f, const std::string& s) {
    wa.put(fi(wa, f), xb::Value::memo(s));
}
void putN(dbf::WorkArea& wa, const char* f, double n) {
    wa.put(fi(wa, f), xb::Value::num(n));
}
void putD(dbf::WorkArea& wa, const char* f, int32_t d) {
    wa.put(fi(wa, f), xb::Value::date(d));
}
void putL(dbf::WorkArea& wa, const char* f, bool b) {
    wa.put(fi(wa, f), xb::Value::logical(b));
}

dbf::WorkArea& areaOf(const char* alias) {
    dbf::WorkArea* a = ws().area(alias);
    if (!a) throw std::runtime_error(std::string("el alias ") + alias + " no está abierto");
    return *a;
}

std::string pad(std::string s, size_t width) {
    s.resize(width, ' ');
    return s;
}

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool blank(const std::string& s) {
    return trimmed(s).empty();
}

namespace {

// A field of a row and the member that holds it; a memo field is read as
// text and written as a memo.
template <class Row>
struct FieldOf {
    const char* name;
    std::variant<std::string Row::*, int32_t Row::*, bool Row::*> member;
    bool memo = false;
};

template <class Row, size_t N>
void readFields(dbf::WorkArea& wa, const FieldOf<Row> (&fields)[N], Row& row) {
    for (const FieldOf<Row>& f : fields)
        std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(row.*m)>;
                if constexpr (std::is_same_v<T, std::string>)
                    row.*m = S(wa, f.name);
                else if constexpr (std::is_same_v<T, bool>)
                    row.*m = L(wa, f.name);
                else
                    row.*m = D(wa, f.name);
            },
            f.member);
}

template <class Row, size_t N>
void writeFields(dbf::WorkArea& wa, const FieldOf<Row> (&fields)[N], const Row& row) {
    for (const FieldOf<Row>& f : fields)
        std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(row.*m)>;
                if constexpr (std::is_same_v<T, std::string>)
                    f.memo ? putM(wa, f.name, row.*m) : putS(wa, f.name, row.*m);
                else if constexpr (std::is_same_v<T, bool>)
                    putL(wa, f.name, row.*m);
                else
                    putD(wa, f.name, row.*m);
            },
            f.member);
}

using P = ProspectFields;
// The prospect's fields, in the order the save writes them.
const FieldOf<P> kProspectFields[] = {{"CODVEND", &P::codvend},
                                      {"CODPROSP", &P::codprosp},
                                      {"NEW", &P::nuevo},
                                      {"TIP", &P::tip},
                                      {"NOMBRE", &P::nombre},
                                      {"DIREC", &P::direc},
                                      {"TELEF", &P::telef},
                                      {"FAX", &P::fax},
                                      {"EMAIL", &P::email},
                                      {"CIUDAD", &P::ciudad},
                                      {"REPRESENT", &P::represent},
                                      {"TELFREP", &P::telfrep},
                                      {"ENCARGADO", &P::encargado},
                                      {"NUMPROSP", &P::numprosp},
                                      {"FEC_CREA", &P::fecCrea},
                                      {"OBSERVAC", &P::observac, true},
                                      {"VTA", &P::vta},
                                      {"FEC_VTA", &P::fecVta},
                                      {"CAT", &P::cat}};

// The client's identity, which a known code brings along, with the widths of
// its fields (EMAIL is 60 wide: blanked to 40, it cut what was typed later).
const std::pair<std::string P::*, size_t> kClientFields[] = {
    {&P::nombre, kWNombre},       {&P::direc, kWDirec},
    {&P::telef, kWTelef},         {&P::fax, kWFax},
    {&P::email, kWEmail},         {&P::ciudad, kWCiudad},
    {&P::represent, kWRepresent}, {&P::telfrep, kWTelfrep},
    {&P::encargado, kWEncargado}};

void blankClient(ProspectFields& p) {
    p.tip = kJuridica;
    for (const auto& [field, width] : kClientFields) p.*field = pad("", width);
}

using C = ContactRow;
const FieldOf<C> kContactFields[] = {{"FEC_CONT", &C::fecCont},        {"TIPO", &C::tipo},
                                     {"COD_RES", &C::codRes},          {"RESULTADO", &C::resultado},
                                     {"OBSERVAC", &C::observac, true}, {"FEC_PROX", &C::fecProx},
                                     {"HOR_PROX", &C::horProx},        {"FEC_REAL", &C::fecReal},
                                     {"HOR_REAL", &C::horReal}};

}  // namespace

std::string Link::key() const {
    return pad(numprosp, 14) + pad(codprosp, 8) + xb::dtos(fecCrea) + pad(codvend, 8);
}

CardValues newCard() {
    CardValues v;
    ProspectFields& p = v.p;
    p.codvend = pad("", 8);
    p.codprosp = pad("", 8);
    p.nuevo = "Si";
    p.cat = "001";
    blankClient(p);
    p.numprosp = data::clockNumber();
    p.fecCrea = xb::todayJulian();
    v.planOf = pad("", 8);
    v.cTipo = "Personal";
    v.cHorProx = pad("", 5);
    v.cHorReal = pad("", 5);
    v.docum = pad("", 20);
    v.planVt = pad("", 8);
    return v;
}

std::string tipShown(const std::string& stored) {
    return stored.rfind("Ju", 0) == 0 ? std::string(kJuridica) : std::string("Natural");
}

ProspectFields readProspect(dbf::WorkArea& wa) {
    ProspectFields p;
    readFields(wa, kProspectFields, p);
    return p;
}

void writeProspect(dbf::WorkArea& wa, const ProspectFields& p) {
    writeFields(wa, kProspectFields, p);
}

namespace {

// Each byte of `cur` is the one of `a` or of `b` at its place.
bool bytesOf(std::string_view cur, std::string_view a, std::string_view b) {
    if (a.size() != cur.size() || b.size() != cur.size()) return false;
    for (size_t i = 0; i < cur.size(); ++i)
        if (cur[i] != a[i] && cur[i] != b[i]) return false;
    return true;
}

}  // namespace

bool prospectBetween(dbf::WorkArea& wa, const ProspectFields& a, const ProspectFields& b) {
    if (wa.table().deleted()) return false;
    for (const FieldOf<P>& f : kProspectFields) {
        const std::string_view cur = wa.table().raw(fi(wa, f.name));
        const bool ok = std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(a.*m)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    if (!f.memo) return bytesOf(cur, pad(a.*m, cur.size()), pad(b.*m, cur.size()));
                    // A memo is told by its text; a pointer a cut left half
                    // written reads as no memo at all, and is the cut's too.
                    try {
                        const std::string text = S(wa, f.name);
                        return text == a.*m || text == b.*m;
                    } catch (const std::exception&) {
                        return true;
                    }
                } else if constexpr (std::is_same_v<T, bool>) {
                    const bool v = L(wa, f.name);
                    return v == a.*m || v == b.*m;
                } else {
                    const int32_t v = D(wa, f.name);
                    return v == a.*m || v == b.*m || bytesOf(cur, xb::dtos(a.*m), xb::dtos(b.*m));
                }
            },
            f.member);
        if (!ok) return false;
    }
    return true;
}

// ------------------------------------------------------------------ tables

std::string tableVar(const char* name) {
    xb::Value v;
    return xb::getVar(name, v) ? v.asString() : std::string();
}

std::string workstationFolder() {
    return tableVar("G_CAMINO") + tableVar("USERTERMIN");
}

std::string bufferPath(int n) {
    return workstationFolder() + "Buffer" + std::to_string(n) + ".dbf";
}

bool openCardTables() {
    struct T {
        const char *alias, *table, *bag;
    };
    static const T list[] = {
        {"Producto", "VDRPRODC", "VDRPRDX1"}, {"Plan", "VDRPLAN", "VDRPLNX1"},
        {"ProdOfer", "VDRPRDOF", "VDRPROX1"}, {"ProdVta", "VDRPRDVT", "VDRPRVX1"},
        {"Contacto", "VDRCONT", "VDRCNTX1"},  {"Respuesta", "VDRRESP", "VDRRESX1"}};
    const int prev = ws().current();
    bool ok = true;
    for (const T& t : list)
        if (!ws().used(t.alias) && !data::ABRIR(t.alias, tableVar(t.table), "S", {tableVar(t.bag)}))
            ok = false;
    ws().select(prev);
    return ok;
}

namespace {

int g_kept = 0;
const char* const kCardAliases[] = {"Producto", "Plan",     "ProdOfer",
                                    "ProdVta",  "Contacto", "Respuesta"};
const char* const kBufferAliases[] = {"Buffer1", "Buffer2", "Buffer3"};

void closeAreas(const char* const* aliases, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (dbf::WorkArea* w = ws().area(aliases[i])) ws().close(w->number());
}

}  // namespace

CardTablesKept::CardTablesKept() {
    ++g_kept;
}

CardTablesKept::~CardTablesKept() {
    if (--g_kept > 0) return;
    closeKeptFiles();
    try {
        closeBuffers();
        closeCardTables();
    } catch (...) {
        // Closing cannot report here; the areas close with the workspace.
    }
}

bool CardTablesKept::active() {
    return g_kept > 0;
}

void closeCardTables() {
    if (g_kept > 0) {
        // Kept for the next card, with the filter, scope and order of a
        // fresh open. Where each stands does not matter: the card seeks,
        // relates or goes to the top before it reads any of them, and a move
        // here would cost a look at every bag.
        for (const char* a : kCardAliases)
            if (dbf::WorkArea* w = ws().area(a)) {
                w->flush();
                w->clearFilter();
                dbf::Orders& o = dbf::orders(*w);
                o.clearScope();
                o.setOrder(o.orderCount() > 0 ? 1 : 0);
            }
        return;
    }
    closeAreas(kCardAliases, std::size(kCardAliases));
}

const CardList& cardList(int n) {
    static const CardList lists[] = {
        {1, "Buffer1", "ProdOfer", "NumProsp", "FECHA", "Seguro desea borrar Producto ofertado ?"},
        {2, "Buffer2", "Contacto", "NumCliFec", "FEC_CREA",
         "Seguro desea borrar Contacto efectuado ?"},
        {3, "Buffer3", "ProdVta", "NumProsp2", "FECHA", "Seguro desea borrar Producto vendido ?"}};
    return lists[n == 1 ? 0 : n == 2 ? 1 : 2];
}

dbf::WorkArea& listBuffer(int n) {
    return areaOf(cardList(n).buffer);
}

const char* dependentAlias(int t) {
    return cardList(t).table;
}
const char* linkTag(int t) {
    return cardList(t).linkTag;
}
const char* dateField(int t) {
    return cardList(t).dateField;
}

bool rowHasLink(dbf::WorkArea& wa, int t, const Link& link) {
    return S(wa, "NUMPROSP") == pad(link.numprosp, 14) &&
           S(wa, "CLIENTE") == pad(link.codprosp, 8) && D(wa, dateField(t)) == link.fecCrea &&
           S(wa, "VENDEDOR") == pad(link.codvend, 8);
}

void stampLink(dbf::WorkArea& wa, int t, const Link& link) {
    putS(wa, "NUMPROSP", link.numprosp);
    putS(wa, "CLIENTE", link.codprosp);
    putD(wa, dateField(t), link.fecCrea);
    putS(wa, "VENDEDOR", link.codvend);
}

std::vector<uint32_t> linkedRows(int t, const Link& link) {
    // One look at the table's bag for the seek and every row after it.
    dbf::ReadBatch batch;
    dbf::WorkArea& wa = areaOf(dependentAlias(t));
    dbf::Orders& o = dbf::orders(wa);
    const int before = o.orderNumber();
    const xb::Value top = o.scopeTop(), bottom = o.scopeBottom();
    o.clearScope();
    o.setOrder(linkTag(t));
    std::vector<uint32_t> rows;
    if (o.seek(xb::Value::str(link.key()))) {
        // Equal keys sit in record order in the tag: the stored order.
        for (; !wa.eof() && rowHasLink(wa, t, link); wa.skip(1)) rows.push_back(wa.recno());
    }
    o.setOrder(before);
    if (!top.isNil()) o.setScopeTop(top);
    if (!bottom.isNil()) o.setScopeBottom(bottom);
    return rows;
}

void closeBuffers() {
    if (g_kept > 0) {
        for (const char* a : kBufferAliases)
            if (dbf::WorkArea* w = ws().area(a)) w->flush();
        return;
    }
    closeAreas(kBufferAliases, std::size(kBufferAliases));
}

namespace {

bool openBuffer(int n) {
    const int prev = ws().current();
    const bool ok = data::ABRIR(cardList(n).buffer, bufferPath(n), "E");
    ws().select(prev);
    if (ok && n == 1)
        if (dbf::WorkArea* prod = ws().area("Producto"))
            dbf::orders(listBuffer(1)).setRelation(prod->number(), "CODPROD");
    return ok;
}

}  // namespace

bool fillBuffers(const Link& link) {
    // Buffers kept open from the last card (CardTablesKept) are emptied;
    // others are made anew.
    bool made = false;
    bool ok = true;
    for (int t = 1; t <= 3; ++t) {
        dbf::WorkArea& src = areaOf(dependentAlias(t));
        const std::vector<uint32_t> rows = linkedRows(t, link);
        const char* alias = cardList(t).buffer;
        dbf::WorkArea* kept = ws().area(alias);
        if (kept && g_kept > 0 && kept->table().exclusive() &&
            kept->table().structure() == src.table().structure()) {
            kept->zap();
        } else {
            if (kept) ws().close(kept->number());
            if (!made) {
                const std::string folder = data::hostPath(workstationFolder());
                if (!data::dirExists(workstationFolder())) ::mkdir(folder.c_str(), 0777);
                made = true;
            }
            dbf::Table::create(data::hostPath(bufferPath(t)), src.table().structure());
            if (!openBuffer(t)) {
                ok = false;
                continue;
            }
        }
        dbf::WorkArea& dst = areaOf(alias);
        for (uint32_t r : rows) {
            src.goTo(r);
            dst.append();
            dbf::copyMatchingFields(src.table(), dst.table());
        }
        dst.flush();
        dst.goTop();
        src.goTop();
    }
    return ok;
}

int bufferRows(int n) {
    dbf::WorkArea* b = ws().area(cardList(n).buffer);
    return b ? static_cast<int>(b->countVisible()) : 0;
}

double bufferTotal(int n) {
    dbf::WorkArea* b = ws().area(cardList(n).buffer);
    if (!b) return 0;
    const uint32_t keep = b->recno();
    double sum = 0;
    for (b->goTop(); !b->eof(); b->skip(1)) sum += N(*b, "VALORTOT");
    b->goTo(keep);
    return sum;
}

bool lookupCode(const char* alias, const std::string& code, const char* descField,
                std::string& desc) {
    dbf::WorkArea* a = ws().area(alias);
    if (!a) return false;
    // The seek alone would take the first code that begins with the typed
    // one ("V1" finding "V10"): the code is sought at the field's full width.
    const size_t width = a->table().fields()[static_cast<size_t>(fi(*a, "CODIGO"))].len;
    std::string typed = code;
    typed.erase(typed.find_last_not_of(' ') + 1);
    if (blank(typed) || typed.size() > width) return false;
    dbf::Orders& o = dbf::orders(*a);
    o.setOrder(1);
    if (!o.seek(xb::Value::str(pad(typed, width)))) return false;
    desc = S(*a, descField);
    return true;
}

void copyOffersToSold() {
    dbf::WorkArea& b1 = listBuffer(1);
    dbf::WorkArea& b3 = listBuffer(3);
    for (b1.goTop(); !b1.eof(); b1.skip(1)) {
        b3.append();
        for (const char* f : {"CLIENTE", "VENDEDOR", "CODPROD", "NUMPROSP"}) putS(b3, f, S(b1, f));
        putD(b3, "FECHA", D(b1, "FECHA"));
        putN(b3, "CANT", N(b1, "CANT"));
        putN(b3, "VALORTOT", N(b1, "VALORTOT"));
    }
    b3.flush();
    b1.goTop();
    b3.goTop();
}

ContactRow readContact(dbf::WorkArea& b2) {
    ContactRow c;
    readFields(b2, kContactFields, c);
    return c;
}

void showContact(const ContactRow& c, CardValues& v) {
    v.cFecCont = c.fecCont;
    v.cTipo = c.tipo;
    v.cResultado = c.resultado;
    v.cObservac = c.observac;
    v.cFecProx = c.fecProx;
    v.cHorProx = c.horProx;
    v.cFecReal = c.fecReal;
    v.cHorReal = c.horReal;
}

void loadListValues(CardValues& v) {
    v.totalOf = bufferTotal(1);
    dbf::WorkArea& b1 = listBuffer(1);
    b1.goTop();
    v.planOf = b1.eof() ? pad("", 8) : S(b1, "PLAN");
    std::string det;
    if (lookupCode("Plan", v.planOf, "DETALLE", det)) {
        v.planOfDet = det;
        v.planVtDet = det;
    } else if (dbf::WorkArea* plan = ws().area("Plan")) {
        plan->goTop();
    }
    dbf::WorkArea& b2 = listBuffer(2);
    b2.goTop();
    if (!b2.eof()) showContact(readContact(b2), v);
    dbf::WorkArea& b3 = listBuffer(3);
    b3.goTop();
    if (!b3.eof()) {
        v.docum = S(b3, "DOCUM");
        v.planVt = S(b3, "PLAN");
    }
    v.fecVtaCopy = v.p.fecVta;
    if (bufferRows(1) > 0 && bufferRows(3) == 0) copyOffersToSold();
    v.totalVt = bufferTotal(3);
}

bool prepareCard(const std::string& mode, CardValues& v) {
    dbf::WorkArea& p = areaOf("Prospecto");
    const uint32_t at = p.recno();
    if (!openCardTables()) return false;
    settlePendingSaves();
    p.goTo(at);
    if (mode == "M") {
        if (p.eof() || p.deleted()) return false;
        v = newCard();
        v.p = readProspect(p);
        v.p.tip = tipShown(v.p.tip);
        v.recno = p.recno();
        v.stored = readProspect(p);
        v.fromRecord = true;
        if (dbf::WorkArea* vend = ws().area("Vendedor")) {
            dbf::Orders& o = dbf::orders(*vend);
            o.setOrder(1);
            v.vendName = !blank(v.p.codvend) && o.seek(xb::Value::str(v.p.codvend))
                             ? S(*vend, "NOMBRE")
                             : std::string(
                                   "ERROR..... C\xf3"
                                   "digo no registrado....");
        }
    } else {
        v = newCard();
        p.goTop();
    }
    v.openedAt = at;
    // What the duplicate checks of the card's lookups read.
    xb::createPublic("LREG", xb::Value());
    xb::assignVar("LREG", xb::Value::integer(mode == "M" ? static_cast<int64_t>(v.recno) : -1));
    // One look at each bag for the rows and the products they name.
    dbf::ReadBatch batch;
    if (!fillBuffers(v.p.link())) return false;
    if (mode == "M") loadListValues(v);
    return true;
}

bool productTotal(double qty, double price, double& total) {
    const double t = qty * price;
    if (!(t <= kMaxTotal && t >= -99999999999.0 / 1000)) return false;  // also NaN
    // VALORTOT is N(12,2): a minus sign leaves room for 8 integer digits.
    if (t < -99999999.99) return false;
    total = t;
    return true;
}

std::string contactUri(const std::string& text, bool mail) {
    const std::string t = trimmed(text);
    if (t.empty()) return {};
    if (mail) {
        static const char* hex = "0123456789ABCDEF";
        std::string out = "mailto:";
        for (unsigned char c : xb::cp1252ToUtf8(t)) {
            if (std::isalnum(c) || std::strchr("@._+-", c)) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        return out;
    }
    std::string digits;
    for (char c : t) {
        if (c >= '0' && c <= '9') digits += c;
        if (c == '+' && digits.empty()) digits = "+";
    }
    return digits.empty() || digits == "+" ? std::string() : "tel:" + digits;
}

bool validHour(const std::string& hhmm) {
    if (hhmm.find_first_of("0123456789") == std::string::npos) return true;
    auto digit = [&](size_t i) { return i < hhmm.size() && hhmm[i] >= '0' && hhmm[i] <= '9'; };
    if (hhmm.size() != 5 || hhmm[2] != ':' || !digit(0) || !digit(1) || !digit(3) || !digit(4))
        return false;
    const int h = (hhmm[0] - '0') * 10 + (hhmm[1] - '0');
    const int m = (hhmm[3] - '0') * 10 + (hhmm[4] - '0');
    return h <= 23 && m <= 59;
}

void writeProductRow(int n, const std::string& mode, const ProductRow& r, const CardValues& v) {
    dbf::WorkArea& b = listBuffer(n);
    if (mode == "I" || b.eof()) b.append();
    stampLink(b, n, v.p.link());
    putS(b, "CODPROD", r.code);
    putN(b, "CANT", r.qty);
    putN(b, "VALORTOT", r.total);
    if (n == 1) {
        putS(b, "PLAN", v.planOf);
        putL(b, "VTA", false);
    } else {
        putS(b, "PLAN", v.planVt);
        putS(b, "DOCUM", v.docum);
    }
    b.flush();
}

void deleteBufferRow(int n, uint32_t recno) {
    dbf::WorkArea& b = listBuffer(n);
    if (recno == 0 || recno > b.recCount()) return;
    b.goTo(recno);
    b.deleteRecord();
    b.pack();
    b.goTop();
}

void writeContactRow(const std::string& mode, const ContactRow& c, CardValues& v) {
    dbf::WorkArea& b = listBuffer(2);
    if (mode == "I" || b.eof()) b.append();
    stampLink(b, 2, v.p.link());
    writeFields(b, kContactFields, c);
    putN(b, "NT", 1);
    b.flush();
    showContact(c, v);
}

bool lookupClient(const std::string& code, CardValues& v, bool changed) {
    dbf::WorkArea& wa = areaOf("Prospecto");
    dbf::Orders& o = dbf::orders(wa);
    const int before = o.orderNumber();
    const xb::Value top = o.scopeTop(), bottom = o.scopeBottom();
    o.clearScope();
    o.setOrder("CodProsp");
    const bool found = !blank(code) && o.seek(xb::Value::str(pad(code, 8)));
    ProspectFields& p = v.p;
    if (found) {
        const ProspectFields f = readProspect(wa);
        p.nuevo = f.nuevo;
        p.tip = tipShown(f.tip);
        for (const auto& [field, width] : kClientFields) p.*field = f.*field;
    } else if (changed) {
        blankClient(p);
    }
    const uint32_t at = wa.recno();
    o.setOrder(before);
    if (!top.isNil()) o.setScopeTop(top);
    if (!bottom.isNil()) o.setScopeBottom(bottom);
    wa.goTo(at);
    return found;
}

}  // namespace prospects
