#include "reference/reference.h"

#include "xbase/runtime.h"

namespace reference {

namespace {

ui::ButtonText text(const char* message, const char* bitmaps, const char* tooltip = nullptr) {
    return ui::ButtonText{QString::fromUtf8(message),
                          tooltip ? QString::fromUtf8(tooltip) : QString(),
                          QString::fromLatin1(bitmaps)};
}

}  // namespace

const ui::FileSpec& productsFile() {
    static const ui::FileSpec file = [] {
        ui::FileSpec s;
        s.alias = "Producto";
        s.tableVar = "VDRPRODC";
        s.bagVar = "VDRPRDX1";
        s.caption = QStringLiteral("Fichas de Productos / Servicios");
        s.orderItems = {QStringLiteral("Código"), QStringLiteral("Nombre")};
        s.columns = {{QStringLiteral("Codigo"), "CODIGO", 1},
                     {QStringLiteral("Nombre"), "NOMBRE", 2},
                     {QStringLiteral("Precio"), "PRECIO", 0}};
        s.nuevo = text("Ingresar Datos Producto / Servicio", "Nuevo1|Nuevo2",
                       "Ingresar Datos de Productos / Servicios");
        s.modificar = text("Modificar Datos de Producto / Servicio", "MOdif1|MOdif2");
        s.borrar = text("Eliminar Producto / Servicio de la Base de Datos", "Cut1|Cut2");
        s.buscar = text("Buscar Producto / Servicio", "Buscar1|Buscar2");
        s.salir = text("Salir de Fichas de Productos / Servicios", "Exit1|Exit2");
        s.searchLabels = {
            "C\xf3"
            "digo",
            "Nombre"};
        s.searchFields = {"Codigo", "Nombre"};
        s.cardTemplate = QStringLiteral("Dlg_Prod");
        s.cardCaption = QStringLiteral("Ficha Producto / Servicio");
        s.cardFields = {
            {101, "CODIGO", "@K!"}, {102, "NOMBRE", "@K!"}, {103, "PRECIO", "999,999,999.99"}};
        s.aceptar = text("Graba datos Producto / Servicio", "OK1|OK2");
        s.cancelar = text("Cancela inclusión datos", "Exit1|Exit2");
        s.deleteQuestion = "Seguro desea borrar Producto / Servicio de la Base de Datos ?";
        return s;
    }();
    return file;
}

const ui::FileSpec& plansFile() {
    static const ui::FileSpec file = [] {
        ui::FileSpec s;
        s.alias = "Planes";
        s.tableVar = "VDRPLAN";
        s.bagVar = "VDRPLNX1";
        s.caption = QStringLiteral("Planes de Mercadeo");
        s.orderItems = {QStringLiteral("Código"), QStringLiteral("Detalle")};
        s.columns = {{QStringLiteral("Codigo"), "CODIGO", 1},
                     {QStringLiteral("Detalle"), "DETALLE", 2},
                     {QStringLiteral("Fec.Inicio"), "FEC_INI", 0},
                     {QStringLiteral("Fec.Fin"), "FEC_FIN", 0}};
        s.nuevo = text("Ingresar Plan de Mercadeo", "Nuevo1|Nuevo2");
        s.modificar = text("Modificar Planes de Mercadeo", "Modif1|Modif2");
        s.borrar = text("Eliminar un Plan de Mercadeo de la Base de Datos", "Cut1|Cut2");
        s.buscar = text("Buscar Plan de Mercadeo", "Buscar1|Buscar2");
        s.salir = text("Salir de Fichas de Planes de Mercadeo", "Exit1|Exit2",
                       "Salir de Fichas Planes de Mercadeo");
        s.searchLabels = {
            "C\xf3"
            "digo",
            "Detalle", "Fecha Inicio", "Fecha Fin"};
        s.searchFields = {"Codigo", "Detalle", "dtos(Fec_Ini)", "dtos(Fec_Fin)"};
        s.cardTemplate = QStringLiteral("Dlg_Plan");
        s.cardCaption = QStringLiteral("Plan de Mercadeo");
        s.cardFields = {{101, "CODIGO", "@K!"},
                        {102, "DETALLE", "@K!"},
                        {103, "FEC_INI", "99-99-9999"},
                        {104, "FEC_FIN", "99-99-9999"}};
        s.aceptar = text("Graba datos Plan de Mercadeo", "OK1|OK2");
        s.cancelar = text("Cancela inclusión datos", "Exit1|Exit2");
        s.deleteQuestion = "Seguro desea borrar Plan de Mercadeo de la Base de Datos ?";
        return s;
    }();
    return file;
}

const ui::FileSpec& responsesFile() {
    static const ui::FileSpec file = [] {
        ui::FileSpec s;
        s.alias = "Respuesta";
        s.tableVar = "VDRRESP";
        s.bagVar = "VDRRESX1";
        s.caption = QStringLiteral("Respuestas recibidas de Prospectos");
        s.orderItems = {QStringLiteral("Código"), QStringLiteral("Nombre")};
        s.columns = {{QStringLiteral("Codigo"), "CODIGO", 1},
                     {QStringLiteral("Detalle"), "DETALLE", 2}};
        s.nuevo = text("Ingresar Respuesta", "Nuevo1|Nuevo2");
        s.modificar = text("Modificar Respuesta", "MOdif1|MOdif2");
        s.borrar = text("Eliminar Respuesta de la Base de Datos", "Cut1|Cut2");
        s.buscar = text("Buscar Respuesta", "Buscar1|Buscar2");
        s.salir = text("Salir de Fichas de Respuestas", "Exit1|Exit2");
        s.searchLabels = {
            "C\xf3"
            "digo",
            "Nombre"};
        s.searchFields = {"Codigo", "Detalle"};
        s.cardTemplate = QStringLiteral("Dlg_Resp");
        s.cardCaption = QStringLiteral("Respuesta recibida de Prospectos");
        s.cardFields = {{101, "CODIGO", "@K!"}, {102, "DETALLE", "@K!S120"}};
        s.aceptar = text("Graba respuesta", "OK1|OK2", "Graba Respuesta");
        s.cancelar = text("Cancela inclusión datos", "Exit1|Exit2");
        s.deleteQuestion = "Seguro desea borrar Respuesta de la Base de Datos ?";
        return s;
    }();
    return file;
}

void BROWINPRODC(QWidget* owner) {
    ui::browseFile(productsFile(), owner);
}
bool FICHPROD(const std::string& mode, QWidget* owner) {
    return ui::fileCard(productsFile(), mode, owner);
}
ui::SaveResult GRABAPROD(const std::string& mode, const std::string& code, const std::string& name,
                         double price) {
    return ui::saveFile(productsFile(), mode,
                        {xb::Value::str(code), xb::Value::str(name), xb::Value::num(price)});
}
bool BORRAPROD(tk::Browse* browse) {
    return ui::deleteFile(productsFile(), browse);
}

void BROWINPLAN(QWidget* owner) {
    ui::browseFile(plansFile(), owner);
}
bool FICHPLAN(const std::string& mode, QWidget* owner) {
    return ui::fileCard(plansFile(), mode, owner);
}
ui::SaveResult GRABAPLAN(const std::string& mode, const std::string& code,
                         const std::string& description, int32_t start, int32_t end) {
    return ui::saveFile(plansFile(), mode,
                        {xb::Value::str(code), xb::Value::str(description), xb::Value::date(start),
                         xb::Value::date(end)});
}
bool BORRAPLAN(tk::Browse* browse) {
    return ui::deleteFile(plansFile(), browse);
}

void BROWINRESP(QWidget* owner) {
    ui::browseFile(responsesFile(), owner);
}
bool FICHRESP(const std::string& mode, QWidget* owner) {
    return ui::fileCard(responsesFile(), mode, owner);
}
ui::SaveResult GRABARESP(const std::string& mode, const std::string& code,
                         const std::string& text) {
    return ui::saveFile(responsesFile(), mode, {xb::Value::str(code), xb::Value::str(text)});
}
bool BORRARESP(tk::Browse* browse) {
    return ui::deleteFile(responsesFile(), browse);
}

void registerReferenceFunctions() {
    ui::registerFileFunctions("BROWINPRODC", "FICHPROD", "GRABAPROD", "BORRAPROD", productsFile);
    ui::registerFileFunctions("BROWINPLAN", "FICHPLAN", "GRABAPLAN", "BORRAPLAN", plansFile);
    ui::registerFileFunctions("BROWINRESP", "FICHRESP", "GRABARESP", "BORRARESP", responsesFile);
}

}  // namespace reference
