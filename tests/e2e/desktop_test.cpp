// The real program on a real X display (Xvfb), with and without a window
// manager, driven by real key and mouse events: what the offscreen platform
// cannot show (which window has the keyboard, program-wide keys, clicks that
// land on the padding of a field, the lock lights).
#include <gtest/gtest.h>

#include <algorithm>

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include "dbf/table.h"
#include "desktop.h"
#include "transfer/agenda.h"
#include "xbase/codepage.h"
#include "xbase/date.h"

namespace {

using e2e::Desktop;
using e2e::Program;

const QString kMainTitle = QStringLiteral("Control de Gestión Area Comercial Valdrosa");

#define NEED_DESKTOP(desk, wm)                                                       \
    ASSERT_TRUE((desk).missing().isEmpty())                                          \
        << "faltan " << (desk).missing().toStdString() << "(scripts/setup.sh test)"; \
    ASSERT_TRUE((desk).ready(wm)) << "no arrancó Xvfb" << ((wm) ? " u openbox" : "")

QString fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

std::string fieldText(const QString& table, const char* field, uint32_t recno = 1) {
    auto t = dbf::Table::open(table.toStdString(), {true, true});
    if (!t || !t->read(recno)) return "<sin registro>";
    return t->value(t->fieldIndex(field)).asString();
}

int32_t fieldDate(const QString& table, const char* field, uint32_t recno = 1) {
    auto t = dbf::Table::open(table.toStdString(), {true, true});
    if (!t || !t->read(recno)) return -1;
    return t->value(t->fieldIndex(field)).asDate();
}

bool fieldLogical(const QString& table, const char* field, uint32_t recno = 1) {
    auto t = dbf::Table::open(table.toStdString(), {true, true});
    return t && t->read(recno) && t->value(t->fieldIndex(field)).asLogical();
}

// The company selection answered with Enter (the test company): the main
// window, or "" when either did not come.
QString enterTestCompany(const Desktop& desk, const Program& prog) {
    if (!prog.waitTrace(QStringLiteral("shown SelecEmpr"))) return {};
    if (!desk.focus(desk.window(QStringLiteral("Seleccione una empresa")))) return {};
    desk.keys({QStringLiteral("Return")});
    return desk.window(kMainTitle);
}

// Start, choose the test company, F5 and F1 inside the selection dialog and
// in the main window, the Caps Lock light, and the exit through "Salir". The
// boxes are answered with the keyboard on the real boxes.
void keysOfTheWholeProgramAndExitThroughSalir(bool wm) {
    Desktop desk(wm);
    NEED_DESKTOP(desk, wm);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    const QString resLog = prog.installation + QStringLiteral("/Res.Log");
    {
        QFile stale(resLog);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("de la sesión anterior\n");
    }
    ASSERT_TRUE(prog.start());
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown SelecEmpr")));
    EXPECT_FALSE(QFileInfo::exists(resLog)) << "el Res.Log anterior sigue ahí";

    const QString selection = desk.window(QStringLiteral("Seleccione una empresa"));
    ASSERT_FALSE(selection.isEmpty());
    ASSERT_TRUE(desk.focus(selection));
    // F5 inside the dialog: the memory box.
    desk.keys({QStringLiteral("F5")});
    EXPECT_TRUE(prog.waitBox(QStringLiteral("|MemUsed:"))) << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.answerBox(selection, {QStringLiteral("Return")}));
    // F1 inside the dialog: the help window.
    desk.keys({QStringLiteral("F1")});
    const QString help = desk.window(QStringLiteral("Ayuda Valdrosa"), 10000);
    EXPECT_FALSE(help.isEmpty()) << "F1 no abrió la ayuda en el diálogo";

    ASSERT_TRUE(desk.focus(selection));
    desk.keys({QStringLiteral("Return")});
    const QString main = desk.window(kMainTitle);
    ASSERT_FALSE(main.isEmpty());
    EXPECT_TRUE(e2e::waitUntil(
        [&] {
            return fileText(prog.installation + QStringLiteral("/Terminales/CAJA1/cgCamino.mem"))
                .startsWith(QStringLiteral("CMEMCAM=EMP00001"));
        },
        10000));

