// Helpers shared by the engine's tests: a scratch folder removed afterwards,
// running an outside program and reading its output.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dbf/table.h"

namespace dbftest {

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vdrdbf-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        char* p = ::mkdtemp(buf.data());
        path_ = p ? p : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a shell command and answers its standard output; the exit status goes to `status`.
inline std::string run(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int st = ::pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

inline bool haveProgram(const std::string& name) {
    int st = 0;
    run("command -v " + name + " >/dev/null 2>&1", &st);
    return st == 0;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string shellQuote(const std::string& s) {
    std::string r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r += c;
    }
    return r + "'";
}

// The structure of the prospect table, used by several tests.
inline std::vector<dbf::FieldDef> prospectLayout() {
    return {{"CODVEND", 'C', 8, 0},    {"CODPROSP", 'C', 8, 0},   {"NEW", 'C', 2, 0},
            {"TIP", 'C', 8, 0},        {"NOMBRE", 'C', 60, 0},    {"DIREC", 'C', 60, 0},
            {"TELEF", 'C', 25, 0},     {"FAX", 'C', 12, 0},       {"EMAIL", 'C', 60, 0},
            {"CIUDAD", 'C', 25, 0},    {"REPRESENT", 'C', 40, 0}, {"TELFREP", 'C', 16, 0},
            {"ENCARGADO", 'C', 40, 0}, {"NUMPROSP", 'C', 14, 0},  {"FEC_CREA", 'D', 8, 0},
            {"OBSERVAC", 'M', 10, 0},  {"VTA", 'L', 1, 0},        {"FEC_VTA", 'D', 8, 0},
            {"CAT", 'C', 3, 0}};
}

}  // namespace dbftest
