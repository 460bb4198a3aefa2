// vdrtool eval, run as a separate process as an administrator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs vdrtool with one argument; captures standard output, or standard
// error when `errors` is set.
ToolRun vdrtool(const std::string& arg, bool errors = false, const std::string& command = "eval") {
    std::string exe = std::string(VDR_BINARY_DIR) + "/bin/vdrtool";
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    if (arg.empty()) quoted.clear();
    // No display: the tool needs none, whatever the functions it knows.
    std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + exe + " " +
                      command + " " + quoted + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null");
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 512> buf{};
    while (fgets(buf.data(), buf.size(), p)) r.out += buf.data();
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool haveTool() {
    return std::filesystem::exists(std::string(VDR_BINARY_DIR) + "/bin/vdrtool");
}

}  // namespace

TEST(VdrtoolEval, PrintsValueAndTypeLetter) {
    ASSERT_TRUE(haveTool()) << "vdrtool no está compilado en este árbol";
    ToolRun r = vdrtool("STR(1.5)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "         1.5\tC\n");
    r = vdrtool("UPPER(\"jurídica\") + \"-\" + DtoS(CtoD(\"15-03-45\"))");
    EXPECT_EQ(r.out, "JURÍDICA-19450315\tC\n");  // UTF-8 in and out
    EXPECT_EQ(vdrtool("2 + 3 * 4").out, "        14\tN\n");
    EXPECT_EQ(vdrtool("\"ABC\" = \"AB\"").out, ".T.\tL\n");
    EXPECT_EQ(vdrtool("CtoD(\"\")").out, "  -  -    \tD\n");
}

TEST(VdrtoolEval, FailingExpressionPrintsSpanishDescriptionAndFails) {
    ASSERT_TRUE(haveTool()) << "vdrtool no está compilado en este árbol";
    ToolRun r = vdrtool("1 +", true);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Error de sintaxis"), std::string::npos) << r.out;
    r = vdrtool("NOEXISTE", true);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Variable no existe"), std::string::npos) << r.out;
    r = vdrtool("1 / 0", true);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("División por cero"), std::string::npos) << r.out;
    EXPECT_EQ(vdrtool("1 / 0").out, "");
}

// eval and functions know the program's whole catalogue: the data layer's
// helpers, the window's and the companies' functions, the language's library.
TEST(VdrtoolEval, KnowsEveryFunctionOfTheProgramAndListsThem) {
    ASSERT_TRUE(haveTool()) << "vdrtool no está compilado en este árbol";
    ToolRun r = vdrtool("DIV_ZERO(5,2)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\t')), "\tN\n") << r.out;
    EXPECT_NE(r.out.find("2.5"), std::string::npos) << r.out;
    EXPECT_EQ(vdrtool("DIV_ZERO(5,0)").out.find("0") != std::string::npos, true);

    ToolRun list = vdrtool("", false, "functions");
    EXPECT_EQ(list.status, 0);
    auto has = [&](const std::string& name) {
        return ("\n" + list.out).find("\n" + name + "\n") != std::string::npos;
    };
    for (const char* name : {"DIV_ZERO", "ABRIR", "SELEEMPR", "DATOSEMPR", "HELPINDEX",
                             "CHECKMIMEMORIA", "VALTYPE", "UPPER"})
        EXPECT_TRUE(has(name)) << name << " falta en la lista";
    // One name a line, in order, none twice.
    std::vector<std::string> names;
    for (size_t at = 0, nl; (nl = list.out.find('\n', at)) != std::string::npos; at = nl + 1)
        names.push_back(list.out.substr(at, nl - at));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    // Every listed name is one eval can call (it does not say "no definida").
    const ToolRun unknown = vdrtool("NOHAYTAL(1)", true);
    EXPECT_NE(unknown.out.find("no definida"), std::string::npos) << unknown.out;
    EXPECT_FALSE(has("NOHAYTAL"));
}