    // F5 from the main window.
    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("F5")});
    EXPECT_TRUE(e2e::waitUntil(
        [&] { return prog.boxes().filter(QStringLiteral("|MemUsed:")).size() == 2; }, 10000))
        << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.answerBox(main, {QStringLiteral("Return")}));

    // The lock light follows Caps Lock, both ways.
    auto capsShown = [&] {
        const QStringList keys =
            prog.traceLines().filter(QRegularExpression(QStringLiteral("^keys")));
        return keys.isEmpty() ? -1 : keys.last().contains(QStringLiteral("MAY")) ? 1 : 0;
    };
    const int before = capsShown();
    desk.keys({QStringLiteral("Caps_Lock")});
    EXPECT_TRUE(e2e::waitUntil([&] { return capsShown() == (before == 1 ? 0 : 1); }, 5000))
        << prog.traceLines().filter(QStringLiteral("keys")).join('\n').toStdString();
    desk.keys({QStringLiteral("Caps_Lock")});
    EXPECT_TRUE(e2e::waitUntil([&] { return capsShown() == (before == 1 ? 1 : 0); }, 5000));

    // "Salir" on the bar: the exit question, answered "No" with its key,
    // keeps the program; asked again and answered "Si", it ends it.
    const QPoint salir = prog.barButtonCentre(QStringLiteral("Terminar Aplicación"));
    ASSERT_GE(salir.x(), 0) << "la traza no da la posición de Salir";
    const QString question = QStringLiteral("Seleccione su opción|Desea terminar su sesión ?");
    ASSERT_TRUE(desk.click(main, salir.x(), salir.y()));
    EXPECT_TRUE(prog.waitBox(question));
    ASSERT_TRUE(desk.answerBox(main, {QStringLiteral("alt+n")}));
    QThread::msleep(500);
    EXPECT_TRUE(prog.running()) << "\"No\" terminó el programa";
    ASSERT_TRUE(desk.click(main, salir.x(), salir.y()));
    EXPECT_TRUE(e2e::waitUntil([&] { return prog.boxes().count(question) == 2; }, 15000));
    ASSERT_TRUE(desk.answerBox(main, {QStringLiteral("alt+s")}, false));
    ASSERT_TRUE(prog.waitForEnd());
    EXPECT_EQ(prog.exitCode(), 0);
    EXPECT_TRUE(fileText(resLog).contains(QStringLiteral("Recursos sin liberar")))
        << fileText(resLog).toStdString();
}

TEST(Desktop, KeysOfTheWholeProgramWithAWindowManager) {
    keysOfTheWholeProgramAndExitThroughSalir(true);
}

TEST(Desktop, KeysOfTheWholeProgramWithoutAWindowManager) {
    keysOfTheWholeProgramAndExitThroughSalir(false);
}

// Starts the program in an installation without any company and gives the
// keyboard to the form of the first company, which the start opens.
void firstCompanyForm(const Desktop& desk, Program& prog, QString& form) {
    ASSERT_TRUE(prog.assembled());
    for (const char* f : {"/ContEmpr.Ini", "/ContEmx1.cdx"})
        ASSERT_TRUE(QFile::remove(prog.installation + QString::fromLatin1(f)));
    ASSERT_TRUE(QDir(prog.installation + QStringLiteral("/EMP00001")).removeRecursively());
    ASSERT_TRUE(prog.start());
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown FoldIniEmpr")));
    form = desk.window(QStringLiteral("Iniciar Empresa"));
    ASSERT_FALSE(form.isEmpty());
    ASSERT_TRUE(desk.focus(form));
}

