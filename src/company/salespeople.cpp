#include "company/salespeople.h"

#include "xbase/runtime.h"

namespace company {

const ui::FileSpec& salespeopleFile() {
    static const ui::FileSpec file = [] {
        ui::FileSpec s;
        s.alias = "Vendedor";
        s.tableVar = "VDRVEND";
        s.bagVar = "VDRVENX1";
        s.caption = QStringLiteral("Fichas de Vendedores");
        s.orderItems = {QStringLiteral("Código"), QStringLiteral("Nombre")};
        s.columns = {{QStringLiteral("Codigo"), "CODIGO", 1},
                     {QStringLiteral("Nombre"), "NOMBRE", 2}};
        s.nuevo = {QStringLiteral("Ingresar Datos de Vendedores"), {}, {}};
        s.modificar = {QStringLiteral("Modificar Datos de Vendedores"), {}, {}};
        s.borrar = {QStringLiteral("Eliminar un Vendedor de la Base de Datos"), {}, {}};
        s.buscar = {QStringLiteral("Buscar Vendedor"), {}, {}};
        s.salir = {QStringLiteral("Salir de Fichas de Vendedores"), {}, {}};
        s.searchLabels = {
            "C\xf3"
            "digo",
            "Nombre"};
        s.searchFields = {"Codigo", "Nombre"};
        s.buttonBack = QColor(20, 170, 30);
        s.cardTemplate = QStringLiteral("Dlg_Vend");
        s.cardCaption = QStringLiteral("Ficha Vendedor");
        s.cardFields = {{101, "CODIGO", "@K!"}, {102, "NOMBRE", "@K!"}};
        s.aceptar = {QStringLiteral("Graba datos del Vendedor"), {}, {}};
        s.deleteQuestion = "Seguro desea borrar vendedor de la Base de Datos ?";
        return s;
    }();
    return file;
}

void BROWINVEND(QWidget* owner) {
    ui::browseFile(salespeopleFile(), owner);
}

bool FICHVEND(const std::string& mode, QWidget* owner) {
    return ui::fileCard(salespeopleFile(), mode, owner);
}

ui::SaveResult GRABAVEND(const std::string& mode, const std::string& code,
                         const std::string& name) {
    return ui::saveFile(salespeopleFile(), mode, {xb::Value::str(code), xb::Value::str(name)});
}

bool BORRAVEND(tk::Browse* browse) {
    return ui::deleteFile(salespeopleFile(), browse);
}

void registerSalespeopleFunctions() {
    ui::registerFileFunctions("BROWINVEND", "FICHVEND", "GRABAVEND", "BORRAVEND", salespeopleFile);
}

}  // namespace company
