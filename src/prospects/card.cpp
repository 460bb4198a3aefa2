#include "prospects/card.h"
#include "prospects/rows.h"
#include "prospects/save.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

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

std::string Link::key() const {
    return pad(numprosp, 14) + pad(codprosp, 8) + xb::dtos(fecCrea) + pad(codvend, 8);
}

CardValues newCard() {
    CardValues v;
    ProspectFields& p = v.p;
    p.codvend = pad("", 8);
    p.codprosp = pad("", 8);
    p.nuevo = "Si";
    p.tip = kJuridica;
    p.cat = "001";
    p.nombre = pad("", kWNombre);
    p.direc = pad("", kWDirec);
    p.telef = pad("", kWTelef);
    p.fax = pad("", kWFax);
    p.email = pad("", kWEmail);
    p.ciudad = pad("", kWCiudad);
    p.represent = pad("", kWRepresent);
    p.telfrep = pad("", kWTelfrep);
    p.encargado = pad("", kWEncargado);
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
    p.codvend = S(wa, "CODVEND");
    p.codprosp = S(wa, "CODPROSP");
    p.nuevo = S(wa, "NEW");
    p.tip = S(wa, "TIP");
    p.nombre = S(wa, "NOMBRE");
    p.direc = S(wa, "DIREC");
    p.telef = S(wa, "TELEF");
    p.fax = S(wa, "FAX");
    p.email = S(wa, "EMAIL");
    p.ciudad = S(wa, "CIUDAD");
    p.represent = S(wa, "REPRESENT");
    p.telfrep = S(wa, "TELFREP");
    p.encargado = S(wa, "ENCARGADO");
    p.numprosp = S(wa, "NUMPROSP");
    p.fecCrea = D(wa, "FEC_CREA");
    p.observac = S(wa, "OBSERVAC");
    p.vta = L(wa, "VTA");
    p.fecVta = D(wa, "FEC_VTA");
    p.cat = S(wa, "CAT");
    return p;
}

void writeProspect(dbf::WorkArea& wa, const ProspectFields& p) {
    putS(wa, "CODVEND", p.codvend);
    putS(wa, "CODPROSP", p.codprosp);
    putS(wa, "NEW", p.nuevo);
    putS(wa, "TIP", p.tip);
    putS(wa, "NOMBRE", p.nombre);
    putS(wa, "DIREC", p.direc);
    putS(wa, "TELEF", p.telef);
    putS(wa, "FAX", p.fax);
    putS(wa, "EMAIL", p.email);
    putS(wa, "CIUDAD", p.ciudad);
    putS(wa, "REPRESENT", p.represent);
    putS(wa, "TELFREP", p.telfrep);
    putS(wa, "ENCARGADO", p.encargado);
    putS(wa, "NUMPROSP", p.numprosp);
    putD(wa, "FEC_CREA", p.fecCrea);
    putM(wa, "OBSERVAC", p.observac);
    putL(wa, "VTA", p.vta);
    putD(wa, "FEC_VTA", p.fecVta);
    putS(wa, "CAT", p.cat);
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
        // Kept for the next card: as a fresh open leaves them.
        for (const char* a : kCardAliases)
            if (dbf::WorkArea* w = ws().area(a)) {
                w->flush();
                w->clearFilter();
                dbf::Orders& o = dbf::orders(*w);
                o.clearScope();
                o.setOrder(o.orderCount() > 0 ? 1 : 0);
                w->goTop();
            }
        return;
    }
    closeAreas(kCardAliases, std::size(kCardAliases));
}

const char* dependentAlias(int t) {
    return t == 1 ? "ProdOfer" : t == 2 ? "Contacto" : "ProdVta";
}
const char* linkTag(int t) {
    return t == 1 ? "NumProsp" : t == 2 ? "NumCliFec" : "NumProsp2";
}
const char* dateField(int t) {
    return t == 2 ? "FEC_CREA" : "FECHA";
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
    wa.goTop();
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
    const std::string alias = "Buffer" + std::to_string(n);
    const int prev = ws().current();
    const bool ok = data::ABRIR(alias, bufferPath(n), "E");
    ws().select(prev);
    if (ok && n == 1)
        if (dbf::WorkArea* prod = ws().area("Producto"))
            dbf::orders(areaOf("Buffer1")).setRelation(prod->number(), "CODPROD");
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
        const std::string alias = "Buffer" + std::to_string(t);
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
        dbf::WorkArea& dst = areaOf(alias.c_str());
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
    dbf::WorkArea* b = ws().area(("Buffer" + std::to_string(n)).c_str());
    return b ? static_cast<int>(b->countVisible()) : 0;
}

