// A scratch folder per test, made the current directory for the test's
// life: the program works relative to its start directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace datatest {

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/vdrdata.XXXXXX";
        path_ = ::mkdtemp(tmpl);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::filesystem::path old_;
};

inline void writeFile(const std::string& name, const std::string& content) {
    std::ofstream f(name, std::ios::binary | std::ios::trunc);
    f << content;
}

inline std::string readFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline bool exists(const std::string& name) {
    return std::filesystem::exists(name);
}

}  // namespace datatest
