#include "data/demo.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/paths.h"
#include "dbf/table.h"
#include "xbase/date.h"

namespace data {

namespace {

// A small generator of our own: the standard distributions differ between
// library versions, and the sample data must be the same everywhere.
class Random {
  public:
    explicit Random(uint32_t seed) : s_(seed ? seed : 1) {}
    uint32_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    int between(int lo, int hi) { return lo + static_cast<int>(next() % (hi - lo + 1)); }
    template <class T, size_t N>
    const T& pick(const T (&list)[N]) {
        return list[next() % N];
    }
    bool chance(int percent) { return between(1, 100) <= percent; }

  private:
    uint32_t s_;
};

const char* const kFirst[] = {"MARTA",   "JAVIER",    "LUCIA",  "CARLOS", "ELENA",
                              "ANTONIO", "PILAR",     "MIGUEL", "ISABEL", "JOSE",
                              "CARMEN",  "FRANCISCO", "LAURA",  "DAVID",  "ROSA",
                              "MANUEL",  "ANA",       "PABLO",  "SOFIA",  "ALBERTO"};
const char* const kLast[] = {"GARCIA",   "FERNANDEZ", "GONZALEZ",  "RODRIGUEZ", "LOPEZ",
                             "MARTINEZ", "SANCHEZ",   "PEREZ",     "GOMEZ",     "MARTIN",
                             "JIMENEZ",  "RUIZ",      "HERNANDEZ", "DIAZ",      "MORENO",
                             "ALVAREZ",  "MUNOZ",     "ROMERO",    "NAVARRO",   "TORRES"};
const char* const kTrade[] = {"DISTRIBUCIONES", "COMERCIAL",     "TALLERES",   "SUMINISTROS",
                              "CONSTRUCCIONES", "ALMACENES",     "FERRETERIA", "PANADERIA",
                              "TRANSPORTES",    "INSTALACIONES", "LIBRERIA",   "CLINICA DENTAL",
                              "ASESORIA",       "HOSTELERIA",    "IMPRENTA",   "AUTOESCUELA"};
const char* const kForm[] = {"S.L.", "S.A.", "HNOS.", "Y CIA.", "S.COOP."};
const char* const kCity[] = {"MADRID",  "BARCELONA", "VALENCIA",   "SEVILLA",  "ZARAGOZA",
                             "MALAGA",  "BILBAO",    "VALLADOLID", "ALICANTE", "CORDOBA",
                             "GRANADA", "OVIEDO",    "SALAMANCA",  "BURGOS",   "LEON"};
const char* const kStreet[] = {"CALLE MAYOR",     "AVENIDA DE LA CONSTITUCION",
                               "CALLE REAL",      "PASEO DE LA ESTACION",
                               "CALLE DEL SOL",   "PLAZA DE ESPANA",
                               "CALLE NUEVA",     "AVENIDA DE ANDALUCIA",
                               "CALLE DE LA PAZ", "RONDA DE SEGOVIA"};

struct Product {
    const char* code;
    const char* name;
    double price;
};
const Product kProducts[] = {
    {"CAF-001", "CAFETERA INDUSTRIAL DOS GRUPOS", 1850.00},
    {"CAF-002", "MOLINILLO DE CAFE AUTOMATICO", 420.50},
    {"FRI-001", "ARCON CONGELADOR 300 LITROS", 615.00},
    {"FRI-002", "VITRINA REFRIGERADA EXPOSITORA", 1290.00},
    {"HOR-001", "HORNO DE CONVECCION CUATRO BANDEJAS", 2340.00},
    {"LAV-001", "LAVAVAJILLAS DE CAPOTA", 1975.00},
    {"MOB-001", "MESA DE ACERO INOXIDABLE 180 CM", 389.90},
    {"MOB-002", "ESTANTERIA MODULAR CINCO BALDAS", 145.00},
    {"TPV-001", "TERMINAL PUNTO DE VENTA TACTIL", 899.00},
    {"TPV-002", "IMPRESORA DE TIQUES", 189.00},
    {"SRV-001", "CONTRATO DE MANTENIMIENTO ANUAL", 480.00},
    {"SRV-002", "INSTALACION Y PUESTA EN MARCHA", 250.00},
    {"SRV-003", "CURSO DE FORMACION DEL PERSONAL", 320.00},
    {"LIM-001", "LOTE DE PRODUCTOS DE LIMPIEZA", 74.95},
    {"BAL-001", "BALANZA COMERCIAL CON ETIQUETADORA", 560.00},
};

struct Response {
    const char* code;
    const char* detail;
};
const Response kResponses[] = {
    {"INTERESADO", "MUESTRA INTERES Y PIDE MAS INFORMACION"},
    {"DEMOSTRACION", "SE REALIZA DEMOSTRACION DEL PRODUCTO"},
    {"PRESUPUESTO", "SOLICITA PRESUPUESTO POR ESCRITO"},
    {"VENTA", "CIERRA LA COMPRA"},
    {"VOLVER A LLAMAR", "PIDE QUE SE LE LLAME MAS ADELANTE"},
    {"NO INTERESA", "NO ESTA INTERESADO POR AHORA"},
    {"AUSENTE", "EL RESPONSABLE NO ESTABA"},
    {"RECLAMACION", "PRESENTA UNA RECLAMACION"},
};

// The kinds the contact card lists; visits (in person) and calls come most.
const char* const kContactKind[] = {"Personal", "Telef\xf3nico", "email", "Personal", "Fax"};
const char* const kHours[] = {"09:00", "09:30", "10:00", "11:00", "12:00",
                              "12:30", "16:00", "17:00", "17:30", "18:00"};

// A table of the company opened exclusively for appending; fields by name.
class Writer {
  public:
    explicit Writer(const std::string& path) : t_(dbf::Table::open(path, {false, false})) {}
    void add() { t_->appendBlank(); }
    void str(const char* f, const std::string& v) { t_->putString(idx(f), v); }
    void num(const char* f, double v) { t_->putNumber(idx(f), v); }
    void date(const char* f, int32_t jd) { t_->putDate(idx(f), jd); }
    void logic(const char* f, bool v) { t_->putLogical(idx(f), v); }
    void done() { t_->commit(); }
    uint32_t count() { return t_->recCount(); }

