// Runs a fuzz target over every file of the folders (or files) named on the
// command line, so that the corpus found by libFuzzer is replayed by ctest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void runFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) {
                    runFile(e.path());
                    ++count;
                }
        } else if (std::filesystem::exists(p)) {
            runFile(p);
            ++count;
        }
    }
    // A wrong corpus path must not pass for a replay of nothing.
    if (count == 0) {
        std::fprintf(stderr, "no inputs found in the paths given\n");
        return 1;
    }
    std::printf("%zu passed, 0 failed\n", count);
    return 0;
}
