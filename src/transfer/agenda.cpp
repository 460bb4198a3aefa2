#include "transfer/agenda.h"

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "data/catalogue.h"
#include "dbf/error.h"
#include "dbf/table.h"
#include "xbase/codepage.h"
#include "xbase/date.h"

namespace transfer {

namespace {

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::unique_ptr<dbf::Table> openTable(const char* alias, const std::string& camino) {
    const data::TableDef* def = data::findTable(alias);
    const std::string path = data::tablePath(*def, camino);
    try {
        return dbf::Table::open(path, {true, true});
    } catch (const dbf::DbfError& e) {
        throw std::runtime_error("no se puede abrir la tabla " + path + ": " +
                                 xb::cp1252ToUtf8(e.what()));
    }
}

struct Prospect {
    uint32_t rec = 0;
    std::string name, address, city, phone;
};

}  // namespace

std::vector<Visit> readVisits(const std::string& camino, int32_t today) {
    // The salespeople's names; a missing salespeople file leaves them blank.
    std::map<std::string, std::string> vendNames;
    try {
        auto v = openTable("Vendedor", camino);
        const int fCod = v->fieldIndex("CODIGO"), fName = v->fieldIndex("NOMBRE");
        for (uint32_t r = 1, n = v->recCount(); r <= n; ++r)
            if (v->read(r) && !v->deleted())
                vendNames.emplace(trim(v->getString(fCod)), trim(v->getString(fName)));
    } catch (const std::runtime_error&) {
    }

    std::map<std::string, Prospect> prospects;
    {
        auto p = openTable("Prospecto", camino);
        const int fNum = p->fieldIndex("NUMPROSP"), fCod = p->fieldIndex("CODPROSP"),
                  fCrea = p->fieldIndex("FEC_CREA"), fVend = p->fieldIndex("CODVEND"),
                  fName = p->fieldIndex("NOMBRE"), fDir = p->fieldIndex("DIREC"),
                  fCity = p->fieldIndex("CIUDAD"), fTel = p->fieldIndex("TELEF");
        for (uint32_t r = 1, n = p->recCount(); r <= n; ++r) {
            if (!p->read(r) || p->deleted()) continue;
            const std::string key = p->getString(fNum) + p->getString(fCod) +
                                    xb::dtos(p->getDate(fCrea)) + p->getString(fVend);
            prospects[key] = {r, trim(p->getString(fName)), trim(p->getString(fDir)),
                              trim(p->getString(fCity)), trim(p->getString(fTel))};
        }
    }

    auto c = openTable("Contacto", camino);
    const int fNum = c->fieldIndex("NUMPROSP"), fCli = c->fieldIndex("CLIENTE"),
              fCrea = c->fieldIndex("FEC_CREA"), fVend = c->fieldIndex("VENDEDOR"),
              fCont = c->fieldIndex("FEC_CONT"), fTipo = c->fieldIndex("TIPO"),
              fRes = c->fieldIndex("RESULTADO"), fProx = c->fieldIndex("FEC_PROX"),
              fHora = c->fieldIndex("HOR_PROX"), fReal = c->fieldIndex("FEC_REAL"),
              fNt = c->fieldIndex("NT");
    std::vector<Visit> out;
    std::map<std::string, int32_t> lastContact;  // by prospect link
    for (uint32_t r = 1, n = c->recCount(); r <= n; ++r) {
        if (!c->read(r) || c->deleted()) continue;
        const std::string key = c->getString(fNum) + c->getString(fCli) +
                                xb::dtos(c->getDate(fCrea)) + c->getString(fVend);
        const int32_t cont = c->getDate(fCont), real = c->getDate(fReal);
        int32_t& last = lastContact[key];
        last = std::max({last, cont, real});
        const int32_t day = c->getDate(fProx);
        if (day == 0) continue;
        Visit v;
        v.contactRec = r;
        v.link = key;
        v.nt = trim(std::string(c->raw(fNt)));
        v.cliente = trim(c->getString(fCli));
        v.vendedor = trim(c->getString(fVend));
        v.fecCont = cont;
        v.fecProx = day;
        v.fecReal = real;
        v.horProx = trim(c->getString(fHora));
        if (v.horProx.find_first_not_of(" :") == std::string::npos) v.horProx.clear();
        v.tipo = trim(c->getString(fTipo));
        v.resultado = trim(c->getString(fRes));
        if (const auto found = prospects.find(key); found != prospects.end()) {
            v.prospectRec = found->second.rec;
            v.name = found->second.name;
            v.address = found->second.address;
            v.city = found->second.city;
            v.phone = found->second.phone;
        } else {
            v.name = v.cliente;
        }
        if (const auto found = vendNames.find(v.vendedor); found != vendNames.end())
            v.vendName = found->second;
        out.push_back(std::move(v));
    }
    // A later contact of the same prospect counts however the rows are stored.
    for (Visit& v : out) {
        v.lastContact = lastContact[v.link];
        v.overdue = v.fecProx < today && v.lastContact < v.fecProx;
    }
    return out;
}

std::vector<Visit> nextVisits(const std::string& camino, const AgendaQuery& q) {
    std::vector<Visit> all = readVisits(camino, q.today);
    std::vector<Visit> out;
    for (Visit& v : all) {
        if (!q.salesperson.empty() && v.vendedor != trim(q.salesperson)) continue;
        const bool ahead = v.fecProx >= q.today && (q.until == 0 || v.fecProx <= q.until);
        if (ahead || v.overdue) out.push_back(std::move(v));
    }
    // As the contacts' FecProx order has them: day, hour, prospect code.
    std::stable_sort(out.begin(), out.end(), [](const Visit& a, const Visit& b) {
        return std::tie(a.fecProx, a.horProx, a.cliente) <
               std::tie(b.fecProx, b.horProx, b.cliente);
    });
    return out;
}

int32_t endOfWeek(int32_t day) {
    // dayOfWeek: 1 Sunday .. 7 Saturday.
    const int dow = xb::dayOfWeek(day);
    return dow == 0 ? day : day + (8 - dow) % 7;
}

}  // namespace transfer
