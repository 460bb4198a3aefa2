// The search kit on real tables of the test company: the "contains" search
// in both of its ways, the duplicate check and its seeks, the order switch,
// the record count and the browse's length.
#include <QTableView>
#include <QWidget>
#include <random>

#include "search_fixture.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "ui/search.h"
#include "xbase/codepage.h"
#include "xbase/date.h"

using searchtest::Fixture;

namespace {

class Search : public Fixture {
  protected:
    dbf::WorkArea& salespeople(std::initializer_list<std::pair<const char*, const char*>> rows) {
        dbf::WorkArea& wa = open("Vendedor", "VDRVEND", "VDRVENX1");
        for (const auto& [code, name] : rows)
            add(wa, {{"CODIGO", xb::Value::str(code)}, {"NOMBRE", xb::Value::str(name)}});
        wa.goTop();
        return wa;
    }
    std::string codeHere(dbf::WorkArea& wa) { return text(wa, "CODIGO"); }
};

TEST_F(Search, ContainsIgnoresCaseInEitherWayAndAnEmptyTextFindsNothing) {
    dbf::WorkArea& wa = salespeople({{"V3", "PEDRO"}, {"V1", "MARIANA"}, {"V2", "ANA"}});
    // Order 1 (code): V1 MARIANA comes before V2 ANA.
    for (const char* expr :
         {"Nombre", "trim(Nombre)"}) {  // straight from the file / through the language
        wa.goTop();
        wa.skip(2);  // on V3
        ui::SearchOutcome r = ui::searchContains(wa, expr, "  ana ");
        ASSERT_TRUE(r.found) << expr;
        EXPECT_EQ(codeHere(wa), "V1      ") << expr;
        // By name the first containing "ana" is ANA.
        dbf::orders(wa).setOrder(2);
        wa.goTop();
        r = ui::searchContains(wa, expr, "ana");
        EXPECT_EQ(codeHere(wa), "V2      ") << expr;
        dbf::orders(wa).setOrder(1);
        // Not found and empty texts leave the record where it was.
        wa.goTop();
        wa.skip(2);
        EXPECT_FALSE(ui::searchContains(wa, expr, "ZZZ").found);
        EXPECT_EQ(codeHere(wa), "V3      ");
        EXPECT_FALSE(ui::searchContains(wa, expr, "   ").found);
        EXPECT_EQ(codeHere(wa), "V3      ");
    }
}

TEST_F(Search, SearchesInTheOrdersKeyFindWhatTheLanguageFinds) {
    // Codes whose first letters appear later in other codes, and codes
    // whose first letter never does (the case that seeks answer).
    dbf::WorkArea& wa = open("Vendedor", "VDRVEND", "VDRVENX1");
    std::mt19937 rng(11);
    const std::string later = "12ab";
    for (int i = 0; i < 200; ++i) {
        std::string c = i % 3 == 0 ? "p" : "P";
        for (int k = 0; k < 3; ++k) c += later[rng() % later.size()];
        add(wa, {{"CODIGO", xb::Value::str(c)}, {"NOMBRE", xb::Value::str("X")}});
    }
    wa.goTo(5);
    ASSERT_TRUE(data::REC_LOCK(0));
    wa.deleteRecord();
    wa.unlock(0);
    ui::SearchHooks all;
    all.goOn = [](uint64_t) { return true; };
    for (const char* text : {"P1", "p12a", "PB", "1A", "2", "B2B", "Q", "P1A2"}) {
        wa.goTop();
        const ui::SearchOutcome a = ui::searchContains(wa, "Codigo", text, all);
        wa.goTop();
        const ui::SearchOutcome b = ui::searchContains(wa, "trim(Codigo)", text, all);
        EXPECT_EQ(a.found, b.found) << text;
        EXPECT_EQ(a.recno, b.recno) << text;
    }
}

TEST_F(Search, DeletedFilteredAndScopedRecordsAreNotFound) {
    dbf::WorkArea& wa = salespeople({{"A1", "MARIANA"}, {"B1", "JULIANA"}, {"C1", "LUCIANA"}});
    wa.goTop();  // A1
    ASSERT_TRUE(data::REC_LOCK(0));
    wa.deleteRecord();
    wa.unlock(0);
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "Nombre", "ANA").found);
    EXPECT_EQ(codeHere(wa), "B1      ");
    // A scope on the order (as the prospect filters set) bounds the search.
    dbf::orders(wa).setScopeTop(xb::Value::str("C"));
    dbf::orders(wa).setScopeBottom(xb::Value::str("C"));
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "Nombre", "ANA").found);
    EXPECT_EQ(codeHere(wa), "C1      ");
    EXPECT_FALSE(ui::searchContains(wa, "Nombre", "JULI").found);
}

