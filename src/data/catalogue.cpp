#include "data/catalogue.h"

#include <algorithm>
#include <cctype>

namespace data {

const std::array<TableDef, 9>& tables() {
    static const std::array<TableDef, 9> list = {{
        {"VDRVEND",
         "VDRVENX1",
         "VdrVend.dbf",
         "VdrVenx1.cdx",
         "VDRVEND.INI",
         "Vendedor",
         true,
         {{"Codigo", "CODIGO", false}, {"Nombre", "NOMBRE", false}, {"VendUniq", "CODIGO", true}}},
        {"VDRPROSP",
         "VDRPRPX1",
         "VdrProsp.dbf",
         "VdrPrpx1.cdx",
         "VDRPROSP.INI",
         "Prospecto",
         true,
         {{"CodProsp", "CODPROSP", false},
          {"Nombre", "NOMBRE", false},
          {"CodVend", "CODVEND+CODPROSP", false},
          {"FecCrea", "dtos(FEC_CREA)", false},
          {"Tipo", "TIP", false},
          {"ProspUniq", "CODPROSP", true},
          {"VendUniq", "CODVEND", true},
          {"CategCod", "CAT+CODPROSP", false},
          {"NumProsp0", "NUMPROSP+CODPROSP+DtoS(FEC_CREA)+CODVEND", false}}},
        {"VDRPRODC",
         "VDRPRDX1",
         "VdrProdc.dbf",
         "VdrPrdx1.cdx",
         "VDRPRODC.INI",
         "Producto",
         true,
         {{"Codigo", "CODIGO", false}, {"Nombre", "NOMBRE", false}}},
        {"VDRPLAN",
         "VDRPLNX1",
         "VdrPlan.dbf",
         "VdrPlnx1.cdx",
         "VDRPLAN.INI",
         "Plan",
         true,
         {{"Codigo", "CODIGO", false},
          {"Detalle", "DETALLE", false},
          {"FecIni", "dtos(FEC_INI)", false},
          {"FecFin", "dtos(FEC_FIN)", false}}},
        {"VDRPRDOF",
         "VDRPROX1",
         "VdrPrdOf.dbf",
         "VdrPrOx1.cdx",
         "VDRPRDOF.INI",
         "ProdOfer",
         true,
         {{"Cliente", "CLIENTE", false},
          {"Vendedor", "VENDEDOR", false},
          {"NumProsp", "NUMPROSP+CLIENTE+DtoS(FECHA)+VENDEDOR", false},
          {"CodProdOf", "CODPROD", false},
          {"CodProdOfU", "CODPROD", true},
          {"Plan", "PLAN", false},
          {"PlanUniq", "PLAN", true}}},
        {"VDRPRDVT",
         "VDRPRVX1",
         "VdrPrdVt.dbf",
         "VdrPrVx1.cdx",
         "VDRPRDVT.INI",
         "ProdVta",
         true,
         {{"Cliente", "CLIENTE", false},
          {"Vendedor", "VENDEDOR", false},
          {"NumProsp2", "NUMPROSP+CLIENTE+DtoS(FECHA)+VENDEDOR", false},
          {"CodProdVt", "CODPROD", false},
          // Orders by product code like CodProdVt: the sold rows' reports
          // rely on this tag name with this key.
          {"PlanVt", "CODPROD", false}}},
        {"VDRCONT",
         "VDRCNTX1",
         "VdrCont.dbf",
         "VdrCntx1.cdx",
         "VDRCONT.INI",
         "Contacto",
         true,
         {{"FecCont", "dtos(FEC_CONT)", false},
          {"NumCliFec", "NUMPROSP+CLIENTE+dtos(FEC_CREA)+VENDEDOR", false},
          {"CodResp", "COD_RES", false},
          {"CodReUniq", "COD_RES", true},
          {"VendCont", "VENDEDOR+dtos(FEC_CONT)", false},
          {"TipoCont", "TIPO+dtos(FEC_CONT)", false},
          {"FecProx", "dtos(FEC_PROX)+HOR_PROX+CLIENTE", false},
          {"FecCodRes", "dtos(FEC_CONT)+COD_RES", false}}},
        {"VDRRESP",
         "VDRRESX1",
         "VdrResp.dbf",
         "VdrResx1.cdx",
         "VDRRESP.INI",
         "Respuesta",
         true,
         {{"Codigo", "CODIGO", false}, {"Detalle", "DETALLE", false}}},
        {"CGINFAD",
         "CGINFAX1",
         "cgInfAd.Ini",
         "cgInfAx1.cdx",
         "CGINFAD.INI",
         "INFORADIC",
         false,
         {{"NomInf", "NOMINF", false}, {"Descrip", "DESCRIP", false}}},
    }};
    return list;
}

static bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

const TableDef* findTable(std::string_view name) {
    for (const auto& t : tables())
        if (sameName(name, t.tableVar) || sameName(name, t.templ) || sameName(name, t.alias))
            return &t;
    return nullptr;
}

std::string tablePath(const TableDef& t, std::string_view camino) {
    return t.inCompanyDir ? std::string(camino) + t.file : std::string(t.file);
}

std::string bagPath(const TableDef& t, std::string_view camino) {
    return t.inCompanyDir ? std::string(camino) + t.bag : std::string(t.bag);
}

}  // namespace data
