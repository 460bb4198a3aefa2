// The installation's structure sources against the catalogue that the
// program uses, and the reader's refusal of faulty sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <regex>

#include "data/catalogue.h"
#include "data/structures.h"

using data::FieldSpec;

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const std::vector<data::TableSource>& installed() {
    static auto list = data::loadStructures(VDR_SOURCE_DIR "/install/structures.txt");
    return list;
}

const data::TableSource& source(const std::string& file) {
    for (const auto& t : installed())
        if (upper(t.file) == upper(file)) return t;
    throw std::runtime_error("no structure for " + file);
}

FieldSpec field(const std::string& file, const std::string& name) {
    for (const auto& f : source(file).fields)
        if (f.name == name) return f;
    throw std::runtime_error("no field " + name + " in " + file);
}

}  // namespace

TEST(InstalledStructures, EveryCatalogueTemplateHasASourceInCatalogueOrder) {
    std::vector<std::string> templates;
    for (const auto& t : installed())
        if (t.isTemplate) templates.push_back(upper(t.file));
    ASSERT_EQ(templates.size(), data::tables().size());
    for (size_t i = 0; i < templates.size(); ++i) EXPECT_EQ(templates[i], data::tables()[i].templ);
    // The register of additional reports is its own template.
    const data::TableDef* reports = data::findTable("CGINFAD.INI");
    ASSERT_NE(reports, nullptr);
    EXPECT_EQ(upper(reports->file), reports->templ);
}

TEST(InstalledStructures, FieldsFitWhatTheProgramPutsInThem) {
    auto width = [](const char* file, const char* name) { return field(file, name).width; };
    // Codes taken from another table fit that table's codes whole.
    EXPECT_EQ(width("VDRCONT.INI", "COD_RES"), width("VDRRESP.INI", "CODIGO"));
    EXPECT_EQ(width("VDRPRDOF.INI", "PLAN"), width("VDRPLAN.INI", "CODIGO"));
    EXPECT_EQ(width("VDRPRDVT.INI", "PLAN"), width("VDRPLAN.INI", "CODIGO"));
    // The sold list starts as a copy of the offered one.
    for (const char* f :
         {"CLIENTE", "VENDEDOR", "FECHA", "CODPROD", "CANT", "VALORTOT", "NUMPROSP"})
        EXPECT_EQ(field("VDRPRDVT.INI", f), field("VDRPRDOF.INI", f)) << f;
    // Texts the cards write, and the hours entered under "99:99".
    EXPECT_EQ(width("VDRPROSP.INI", "NEW"), 2);   // "Si" or "No"
    EXPECT_GE(width("VDRPROSP.INI", "TIP"), 2);   // its first two letters tell the kind
    EXPECT_GE(width("VDRCONT.INI", "TIPO"), 10);  // "Telefónico"
    for (const char* f : {"HOR_PROX", "HOR_REAL"})
        EXPECT_EQ(width("VDRCONT.INI", f), static_cast<int>(std::strlen("99:99"))) << f;
    // Amounts with two decimals; observations are memos.
    for (auto [file, name] : {std::pair{"VDRPRODC.INI", "PRECIO"},
                              {"VDRPRDOF.INI", "CANT"},
                              {"VDRPRDOF.INI", "VALORTOT"}}) {
        EXPECT_EQ(field(file, name).type, 'N') << name;
        EXPECT_EQ(field(file, name).decimals, 2) << name;
    }
    EXPECT_EQ(field("VDRCONT.INI", "NT").type, 'N');
    for (const char* file : {"VDRPROSP.INI", "VDRCONT.INI"})
        EXPECT_EQ(field(file, "OBSERVAC").type, 'M') << file;
}

TEST(InstalledStructures, EveryTagKeyNamesFieldsOfItsTable) {
    std::regex ident("[A-Za-z_][A-Za-z0-9_]*");
    for (const auto& t : data::tables()) {
        const auto& src = source(t.templ);
        for (const auto& tag : t.tags) {
            std::string key = tag.key;
            for (std::sregex_iterator it(key.begin(), key.end(), ident), end; it != end; ++it) {
                std::string name = upper(it->str());
                if (name == "DTOS") continue;
                bool found = std::any_of(src.fields.begin(), src.fields.end(),
                                         [&](const FieldSpec& f) { return f.name == name; });
                EXPECT_TRUE(found) << t.templ << " tag " << tag.name << " key " << key;
            }
        }
    }
}

TEST(InstalledStructures, InstallationTablesAreThere) {
    EXPECT_FALSE(source("VDRBASES.INI").isTemplate);
    EXPECT_EQ(field("VDRBASES.INI", "ESTRUCTURA").type, 'M');
    for (const char* f : {"CODEMPR", "CAMINO", "EMPRESA", "NIT"})
        EXPECT_EQ(field("ContEmpr.Ini", f).type, 'C') << f;
    EXPECT_EQ(field("ContEmpr.Ini", "FECH_INI"), (FieldSpec{"FECH_INI", 'D', 8, 0}));
}

TEST(StructureSources, FaultsAreRefusedNamingTheLine) {
    auto refused = [](const char* text, const char* expected) {
        try {
            data::parseStructures(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const data::StructureError& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    };
    refused("TEMPLATE A.INI\nCODIGO C 8 0\n", "falta END");
    refused("CODIGO C 8 0\n", "línea 1");
    refused("TABLE A\nX C 0 0\nEND\n", "línea 2");
    refused("TABLE A\nX C 300 0\nEND\n", "254");
    refused("TABLE A\nX N 5 4\nEND\n", "decimales");
    refused("TABLE A\nX D 10 0\nEND\n", "fecha");
    refused("TABLE A\nX Q 1 0\nEND\n", "desconocido");
    refused("TABLE A\n1X C 1 0\nEND\n", "no válido");
    refused("TABLE A\nLONGFIELDNAME C 1 0\nEND\n", "no válido");
    refused("TABLE A\nX C 1 0\nx C 2 0\nEND\n", "repetido");
    refused("TABLE A\nX C 1x 0\nEND\n", "enteros");
    refused("TABLE A\nEND\n", "no tiene campos");
}

TEST(StructureSources, LiteralOfTheCatalogue) {
    std::vector<FieldSpec> f = {{"CODIGO", 'C', 8, 0}, {"PRECIO", 'N', 12, 2}};
    EXPECT_EQ(data::structureLiteral(f), "{{\"CODIGO\",\"C\",8,0},{\"PRECIO\",\"N\",12,2}}");
    auto parsed = data::parseStructures("table x # comment\n codigo c 8 0\nEND\n");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].fields[0], (FieldSpec{"CODIGO", 'C', 8, 0}));
}
