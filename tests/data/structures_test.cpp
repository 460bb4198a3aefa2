// The installation's structure sources against the catalogue that the
// program uses, and the reader's refusal of faulty sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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
    ASSERT_EQ(templates.size(), 9u);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(templates[i], data::tables()[i].templ);
    // The register of additional reports is its own template.
    EXPECT_EQ(upper(data::tables()[8].file), data::tables()[8].templ);
}

TEST(InstalledStructures, WidthsTheTemplatesFix) {
    struct W {
        const char* file;
        const char* field;
        char type;
        int width, dec;
    };
    for (W w : std::vector<W>{{"VDRPROSP.INI", "TIP", 'C', 8, 0},
                              {"VDRPROSP.INI", "NEW", 'C', 2, 0},
                              {"VDRPROSP.INI", "OBSERVAC", 'M', 10, 0},
                              {"VDRPRDOF.INI", "PLAN", 'C', 8, 0},
                              {"VDRCONT.INI", "TIPO", 'C', 10, 0},
                              {"VDRCONT.INI", "COD_RES", 'C', 20, 0},
                              {"VDRCONT.INI", "HOR_PROX", 'C', 5, 0},
                              {"VDRCONT.INI", "HOR_REAL", 'C', 5, 0},
                              {"VDRCONT.INI", "NT", 'N', 3, 0},
                              {"VDRCONT.INI", "OBSERVAC", 'M', 10, 0},
                              {"VDRPRODC.INI", "PRECIO", 'N', 12, 2},
                              {"VDRPRDOF.INI", "CANT", 'N', 10, 2},
                              {"VDRPRDVT.INI", "CANT", 'N', 10, 2},
                              {"VDRPRDOF.INI", "VALORTOT", 'N', 12, 2},
                              {"VDRPRDVT.INI", "VALORTOT", 'N', 12, 2},
                              {"CGINFAD.INI", "NOMINF", 'C', 8, 0},
                              {"CGINFAD.INI", "DESCRIP", 'C', 60, 0}}) {
        SCOPED_TRACE(std::string(w.file) + " " + w.field);
        EXPECT_EQ(field(w.file, w.field), (FieldSpec{w.field, w.type, w.width, w.dec}));
    }
    // A picked response code fits the contact's response field whole.
    EXPECT_EQ(field("VDRCONT.INI", "COD_RES").width, field("VDRRESP.INI", "CODIGO").width);
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
    EXPECT_EQ(source("ContEmpr.Ini").fields.size(), 11u);
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