TEST_F(Search, DatesAreSearchedAsShownOrAsEightDigits) {
    dbf::WorkArea& wa = open("Planes", "VDRPLAN", "VDRPLNX1");
    auto plan = [&](const char* code, int y, int m, int d) {
        add(wa, {{"CODIGO", xb::Value::str(code)},
                 {"DETALLE", xb::Value::str("PLAN")},
                 {"FEC_INI", xb::Value::date(xb::julianFromYmd(y, m, d))}});
    };
    plan("P1", 2008, 11, 3);
    plan("P2", 2009, 3, 15);
    plan("P3", 2010, 3, 20);
    wa.goTop();
    // A date field as "dd-mm-yyyy".
    EXPECT_TRUE(ui::searchContains(wa, "Fec_Ini", "03-2009").found);
    EXPECT_EQ(text(wa, "CODIGO"), "P2      ");
    // DTOS: a year, or a year and month.
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "dtos(Fec_Ini)", "2010").found);
    EXPECT_EQ(text(wa, "CODIGO"), "P3      ");
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "dtos(Fec_Ini)", "200811").found);
    EXPECT_EQ(text(wa, "CODIGO"), "P1      ");
    // DTOS, as the plans list searches its date columns, takes the date as
    // the column shows it too.
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "dtos(Fec_Ini)", "20-03-2010").found);
    EXPECT_EQ(text(wa, "CODIGO"), "P3      ");
    wa.goTop();
    EXPECT_TRUE(ui::searchContains(wa, "dtos(Fec_Ini)", "03-2009").found);
    EXPECT_EQ(text(wa, "CODIGO"), "P2      ");
}

// A narrow table of many records where only the last one matches.
class LongSearch : public Fixture {
  protected:
    dbf::WorkArea& build(uint32_t n) {
        dbf::Table::create("largo.dbf", {{"CODIGO", 'C', 7, 0}, {"NOMBRE", 'C', 10, 0}});
        {
            auto t = dbf::Table::open("largo.dbf", {false, false});
            char buf[16];
            for (uint32_t i = 1; i <= n; ++i) {
                t->appendBlank();
                std::snprintf(buf, sizeof buf, "%07u", i);
                t->putString(0, buf);
                t->putString(1, i == n ? "ULTIMO" : "NADA");
            }
            t->commit();
        }
        const int a = dbf::workspace().open("largo.dbf", "LARGO", {true, false});
        dbf::WorkArea& wa = *dbf::workspace().area(a);
        dbf::orders(wa).createTag("largo.cdx", "CODIGO", "CODIGO");
        wa.goTop();
        return wa;
    }
};

TEST_F(LongSearch, PastTheLimitTheUserDecidesAndIsNeverLeftUntold) {
    dbf::WorkArea& wa = build(static_cast<uint32_t>(ui::kSearchLimit) + 5);
    for (const char* expr : {"Nombre", "alltrim(Nombre)"}) {
        int asked = 0;
        ui::SearchHooks stop;
        stop.goOn = [&](uint64_t examined) {
            ++asked;
            EXPECT_EQ(examined, ui::kSearchLimit);
            return false;
        };
        wa.goTop();
        ui::SearchOutcome r = ui::searchContains(wa, expr, "ultimo", stop);
        EXPECT_FALSE(r.found) << expr;
        EXPECT_TRUE(r.stopped) << expr;
        EXPECT_EQ(asked, 1) << expr;
        EXPECT_EQ(text(wa, "CODIGO"), "0000001") << expr;

        ui::SearchHooks goOn;
        goOn.goOn = [](uint64_t) { return true; };
        r = ui::searchContains(wa, expr, "ultimo", goOn);
        EXPECT_TRUE(r.found) << expr;
        EXPECT_EQ(text(wa, "NOMBRE"), "ULTIMO    ") << expr;

        // Cancelled half-way: back where it was.
        wa.goTop();
        ui::SearchHooks cancel;
        cancel.progress = [](uint64_t, uint64_t) { return false; };
        cancel.goOn = [](uint64_t) { return true; };
        r = ui::searchContains(wa, expr, "ultimo", cancel);
        EXPECT_TRUE(r.cancelled) << expr;
        EXPECT_FALSE(r.found) << expr;
        EXPECT_EQ(text(wa, "CODIGO"), "0000001") << expr;
    }
}