double bufferTotal(int n) {
    dbf::WorkArea* b = ws().area(("Buffer" + std::to_string(n)).c_str());
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
    dbf::WorkArea& b1 = areaOf("Buffer1");
    dbf::WorkArea& b3 = areaOf("Buffer3");
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
    c.fecCont = D(b2, "FEC_CONT");
    c.tipo = S(b2, "TIPO");
    c.codRes = S(b2, "COD_RES");
    c.resultado = S(b2, "RESULTADO");
    c.observac = S(b2, "OBSERVAC");
    c.fecProx = D(b2, "FEC_PROX");
    c.horProx = S(b2, "HOR_PROX");
    c.fecReal = D(b2, "FEC_REAL");
    c.horReal = S(b2, "HOR_REAL");
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
    dbf::WorkArea& b1 = areaOf("Buffer1");
    b1.goTop();
    v.planOf = b1.eof() ? pad("", 8) : S(b1, "PLAN");
    std::string det;
    if (lookupCode("Plan", v.planOf, "DETALLE", det)) {
        v.planOfDet = det;
        v.planVtDet = det;
    } else if (dbf::WorkArea* plan = ws().area("Plan")) {
        plan->goTop();
    }
    dbf::WorkArea& b2 = areaOf("Buffer2");
    b2.goTop();
    if (!b2.eof()) showContact(readContact(b2), v);
    dbf::WorkArea& b3 = areaOf("Buffer3");
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
    dbf::WorkArea& b = areaOf(("Buffer" + std::to_string(n)).c_str());
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
    dbf::WorkArea& b = areaOf(("Buffer" + std::to_string(n)).c_str());
    if (recno == 0 || recno > b.recCount()) return;
    b.goTo(recno);
    b.deleteRecord();
    b.pack();
    b.goTop();
}

void writeContactRow(const std::string& mode, const ContactRow& c, CardValues& v) {
    dbf::WorkArea& b = areaOf("Buffer2");
    if (mode == "I" || b.eof()) b.append();
    stampLink(b, 2, v.p.link());
    putD(b, "FEC_CONT", c.fecCont);
    putS(b, "TIPO", c.tipo);
    putS(b, "COD_RES", c.codRes);
    putS(b, "RESULTADO", c.resultado);
    putM(b, "OBSERVAC", c.observac);
    putD(b, "FEC_PROX", c.fecProx);
    putS(b, "HOR_PROX", c.horProx);
    putD(b, "FEC_REAL", c.fecReal);
    putS(b, "HOR_REAL", c.horReal);
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
        p.nombre = f.nombre;
        p.direc = f.direc;
        p.telef = f.telef;
        p.fax = f.fax;
        p.email = f.email;
        p.ciudad = f.ciudad;
        p.represent = f.represent;
        p.telfrep = f.telfrep;
        p.encargado = f.encargado;
    } else if (changed) {
        p.tip = kJuridica;
        p.nombre = pad("", kWNombre);
        p.direc = pad("", kWDirec);
        p.telef = pad("", kWTelef);
        p.fax = pad("", kWFax);
        // The field is 60 wide; blanking it to 40 cut what was typed later.
        p.email = pad("", kWEmail);
        p.ciudad = pad("", kWCiudad);
        p.represent = pad("", kWRepresent);
        p.telfrep = pad("", kWTelfrep);
        p.encargado = pad("", kWEncargado);
    }
    const uint32_t at = wa.recno();
    o.setOrder(before);
    if (!top.isNil()) o.setScopeTop(top);
    if (!bottom.isNil()) o.setScopeBottom(bottom);
    wa.goTo(at);
    return found;
}

}  // namespace prospects