// A first start: the company form of the first company is filled with the
// keyboard and with clicks into the middle of empty fields (text and date),
// and accepted
// with Alt+A; the company is then selected and remembered.
TEST(Desktop, FirstCompanyByKeyboardAndClicksIntoEmptyFields) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    QString form;
    ASSERT_NO_FATAL_FAILURE(firstCompanyForm(desk, prog, form));

    // The name with the keyboard: the field reached by Tab from the code.
    const QPoint name = prog.controlCentre(QStringLiteral("FoldIniEmpr"), 102);
    const QPoint nit = prog.controlCentre(QStringLiteral("FoldIniEmpr"), 103);
    const QPoint city = prog.controlCentre(QStringLiteral("FoldIniEmpr"), 108);
    ASSERT_GE(name.x(), 0);
    ASSERT_GE(nit.x(), 0);
    ASSERT_GE(city.x(), 0);
    ASSERT_TRUE(desk.click(form, name.x(), name.y()));
    desk.type(QStringLiteral("Comercial Andina"));
    desk.keys({QStringLiteral("Tab")});
    // Clicks into the middle of empty fields, then typing.
    ASSERT_TRUE(desk.click(form, nit.x(), nit.y()));
    desk.type(QStringLiteral("900123456"));
    ASSERT_TRUE(desk.click(form, city.x(), city.y()));
    desk.type(QStringLiteral("Cundinamarca"));
    // The start date emptied, then a click into its middle: the digits go
    // from its start.
    const QPoint start = prog.controlCentre(QStringLiteral("FoldIniEmpr"), 110);
    ASSERT_GE(start.x(), 0);
    ASSERT_TRUE(desk.click(form, start.x(), start.y()));
    desk.keys({QStringLiteral("ctrl+a"), QStringLiteral("Delete")});
    // (The pointer has to move for the click to be sent.)
    ASSERT_TRUE(desk.click(form, start.x() + 3, start.y()));
    desk.type(QStringLiteral("09122026"));
    // Accepted with the button's key, the focus still in the date field.
    desk.keys({QStringLiteral("alt+a")});

    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown SelecEmpr"), 60000))
        << prog.boxes().join('\n').toStdString();
    const QString catalogue = prog.installation + QStringLiteral("/ContEmpr.Ini");
    EXPECT_EQ(fieldText(catalogue, "EMPRESA"), "COMERCIAL ANDINA" + std::string(24, ' '));
    EXPECT_EQ(fieldText(catalogue, "NIT"), "900123456   ");
    EXPECT_EQ(fieldText(catalogue, "CIUDAD"), "CUNDINAMARCA" + std::string(13, ' '));
    EXPECT_EQ(fieldDate(catalogue, "FECH_INI"), xb::julianFromYmd(2026, 12, 9));
    EXPECT_TRUE(fileText(prog.installation + QStringLiteral("/Terminales/CAJA1/cgCamino.mem"))
                    .startsWith(QStringLiteral("CMEMCAM=EMP00001")));

    const QString selection = desk.window(QStringLiteral("Seleccione una empresa"));
    ASSERT_TRUE(desk.focus(selection));
    desk.keys({QStringLiteral("Return")});
    EXPECT_FALSE(desk.window(kMainTitle).isEmpty());
    EXPECT_TRUE(prog.boxes().isEmpty()) << prog.boxes().join('\n').toStdString();
}

// The responses chart from the "Informes" menu, with the keys a user
// presses: it opens inside the main window, its "Salir" button closes it,
// and it opens again (its script left no table open behind it) and leaves
// with Alt+S. No message box on the way.
TEST(Desktop, TheResponsesChartFromTheMenuByKeysAndClosedWithSalir) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    // Sample contacts, so that every response has a bar.
    const QString demo = prog.fillDemo(20);
    ASSERT_TRUE(demo.isEmpty()) << demo.toStdString();
    ASSERT_TRUE(prog.start());
    const QString main = enterTestCompany(desk, prog);
    ASSERT_FALSE(main.isEmpty());

    const QString shown = QStringLiteral("shown chart Gráfico_de_respuestas");
    const QString closed = QStringLiteral("closed chart Gráfico_de_respuestas");
    auto count = [&](const QString& line) { return prog.traceLines().count(line); };

    // Alt+I opens "Informes", G its "&Gráfico de respuestas".
    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("alt+i")});
    QThread::msleep(500);
    desk.keys({QStringLiteral("g")});
    ASSERT_TRUE(prog.waitTrace(shown, 60000)) << "el menú no abrió el gráfico\n"
                                              << prog.boxes().join('\n').toStdString();
    // Inside the main window: it is no window of its own on the display.
    EXPECT_TRUE(desk.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                              QStringLiteral("--name"), QStringLiteral("^Gráfico de respuestas$")})
                    .out.isEmpty());

    // Its "&Salir" button, clicked.
    const QPoint salir = prog.chartButtonCentre(QStringLiteral("Salir"));
    ASSERT_GE(salir.x(), 0) << prog.traceLines().join('\n').toStdString();
    ASSERT_TRUE(desk.click(main, salir.x(), salir.y()));
    EXPECT_TRUE(e2e::waitUntil([&] { return count(closed) == 1; }, 15000))
        << "Salir no cerró el gráfico";

    // Again from the menu, and out with Alt+S.
    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("alt+i")});
    QThread::msleep(500);
    desk.keys({QStringLiteral("g")});
    ASSERT_TRUE(e2e::waitUntil([&] { return count(shown) == 2; }, 60000))
        << prog.boxes().join('\n').toStdString();
    QThread::msleep(500);
    desk.keys({QStringLiteral("alt+s")});
    EXPECT_TRUE(e2e::waitUntil([&] { return count(closed) == 2; }, 15000))
        << "Alt+S no cerró el gráfico";
    EXPECT_TRUE(prog.running());
    EXPECT_TRUE(prog.boxes().isEmpty()) << prog.boxes().join('\n').toStdString();
}