// The same through the search dialog as the browsers open it: the question
// past the limit, then the notice when the user stops there; going on finds
// the last record and makes it the current one.
TEST_F(LongSearch, TheSearchDialogAsksPastTheLimitAndTellsWhenStopped) {
    dbf::WorkArea& wa = build(static_cast<uint32_t>(ui::kSearchLimit) + 5);
    for (const bool goOn : {false, true}) {
        wa.goTop();
        scripted.clear();
        scripted.answer(goOn ? 1 : 2);  // "Si" or "No" to going past the limit
        tk::test::Driver driver;
        driver.watchdog(120000);
        driver.whenOpen(QStringLiteral("Buscar1"), [](tk::test::Handle& h) {
            h.choose(101, QStringLiteral("Nombre"));
            h.type(102, QStringLiteral("ultimo"));
            h.press(201);
        });
        ui::BUSCA1(nullptr, nullptr, "LARGO", {"Nombre"}, {"Nombre"});
        EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
        EXPECT_EQ(alerts(), std::vector<std::string>{
                                "No se encontr\xf3 en los primeros 100000 registros. \xbf Desea "
                                "continuar la b\xfasqueda en el resto del fichero ?"});
        const auto told = scripted.of(data::ScriptedInteraction::Kind::Info);
        if (goOn) {
            EXPECT_TRUE(told.empty());
            EXPECT_EQ(text(wa, "NOMBRE"), "ULTIMO    ");
        } else {
            ASSERT_EQ(told.size(), 1u);
            EXPECT_EQ(told[0].message,
                      "B\xfasqueda detenida en 100000 registros: el texto no se encontr\xf3.");
            EXPECT_EQ(text(wa, "CODIGO"), "0000001");
        }
    }
}

TEST_F(Search, ChkdupAcceptsTheRecordsOwnCodeAndRefusesAnothersWhateverCaseAndBlanks) {
    dbf::WorkArea& wa = salespeople({{"V1", "UNO"}, {"V2", "DOS"}, {"", "SIN CODIGO"}});
    wa.goTop();
    wa.skip(1);  // V1 (blank code first in order)
    const uint32_t v1 = wa.recno();
    xb::createPrivate("LREG", xb::Value::integer(v1));
    EXPECT_TRUE(ui::CHKDUP(xb::Value::str("V1"),
                           "C\xf3"
                           "digo",
                           "Codigo"));
    EXPECT_TRUE(scripted.shown().empty());
    EXPECT_FALSE(ui::CHKDUP(xb::Value::str(" v2  "),
                            "C\xf3"
                            "digo",
                            "Codigo"));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0],
              "C\xf3"
              "digo ya existe");
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Alert)[0].title, "Atenci\xf3n.....!!!");
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Beep).size(), 1u);
    EXPECT_EQ(wa.recno(), v1);  // the position is kept either way
    // A new record: any holder is a duplicate, a blank code too.
    xb::assignVar("LREG", xb::Value::integer(-1));
    EXPECT_FALSE(ui::CHKDUP(xb::Value::str("v1"),
                            "C\xf3"
                            "digo",
                            "Codigo"));
    EXPECT_FALSE(ui::CHKDUP(xb::Value::str("        "),
                            "C\xf3"
                            "digo",
                            "Codigo"));
    EXPECT_TRUE(ui::CHKDUP(xb::Value::str("V9"),
                           "C\xf3"
                           "digo",
                           "Codigo"));
    // A code held only by a deleted record is free.
    wa.goTo(v1);
    ASSERT_TRUE(data::REC_LOCK(0));
    wa.deleteRecord();
    wa.unlock(0);
    EXPECT_TRUE(ui::CHKDUP(xb::Value::str("V1"),
                           "C\xf3"
                           "digo",
                           "Codigo"));
    // Through the language, as the cards' scripts call it.
    EXPECT_FALSE(xb::evalText("CHKDUP('v2', 'C\xf3"
                              "digo', 'Codigo')")
                     .asLogical());
}

