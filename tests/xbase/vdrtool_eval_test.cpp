// vdrtool eval, run as a separate process as an administrator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs vdrtool with one argument; captures standard output, or standard
// error when `errors` is set.
ToolRun vdrtool(const std::string& arg, bool errors = false) {
    std::string exe = std::string(VDR_BINARY_DIR) + "/bin/vdrtool";
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    std::string cmd = exe + " eval " + quoted + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null");
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
    if (!haveTool()) GTEST_SKIP() << "vdrtool no está compilado en este árbol";
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
    if (!haveTool()) GTEST_SKIP() << "vdrtool no está compilado en este árbol";
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
