// The sample-data generator through `vdrtool demo` on a real installation:
// every dependent row links to its prospect, the same seed gives the same
// data, and a company that holds prospects is refused with nothing written.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <set>
#include <string>

#include "dbf/table.h"
#include "subprocess.h"

namespace {

using testsupport::ToolRun;

ToolRun vdrtool(const QStringList& args) {
    return testsupport::runTool(args);
}

std::string trimmed(const std::string& s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// The four link values of each row, as one text.
std::multiset<std::string> links(const QString& file, const char* codeField, const char* dateField,
                                 const char* vendField) {
    auto t = dbf::Table::open(file.toStdString(), {true, true});
    auto text = [&](const char* f) { return trimmed(t->getString(t->fieldIndex(f))); };
    std::multiset<std::string> out;
    for (uint32_t r = 1; r <= t->recCount(); ++r) {
        t->read(r);
        out.insert(text("NUMPROSP") + "|" + text(codeField) + "|" +
                   std::to_string(t->getDate(t->fieldIndex(dateField))) + "|" + text(vendField));
    }
    return out;
}

TEST(DemoData, FillsAnEmptyCompanyWithLinkedRowsAndRefusesAFilledOne) {
    QTemporaryDir a, b;
    ASSERT_TRUE(testsupport::assembleInstallation(a.path()));
    ASSERT_TRUE(testsupport::assembleInstallation(b.path()));
    ToolRun r = vdrtool({"demo", a.path(), "--prospects", "150"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("150 prospectos"));
    ASSERT_EQ(vdrtool({"demo", b.path(), "--prospects", "150", "--company", "1"}).code, 0);

    QString emp = a.path() + "/EMP00001/";
    std::multiset<std::string> prospects =
        links(emp + "VdrProsp.dbf", "CODPROSP", "FEC_CREA", "CODVEND");
    EXPECT_EQ(prospects.size(), 150u);
    std::set<std::string> unique(prospects.begin(), prospects.end());
    for (const char* f : {"VdrPrdOf.dbf", "VdrPrdVt.dbf"})
        for (const auto& l : links(emp + f, "CLIENTE", "FECHA", "VENDEDOR"))
            EXPECT_TRUE(unique.count(l)) << f << " " << l;
    for (const auto& l : links(emp + "VdrCont.dbf", "CLIENTE", "FEC_CREA", "VENDEDOR"))
        EXPECT_TRUE(unique.count(l)) << "contacto " << l;
    EXPECT_GT(links(emp + "VdrPrdVt.dbf", "CLIENTE", "FECHA", "VENDEDOR").size(), 0u);

    // The card's lists show what the prospects hold: the person type, new or
    // returning, and a priority category from 001 to 005.
    {
        auto t = dbf::Table::open((emp + "VdrProsp.dbf").toStdString(), {true, true});
        std::set<std::string> kinds, news, cats;
        for (uint32_t r = 1; r <= t->recCount(); ++r) {
            t->read(r);
            kinds.insert(trimmed(t->getString(t->fieldIndex("TIP"))).substr(0, 2));
            news.insert(trimmed(t->getString(t->fieldIndex("NEW"))));
            cats.insert(trimmed(t->getString(t->fieldIndex("CAT"))));
        }
        EXPECT_EQ(kinds, std::set<std::string>{"Ju"});
        EXPECT_EQ(news, (std::set<std::string>{"No", "Si"}));
        for (const std::string& c : cats) EXPECT_TRUE(c >= "001" && c <= "005") << c;
        EXPECT_GT(cats.size(), 1u);
    }

    // Same seed, same data (the dates too, both made today).
    EXPECT_EQ(prospects,
              links(b.path() + "/EMP00001/VdrProsp.dbf", "CODPROSP", "FEC_CREA", "CODVEND"));

    // A second run is refused and writes nothing.
    QFileInfo before(emp + "VdrVend.dbf");
    qint64 size = before.size();
    r = vdrtool({"demo", a.path()});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains("ya tiene prospectos")) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(emp + "VdrVend.dbf").size(), size);

    // A company that is not in the catalogue.
    r = vdrtool({"demo", a.path(), "--company", "00077"});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains("00077"));
}

}  // namespace