// A salesperson's day in a sample company, with real keys: a prospect card
// with a field changed asks before "&Salir" lets it go, and Enter (the
// default "&No") keeps it with what was typed; F4 in the date of sale opens
// the calendar on it, Right and Enter pick the next day, which goes into
// the field; F4 and Escape leave it as it is; Alt+A saves the card.
TEST(Desktop, ACardAsksBeforeLeavingChangesAndItsDateTakesACalendarDay) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    const QString demo = prog.fillDemo(5);
    ASSERT_TRUE(demo.isEmpty()) << demo.toStdString();
    // The browser opens on the first code, the table's first record.
    const QString prospects = prog.installation + QStringLiteral("/EMP00001/VdrProsp.dbf");
    const bool soldBefore = fieldLogical(prospects, "VTA");
    // The calendar opens on the date of sale, or on today when there is none.
    const QDate tomorrow = QDate::currentDate().addDays(1);
    const int32_t picked =
        soldBefore ? fieldDate(prospects, "FEC_VTA") + 1
                   : xb::julianFromYmd(tomorrow.year(), tomorrow.month(), tomorrow.day());
    ASSERT_TRUE(prog.start());
    const QString main = enterTestCompany(desk, prog);
    ASSERT_FALSE(main.isEmpty());
    const QPoint bar = prog.barButtonCentre(QStringLiteral("Fichas de Prospectos/Clientes"));
    ASSERT_GE(bar.x(), 0);
    ASSERT_TRUE(desk.click(main, bar.x(), bar.y()));
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown BROWSEINPROSP")));
    const QString browser = desk.window(QStringLiteral("Fichas de Prospectos"));
    ASSERT_TRUE(desk.focus(browser));
    desk.keys({QStringLiteral("alt+m")});
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown FoldProsp")));
    const QString card = desk.focusLeaves(browser);
    ASSERT_FALSE(card.isEmpty());
    QThread::msleep(500);

    // A changed address, "&Salir", Enter on the question: the card stays.
    const QPoint direc = prog.controlCentre(QStringLiteral("FoldProsp"), 106);
    ASSERT_GE(direc.x(), 0);
    ASSERT_TRUE(desk.click(card, direc.x(), direc.y()));
    desk.keys({QStringLiteral("Home")});
    desk.type(QStringLiteral("x"));
    desk.keys({QStringLiteral("alt+s")});
    const QString question = QStringLiteral("Atención.....|¿Desea salir sin grabar los cambios?");
    EXPECT_TRUE(prog.waitBox(question)) << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.answerBox(card, {QStringLiteral("Return")}));
    QThread::msleep(300);
    EXPECT_EQ(desk.focused(), card) << "la ficha se cerró con \"No\"";

    // The date of sale: editable once the sale is marked (the mark puts the
    // cursor in it).
    const QPoint mark = prog.controlCentre(QStringLiteral("FoldProsp"), soldBefore ? 118 : 117);
    ASSERT_GE(mark.x(), 0);
    ASSERT_TRUE(desk.click(card, mark.x(), mark.y()));
    QThread::msleep(400);
    auto calendar = [&](int n, const QStringList& keys) {
        desk.keys({QStringLiteral("F4")});
        ASSERT_TRUE(e2e::waitUntil(
            [&] { return prog.traceLines().count(QStringLiteral("shown CALEND2")) == n; }, 15000))
            << "F4 no abrió el calendario";
        ASSERT_TRUE(desk.answerBox(card, keys));
    };
    ASSERT_NO_FATAL_FAILURE(calendar(1, {QStringLiteral("Right"), QStringLiteral("Return")}));
    ASSERT_NO_FATAL_FAILURE(calendar(2, {QStringLiteral("Escape")}));
    desk.keys({QStringLiteral("alt+a")});
    ASSERT_TRUE(e2e::waitUntil([&] { return desk.focused() == browser; }, 15000))
        << prog.boxes().join('\n').toStdString();
    EXPECT_EQ(fieldDate(prospects, "FEC_VTA"), picked);
    EXPECT_TRUE(fieldLogical(prospects, "VTA"));
    EXPECT_EQ(fieldText(prospects, "DIREC").substr(0, 1), "X");
    EXPECT_EQ(prog.boxes(), QStringList{question});
}