TEST_F(Search, CodeSeeksFindWhatAWholeScanFinds) {
    // Codes stored by other tools: mixed case, leading blanks, accents.
    dbf::WorkArea& wa = open("Vendedor", "VDRVEND", "VDRVENX1");
    std::mt19937 rng(7);
    const std::string letters = "abAB\xe1\xc1 1";
    std::vector<std::string> codes;
    for (int i = 0; i < 300; ++i) {
        std::string c;
        const int len = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < len; ++k) c += letters[rng() % letters.size()];
        codes.push_back(c);
        add(wa, {{"CODIGO", xb::Value::str(c)}, {"NOMBRE", xb::Value::str("X")}});
    }
    auto norm = [](const std::string& s) {
        const size_t b = s.find_first_not_of(' ');
        if (b == std::string::npos) return std::string();
        return xb::upper1252(s.substr(b, s.find_last_not_of(' ') - b + 1));
    };
    for (int probe = 0; probe < 200; ++probe) {
        std::string want = codes[rng() % codes.size()];
        if (probe % 3 == 0) want = std::string(1, letters[rng() % letters.size()]) + want;
        const uint32_t except = rng() % 2 ? 0 : 1 + rng() % codes.size();
        uint32_t scan = 0;
        for (uint32_t r = 1; r <= codes.size() && scan == 0; ++r)
            if (r != except && norm(codes[r - 1]) == norm(want)) scan = r;
        const uint32_t seek = ui::findCodeHolder(wa, "Codigo", want, except);
        EXPECT_EQ(seek != 0, scan != 0) << "[" << want << "]";
        if (seek != 0) {
            EXPECT_EQ(norm(codes[seek - 1]), norm(want));
        }
        EXPECT_NE(seek, except == 0 ? 1u << 31 : except);
    }
}

TEST_F(Search, OrderSwitchKeepsTheRecordAndFollowsTheCaption) {
    dbf::WorkArea& wa = salespeople({{"V1", "ZOILA"}, {"V2", "ANA"}, {"V3", "MARIO"}});
    wa.goTop();
    wa.skip(2);  // V3
    QTableView view;
    tk::WorkAreaRows rows(wa);
    tk::Browse grid(&view, &rows,
                    {{QStringLiteral("Codigo"), [&] { return wa.get(0); }, 0, {}, {}, 1},
                     {QStringLiteral("Nombre"), [&] { return wa.get(1); }, 0, {}, {}, 2}});
    int order = 1;
    EXPECT_EQ(ui::COMBO2INDEX(&grid, "Nombre", order), 2);
    EXPECT_EQ(order, 2);
    EXPECT_EQ(dbf::orders(wa).orderNumber(), 2);
    EXPECT_EQ(codeHere(wa), "V3      ");
    EXPECT_EQ(grid.currentRow(), 1);  // ANA, MARIO, ZOILA
    EXPECT_EQ(ui::COMBO2INDEX(&grid,
                              "C\xf3"
                              "digo",
                              order),
              1);
    EXPECT_EQ(grid.currentRow(), 2);
    // The prospect browser's kinds, and a caption that matches nothing.
    int column = 0;
    EXPECT_EQ(ui::orderForChoice("Prospecto", "Prosp", &column), 8);
    EXPECT_EQ(column, 5);
    EXPECT_EQ(ui::orderForChoice("Vendedor", "Prosp", &column), 3);
    EXPECT_EQ(ui::COMBOINDEX(&grid, "Otra cosa", order, "Prosp"), 1);
    EXPECT_EQ(ui::COMBOINDEX(&grid, "Nombre", order, "Otra"), 2);
}

TEST_F(Search, StabiliseCountsAgainOnlyWhenTheFileChanged) {
    dbf::WorkArea& wa = salespeople({{"V1", "UNO"}, {"V2", "DOS"}});
    QTableView view;
    tk::WorkAreaRows rows(wa);
    tk::Browse grid(&view, &rows,
                    {{QStringLiteral("Codigo"), [&] { return wa.get(0); }, 0, {}, {}, 1}});
    ui::ESTABILIZA(&grid);
    const int64_t reads = grid.model()->sourceReads();
    for (int i = 0; i < 5; ++i) ui::ESTABILIZA(&grid);
    EXPECT_EQ(grid.model()->sourceReads(), reads);
    add(wa, {{"CODIGO", xb::Value::str("V3")}});
    ui::ESTABILIZA(&grid);
    EXPECT_EQ(grid.model()->rowCount(), 3);
    EXPECT_GT(grid.model()->sourceReads(), reads);
}

TEST_F(Search, NumreglogCountsVisibleRecordsAndGoesToTheTop) {
    dbf::WorkArea& wa = salespeople({{"V2", "UNO"}, {"V1", "DOS"}, {"V3", "TRES"}});
    wa.goTop();
    ASSERT_TRUE(data::REC_LOCK(0));
    wa.deleteRecord();
    wa.unlock(0);
    wa.goBottom();
    EXPECT_EQ(ui::NUMREGLOG(), 2u);
    EXPECT_EQ(codeHere(wa), "V2      ");
    dbf::orders(wa).setOrder(0);
    EXPECT_EQ(xb::evalText("NUMREGLOG()").asNumber(), 2);
    EXPECT_EQ(codeHere(wa), "V2      ");
}

}  // namespace