  private:
    int idx(const char* f) {
        int i = t_->fieldIndex(f);
        if (i < 0) throw std::runtime_error(std::string("La tabla no tiene el campo ") + f);
        return i;
    }
    std::unique_ptr<dbf::Table> t_;
};

std::string code(const char* prefix, int n, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%0*d", prefix, digits, n);
    return buf;
}

std::string stamp(int32_t jd, int secondOfDay) {
    xb::Ymd ymd = xb::ymdFromJulian(jd);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", ymd.year, ymd.month, ymd.day,
                  secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return buf;
}

}  // namespace

DemoCounts fillDemoCompany(const std::string& camino, const DemoOptions& o) {
    auto path = [&](const char* var) { return tablePath(*findTable(var), camino); };
    for (const auto& t : tables())
        if (t.inCompanyDir && !fileExists(tablePath(t, camino)))
            throw std::runtime_error("La empresa no tiene la tabla " + tablePath(t, camino) +
                                     "; cree la empresa antes de llenarla.");
    {
        Writer p(path("VDRPROSP"));
        if (p.count() > 0)
            throw std::runtime_error(
                "La empresa ya tiene prospectos; los datos de ejemplo solo se escriben en una "
                "empresa vac\xed"
                "a.");
    }
    auto tell = [&](const std::string& s) {
        if (o.progress) o.progress(s);
    };
    Random rnd(o.seed);
    int32_t today = o.today ? o.today : xb::todayJulian();
    DemoCounts c;

    tell("Vendedores");
    const int nVend = 8;
    std::vector<std::string> vendCodes;
    {
        Writer w(path("VDRVEND"));
        for (int i = 1; i <= nVend; ++i) {
            w.add();
            vendCodes.push_back(code("V", i, 3));
            w.str("CODIGO", vendCodes.back());
            w.str("NOMBRE", std::string(kLast[(i * 7) % 20]) + " " + kLast[(i * 3 + 5) % 20] +
                                ", " + kFirst[(i * 11) % 20]);
        }
        w.done();
        c.salespeople = nVend;
    }

    tell("Productos");
    {
        Writer w(path("VDRPRODC"));
        for (const auto& p : kProducts) {
            w.add();
            w.str("CODIGO", p.code);
            w.str("NOMBRE", p.name);
            w.num("PRECIO", p.price);
            ++c.products;
        }
        w.done();
    }

    tell("Planes de mercadeo");
    const char* const planCodes[] = {"PRIMAVER", "VERANO", "OTONO", "NAVIDAD"};
    const char* const planText[] = {"CAMPANA DE PRIMAVERA: DESCUENTO EN MAQUINARIA DE CAFE",
                                    "CAMPANA DE VERANO: FRIO INDUSTRIAL A PLAZOS",
                                    "CAMPANA DE OTONO: RENOVACION DE TERMINALES DE VENTA",
                                    "CAMPANA DE NAVIDAD: MANTENIMIENTO GRATUITO EL PRIMER ANO"};
    {
        Writer w(path("VDRPLAN"));
        for (int i = 0; i < 4; ++i) {
            w.add();
            w.str("CODIGO", planCodes[i]);
            w.str("DETALLE", planText[i]);
            w.date("FEC_INI", today - 365 + i * 90);
            w.date("FEC_FIN", today - 365 + i * 90 + 89);
            ++c.plans;
        }
        w.done();
    }

    tell("Respuestas");
    {
        Writer w(path("VDRRESP"));
        for (const auto& r : kResponses) {
            w.add();
            w.str("CODIGO", r.code);
            w.str("DETALLE", r.detail);
            ++c.responses;
        }
        w.done();
    }

    tell("Prospectos, productos ofrecidos, contactos y ventas");
    {
        Writer pr(path("VDRPROSP")), of(path("VDRPRDOF")), vt(path("VDRPRDVT")),
            co(path("VDRCONT"));
        int docNo = 0;
        for (int i = 1; i <= o.prospects; ++i) {
            std::string cod = code("P", i, 7);
            std::string vend = vendCodes[rnd.next() % vendCodes.size()];
            int32_t created = today - rnd.between(5, 730);
            std::string num = stamp(created, rnd.between(8 * 3600, 19 * 3600));
            bool sold = rnd.chance(30);
            int32_t soldOn = sold ? std::min(today, created + rnd.between(3, 120)) : 0;
            std::string last = rnd.pick(kLast);
            std::string person = std::string(rnd.pick(kFirst)) + " " + last;
            std::string city = rnd.pick(kCity);

            pr.add();
            pr.str("CODVEND", vend);
            pr.str("CODPROSP", cod);
            // Trading companies are legal persons; one prospect in six is a
            // returning client rather than a new one.
            pr.str("NEW", i % 6 == 0 ? "No" : "Si");
            pr.str("TIP",
                   "Jur\xed"
                   "dica");
            pr.str("NOMBRE", std::string(rnd.pick(kTrade)) + " " + last + " " + rnd.pick(kForm));
            pr.str("DIREC",
                   std::string(rnd.pick(kStreet)) + " " + std::to_string(rnd.between(1, 150)));
            pr.str("TELEF", code("9", rnd.between(10000000, 99999999), 8));
            pr.str("EMAIL", "info" + std::to_string(i) + "@ejemplo.es");
            pr.str("CIUDAD", city);
            pr.str("REPRESENT", person);
            pr.str("TELFREP", code("6", rnd.between(10000000, 99999999), 8));
            pr.str("ENCARGADO", std::string(rnd.pick(kFirst)) + " " + rnd.pick(kLast));
            pr.str("NUMPROSP", num);
            pr.date("FEC_CREA", created);
            pr.logic("VTA", sold);
            if (sold) pr.date("FEC_VTA", soldOn);
            pr.str("CAT", "00" + std::to_string(rnd.between(1, 5)));
            ++c.prospects;

            auto link = [&](Writer& w, const char* dateField) {
                w.str("NUMPROSP", num);
                w.str("CLIENTE", cod);
                w.date(dateField, created);
                w.str("VENDEDOR", vend);
            };
            int nOffer = rnd.between(1, 3);
            for (int k = 0; k < nOffer; ++k) {
                const Product& p = rnd.pick(kProducts);
                int qty = rnd.between(1, 5);
                of.add();
                link(of, "FECHA");
                of.str("CODPROD", p.code);
                of.num("CANT", qty);
                of.num("VALORTOT", qty * p.price);
                of.str("PLAN", rnd.pick(planCodes));
                of.logic("VTA", sold && k == 0);
                ++c.offered;
                if (sold && k == 0) {
                    vt.add();
                    link(vt, "FECHA");
                    vt.str("CODPROD", p.code);
                    vt.num("CANT", qty);
                    vt.num("VALORTOT", qty * p.price);
                    vt.str("PLAN", rnd.pick(planCodes));
                    vt.str("DOCUM", code("FAC-", ++docNo, 6));
                    ++c.sold;
                }
            }
            int nCont = rnd.between(1, 3);
            int32_t when = created;
            for (int k = 1; k <= nCont; ++k) {
                when = std::min(today, when + rnd.between(1, 40));
                // Only the last contact of a sold prospect is the sale itself.
                uint32_t pickR = rnd.next() % 8;
                const Response& r =
                    sold && k == nCont ? kResponses[3] : kResponses[pickR == 3 ? 0 : pickR];
                co.add();
                link(co, "FEC_CREA");
                co.date("FEC_CONT", when);
                co.str("TIPO", rnd.pick(kContactKind));
                co.str("COD_RES", r.code);
                co.str("RESULTADO", r.detail);
                co.date("FEC_REAL", when);
                co.str("HOR_REAL", rnd.pick(kHours));
                co.num("NT", k);
                if (k == nCont && !sold) {
                    co.date("FEC_PROX", today + rnd.between(1, 60));
                    co.str("HOR_PROX", rnd.pick(kHours));
                }
                ++c.contacts;
            }
            if (o.progress && i % 100000 == 0) tell("  " + std::to_string(i) + " prospectos");
        }
        pr.done();
        of.done();
        vt.done();
        co.done();
    }

    tell("Reindexando");
    for (const auto& t : tables()) {
        if (!t.inCompanyDir) continue;
        std::string file = tablePath(t, camino), bag = bagPath(t, camino);
        removeFile(bag);
        for (const auto& tag : t.tags) INDEXA(file, bag, tag.key, tag.name, tag.unique);
    }
    return c;
}

}  // namespace data