// A report printed to "Impresora" on a desktop with no printer (the print
// system pointed at a server that is not there): the message says so, the
// report dialog stays and answers ("&Cancelar" closes it), the program runs
// on. No runtime error on the way.
TEST(Desktop, PrintingWithNoPrinterSaysSoAndTheReportDialogStays) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    qputenv("CUPS_SERVER", "/nonexistent/cups.sock");
    ASSERT_TRUE(prog.start());
    qunsetenv("CUPS_SERVER");
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown SelecEmpr")));
    ASSERT_TRUE(desk.focus(desk.window(QStringLiteral("Seleccione una empresa"))));
    desk.keys({QStringLiteral("Return")});
    const QString main = desk.window(kMainTitle);
    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("alt+i")});
    QThread::msleep(500);
    desk.keys({QStringLiteral("p")});  // "&Prospectos por vendedor"
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown Impres1")))
        << prog.boxes().join('\n').toStdString();
    const QString title = QStringLiteral("Interface Preimpresión  :  Prospectos por vendedor");
    const QString dialog = desk.window(title);
    ASSERT_FALSE(dialog.isEmpty());
    const QPoint printer = prog.controlCentre(QStringLiteral("Impres1"), 110);
    const QPoint imprimir = prog.controlCentre(QStringLiteral("Impres1"), 413);
    const QPoint cancelar = prog.controlCentre(QStringLiteral("Impres1"), 401);
    ASSERT_GE(imprimir.x(), 0) << prog.traceLines().join('\n').toStdString();
    ASSERT_TRUE(desk.click(dialog, printer.x(), printer.y()));
    ASSERT_TRUE(desk.click(dialog, imprimir.x(), imprimir.y()));
    EXPECT_TRUE(prog.waitBox(QStringLiteral("Atención.....|No hay ninguna impresora instalada")))
        << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.answerBox(dialog, {QStringLiteral("Return")}));
    EXPECT_EQ(desk.window(title, 5000), dialog);
    ASSERT_TRUE(desk.click(dialog, cancelar.x(), cancelar.y()));
    EXPECT_TRUE(e2e::waitUntil(
        [&] {
            return desk
                .xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--name"), QStringLiteral("^Interface Preimpresi")})
                .out.isEmpty();
        },
        15000))
        << "Cancelar no cerró el diálogo";
    EXPECT_TRUE(prog.running());
    EXPECT_EQ(prog.boxes().size(), 1) << prog.boxes().join('\n').toStdString();
}

// The same first start with the keyboard only, as a user who never takes
// the mouse: the cursor waits in the first field that takes typing, Tab
// walks the fields in the order the form shows them (the read-only code and
// directory are passed over), and Alt+A accepts. A field out of order puts
// a value under the wrong name in the catalogue.
TEST(Desktop, FirstCompanyWithTheKeyboardOnly) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    QString form;
    ASSERT_NO_FATAL_FAILURE(firstCompanyForm(desk, prog, form));

    const std::pair<const char*, QString> fields[] = {
        {"EMPRESA", QStringLiteral("Comercial Andina")},
        {"NIT", QStringLiteral("900123456")},
        {"T_NIT", QString()},  // the kind: left as proposed
        {"DIR_EMPR", QStringLiteral("Calle 10 # 5-20")},
        {"TELEFONOS", QStringLiteral("6011234")},
        {"FAX", QStringLiteral("6015678")},
        {"CIUDAD", QStringLiteral("Bogota")},
        {"PROVINC", QStringLiteral("Cundinamarca")},
    };
    bool first = true;
    for (const auto& [field, text] : fields) {
        if (!first) desk.keys({QStringLiteral("Tab")});
        first = false;
        if (!text.isEmpty()) desk.type(text);
    }
    desk.keys({QStringLiteral("alt+a")});

    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown SelecEmpr"), 60000))
        << prog.boxes().join('\n').toStdString();
    const QString catalogue = prog.installation + QStringLiteral("/ContEmpr.Ini");
    auto padded = [](const QString& t, size_t width) {
        std::string s = t.toUpper().toStdString();
        return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
    };
    EXPECT_EQ(fieldText(catalogue, "CODEMPR"), "00001");
    EXPECT_EQ(fieldText(catalogue, "EMPRESA"), padded(fields[0].second, 40));
    EXPECT_EQ(fieldText(catalogue, "NIT"), padded(fields[1].second, 12));
    EXPECT_EQ(fieldText(catalogue, "T_NIT"), "NIT");
    for (int i = 3; i < 8; ++i) {
        const std::string got = fieldText(catalogue, fields[i].first);
        EXPECT_EQ(QString::fromStdString(got).trimmed().toStdString(),
                  fields[i].second.toUpper().toStdString())
            << fields[i].first;
    }
    EXPECT_TRUE(prog.boxes().isEmpty()) << prog.boxes().join('\n').toStdString();
}

}  // namespace

