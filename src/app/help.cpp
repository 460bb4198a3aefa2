#include "app/help.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTextBrowser>
#include <QUrl>
#include <algorithm>

#include "app/files.h"

namespace app {

namespace {

struct HelpSettings {
    QString file;
    QString title = QString::fromUtf8(kHelpDefaultWindowTitle);
    QString topic;
};

HelpSettings& settings() {
    static HelpSettings s;
    return s;
}

// Which page tells about which window. `window` is a dialog's template name,
// the template of the folder page in front, or an object or class name
// (empty: any); `title` a part of the caption (empty: any). The first row
// that fits wins, so a row with a title goes before the rows without one.
struct HelpRow {
    const char* window;
    const char* title;
    const char* page;
};

const HelpRow kHelpRows[] = {
    {"app::MainWindow", "", "ZeriDoda.html"},
    {"SelecEmpr", "", "Empresa.html"},
    {"STICKINIEMP", "", "EmpresaDatos.html"},
    {"FoldIniEmpr", "", "EmpresaDatos.html"},
    {"ElimEmpr", "Modificar Empresa", "EmpresaDatos.html"},
    {"ElimEmpr", "", "EmpresaBorrar.html"},
    {"BrowseIn1", "Vendedores", "Vendedores.html"},
    {"Dlg_Vend", "", "Vendedores.html"},
    {"BrowseIn1", "Productos", "Productos.html"},
    {"Dlg_Prod", "", "Productos.html"},
    {"BrowseIn1", "Planes", "Planes.html"},
    {"Dlg_Plan", "", "Planes.html"},
    {"BrowseIn1", "Respuestas", "Respuestas.html"},
    {"Dlg_Resp", "", "Respuestas.html"},
    {"BROWSEINPROSP", "", "Prospectos.html"},
    {"StickProsp1", "", "ProspectoFicha.html"},
    {"StickProsp2", "", "Contactos.html"},
    {"StickProsp3", "", "ProductosVendidos.html"},
    {"Dlg_Prd_Of", "Ofertado", "ProductosOfertados.html"},
    {"Dlg_Prd_Of", "", "ProductosVendidos.html"},
    {"AddContacto", "", "Contactos.html"},
    {"Impres1", "Prospectos por vendedor", "InfProspectos.html"},
    {"Impres1", "Contactos realizados", "InfContactos.html"},
    {"Impres1", "Productos vendidos", "InfVendidos.html"},
    {"Impres1", "Listado de vendedores", "InfVendedores.html"},
    {"Impres1", "Productos y precios", "InfPrecios.html"},
    {"Impres1", "Agenda de pr", "InfAgenda.html"},
    {"Impres1", "", "InformeDialogo.html"},
    {"Impres2", "", "InformeDialogo.html"},
    {"", "Vista previa", "InformeDialogo.html"},
    {"", "Informe Adicional", "InfAdicionales.html"},
    {"", "Maestro de Informes", "InfAdicionales.html"},
    {"charts::ChartWindow", "", "Graficos.html"},
    {"CALEND2", "", "Calendario.html"},
    {"QFileDialog", "Agenda de visitas", "Exportar.html"},
    {"AgendaVis", "", "Agenda.html"},
    {"", "Agenda de visitas", "Agenda.html"},
    {"Dlg_cgFuente", "", "Guiones.html"},
    {"", "Editor de textos", "Guiones.html"},
    {"ImportaFil", "", "Importar.html"},
    {"", "Fichero que se importa", "Importar.html"},
    {"ExportaTab", "", "Exportar.html"},
    {"", "Fichero que se escribe", "Exportar.html"},
    {"", "guardar la copia", "Copias.html"},
    {"", "Copia que se restaura", "Copias.html"},
};

// The names a window answers to, the most particular first: the templates
// of the folder pages in front, its object name, its classes.
QStringList windowNames(const QWidget* w) {
    QStringList names;
    for (const QTabWidget* folder : w->findChildren<QTabWidget*>())
        if (folder->isVisible() && folder->currentWidget())
            names << folder->currentWidget()->objectName();
    names << w->objectName();
    for (const QMetaObject* m = w->metaObject(); m; m = m->superClass())
        names << QString::fromLatin1(m->className());
    return names;
}

QString rowFor(const QWidget* w) {
    const QStringList names = windowNames(w);
    for (const HelpRow& r : kHelpRows) {
        const QString window = QString::fromUtf8(r.window);
        const QString title = QString::fromUtf8(r.title);
        if (!window.isEmpty() && !names.contains(window)) continue;
        if (!title.isEmpty() && !w->windowTitle().contains(title, Qt::CaseInsensitive)) continue;
        return QString::fromUtf8(r.page);
    }
    return {};
}

QString inFolder(const QString& page) {
    return QString::fromUtf8(kHelpFolder) + QLatin1Char('/') + page;
}

}  // namespace

QString SETHELPFILE(const QString& file, const QString& title) {
    HelpSettings& s = settings();
    const QString previous = s.file;
    if (!file.isEmpty()) s.file = file;
    s.title = title.isEmpty() ? QString::fromUtf8(kHelpDefaultWindowTitle) : title;
    return previous;
}

QString SETHELPTOPIC(const QString& topic) {
    HelpSettings& s = settings();
    const QString previous = s.topic;
    if (!topic.isEmpty()) s.topic = topic;
    return previous;
}

QWidget* HELPINDEX(const QString& file, const QString& title) {
    const HelpSettings& s = settings();
    const QString helpFile = file.isEmpty() ? s.file : file;
    const QString windowTitle = title.isEmpty() ? s.title : title;
    if (helpFile.isEmpty()) return nullptr;

    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == windowTitle &&
            w->objectName() == QLatin1String("helpWindow")) {
            w->showMinimized();
            w->close();
        }
    }
    const QString path = startFile(helpFile);
    if (!QFileInfo::exists(path))
        return nullptr;  // like a viewer that finds no file: nothing else happens

    // Over the window in front; a help window being replaced hands its owner on.
    QWidget* owner = QApplication::activeWindow();
    if (owner && owner->objectName() == QLatin1String("helpWindow")) owner = owner->parentWidget();
    auto* browser = new QTextBrowser(owner);
    browser->setWindowFlags(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setObjectName(QStringLiteral("helpWindow"));
    browser->setWindowTitle(windowTitle);
    browser->setOpenExternalLinks(true);
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    QUrl url = QUrl::fromLocalFile(path);
    if (!s.topic.isEmpty()) url.setFragment(s.topic);
    browser->setSource(url);
    browser->resize(760, 560);
    if (owner) {
        // Over the middle of the window it tells about, as the dialogs open.
        const QRect frame = owner->window()->frameGeometry();
        const QRect screen = owner->screen()->availableGeometry();
        QPoint at = frame.center() - QPoint(380, 280);
        at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - 760)));
        at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() - 560)));
        browser->move(at);
    }
    // Escape closes the help as it closes the program's dialogs.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), browser);
    QObject::connect(escape, &QShortcut::activated, browser, &QWidget::close);
    browser->show();
    return browser;
}

QString helpPageFor(const QWidget* window) {
    for (const QWidget* w = window; w;
         w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
        // A frame shows the help of the inner window in front, when it has one.
        if (const auto* mdi = w->findChild<QMdiArea*>())
            if (const QMdiSubWindow* sub = mdi->activeSubWindow(); sub && sub->widget()) {
                const QString page = rowFor(sub->widget());
                if (!page.isEmpty()) return inFolder(page);
            }
        const QString page = rowFor(w);
        if (!page.isEmpty()) return inFolder(page);
    }
    return QString::fromUtf8(kHelpFile);
}

QWidget* helpForWindowInFront() {
    QWidget* front = QApplication::activeWindow();
    if (!front) front = QApplication::activeModalWidget();
    return HELPINDEX(helpPageFor(front), QString());
}

QStringList helpPages() {
    QStringList pages;
    for (const HelpRow& r : kHelpRows)
        if (!pages.contains(QString::fromUtf8(r.page))) pages << QString::fromUtf8(r.page);
    return pages;
}

}  // namespace app