// The agenda of visits from the menu (Alt+P, A) and from its own key (F6):
// the salesperson list chosen with the keyboard, a double click on the first
// row opens the card of that salesperson's first visit, which leaves with
// Alt+S.
TEST(Desktop, TheAgendaFromTheMenuFilteredToASalespersonOpensACard) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    const QString demo = prog.fillDemo(40);
    ASSERT_TRUE(demo.isEmpty()) << demo.toStdString();
    // The salespeople in code order, and one whose first visit is not the
    // first of all (the list filtered shows another first row).
    std::vector<std::string> codes;
    {
        auto t = dbf::Table::open(
            (prog.installation + QStringLiteral("/EMP00001/VdrVend.dbf")).toStdString(),
            {true, true});
        for (uint32_t r = 1; r <= t->recCount(); ++r)
            if (t->read(r) && !t->deleted()) {
                std::string code = t->value(t->fieldIndex("CODIGO")).asString();
                code.erase(code.find_last_not_of(' ') + 1);
                codes.push_back(code);
            }
    }
    std::sort(codes.begin(), codes.end());
    const std::string company = (prog.installation + QStringLiteral("/EMP00001/")).toStdString();
    const auto everyone = transfer::nextVisits(company, {{}, xb::todayJulian(), 0});
    ASSERT_FALSE(everyone.empty());
    size_t downs = 0;
    std::string name;
    for (size_t i = 0; i < codes.size() && name.empty(); ++i) {
        const auto visits = transfer::nextVisits(company, {codes[i], xb::todayJulian(), 0});
        if (!visits.empty() && visits[0].contactRec != everyone[0].contactRec) {
            downs = i + 1;
            name = visits[0].name;
        }
    }
    ASSERT_FALSE(name.empty());
    ASSERT_TRUE(prog.start());
    const QString main = enterTestCompany(desk, prog);
    ASSERT_FALSE(main.isEmpty());
    auto shownAgenda = [&] { return prog.traceLines().count(QStringLiteral("shown AgendaVis")); };

    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("alt+p")});
    QThread::msleep(500);
    desk.keys({QStringLiteral("a")});
    ASSERT_TRUE(e2e::waitUntil([&] { return shownAgenda() == 1; }, 60000))
        << "el menú no abrió la agenda\n"
        << prog.boxes().join('\n').toStdString();
    const QString agenda = desk.window(QStringLiteral("Agenda de visitas"));
    ASSERT_TRUE(desk.focus(agenda));
    // Alt+V takes the salesperson list; Down goes from "(Todos)" down to it.
    desk.keys({QStringLiteral("alt+v")});
    for (size_t i = 0; i < downs; ++i) desk.keys({QStringLiteral("Down")});
    QThread::msleep(500);
    // The grid's first row: below its heading, at the top of the grid.
    const QRect grid = prog.controlPlace(QStringLiteral("AgendaVis"), 101);
    ASSERT_FALSE(grid.isNull());
    ASSERT_TRUE(desk.click(agenda, grid.center().x(), grid.y() + 36, 2));
    const QString title =
        QStringLiteral("Ficha Prospecto : ") + QString::fromStdString(xb::cp1252ToUtf8(name));
    const QString card = desk.window(title, 30000);
    ASSERT_FALSE(card.isEmpty()) << "no se abrió la ficha de " << title.toStdString() << "\n"
                                 << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.focus(card));
    desk.keys({QStringLiteral("alt+s")});
    ASSERT_TRUE(e2e::waitUntil([&] { return desk.focused() == agenda; }, 15000));
    desk.keys({QStringLiteral("alt+s")});
    ASSERT_TRUE(e2e::waitUntil([&] { return desk.focused() == main; }, 15000));

    // F6 opens it again.
    desk.keys({QStringLiteral("F6")});
    ASSERT_TRUE(e2e::waitUntil([&] { return shownAgenda() == 2; }, 30000))
        << "F6 no abrió la agenda";
    ASSERT_TRUE(desk.focus(desk.window(QStringLiteral("Agenda de visitas"))));
    desk.keys({QStringLiteral("alt+s")});
    ASSERT_TRUE(e2e::waitUntil([&] { return desk.focused() == main; }, 15000));
    EXPECT_TRUE(prog.running());
    EXPECT_TRUE(prog.boxes().isEmpty()) << prog.boxes().join('\n').toStdString();
}

// The export window from the "Utilidades" menu with real keys and clicks:
// the table chosen by its first letter, a prospect's code typed into its
// field after a click, Tab; Alt+E, the file named in the save dialog. The
// file holds that prospect's contacts, and only theirs.
TEST(Desktop, OneProspectsContactsExportedFromTheUtilitiesMenu) {
    Desktop desk(true);
    NEED_DESKTOP(desk, true);
    Program prog(desk);
    ASSERT_TRUE(prog.assembled());
    const QString demo = prog.fillDemo(5);
    ASSERT_TRUE(demo.isEmpty()) << demo.toStdString();
    const QString emp = prog.installation + QStringLiteral("/EMP00001/");
    const std::string code = fieldText(emp + "VdrProsp.dbf", "CODPROSP", 2);
    int mine = 0, all = 0;
    {
        auto t = dbf::Table::open((emp + "VdrCont.dbf").toStdString(), {true, true});
        for (uint32_t r = 1; r <= t->recCount(); ++r)
            if (t->read(r) && !t->deleted()) {
                ++all;
                if (t->value(t->fieldIndex("CLIENTE")).asString() == code) ++mine;
            }
    }
    ASSERT_GT(mine, 0);
    ASSERT_LT(mine, all);
    ASSERT_TRUE(prog.start());
    const QString main = enterTestCompany(desk, prog);
    ASSERT_FALSE(main.isEmpty());

    ASSERT_TRUE(desk.focus(main));
    desk.keys({QStringLiteral("alt+u")});
    QThread::msleep(500);
    desk.keys({QStringLiteral("x")});
    ASSERT_TRUE(prog.waitTrace(QStringLiteral("shown ExportaTab")));
    const QString window = desk.focusLeaves(main);
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(500);
    desk.keys({QStringLiteral("c")});  // the table: "Contactos"
    const QPoint field = prog.controlCentre(QStringLiteral("ExportaTab"), 104);
    ASSERT_GE(field.x(), 0);
    ASSERT_TRUE(desk.click(window, field.x(), field.y()));
    desk.type(QString::fromStdString(code).trimmed().toLower());
    desk.keys({QStringLiteral("Tab"), QStringLiteral("alt+e")});
    const QString file = prog.installation + QStringLiteral("/de-uno");
    ASSERT_FALSE(desk.focusLeaves(window).isEmpty()) << "Alt+E no abrió el diálogo del fichero";
    QThread::msleep(500);
    desk.keys({QStringLiteral("ctrl+a")});
    desk.type(file);
    desk.keys({QStringLiteral("Return")});
    ASSERT_TRUE(prog.waitBox(QStringLiteral("Exportar tabla|%1 filas escritas").arg(mine)))
        << prog.boxes().join('\n').toStdString();
    ASSERT_TRUE(desk.answerBox(window, {QStringLiteral("Return")}));
    desk.keys({QStringLiteral("alt+s")});
    const QStringList lines = fileText(file + ".csv").trimmed().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), mine + 1) << lines.join('\n').toStdString();
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].section(QLatin1Char(';'), 1, 1), QString::fromStdString(code).trimmed());
    EXPECT_TRUE(prog.running());
}
