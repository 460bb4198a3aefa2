// Time from starting the program to the company dialog on screen, on a fresh
// installation (offscreen platform). The program writes a line to VDR_TRACE
// when a dialog shows; the clock stops when "shown SelecEmpr" is there.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path installation() {
    static fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("vdr-bench-start-" + std::to_string(getpid()));
        fs::remove_all(d);
        const std::string cmd = std::string("bash '") + VDR_SOURCE_DIR + "/scripts/assemble.sh' '" +
                                VDR_BINARY_DIR + "' '" + d.string() + "'";
        if (std::system(cmd.c_str()) != 0) std::abort();
        return d;
    }();
    return dir;
}

bool traceHas(const fs::path& trace, const std::string& line) {
    std::ifstream in(trace);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str().find(line) != std::string::npos;
}

void BM_StartToCompanyDialog(benchmark::State& state) {
    const fs::path dir = installation();
    const fs::path trace = dir / "trace.txt";
    const std::string program = std::string(VDR_BINARY_DIR) + "/bin/vdrcontv";
    for (auto _ : state) {
        fs::remove(trace);
        std::vector<std::string> envs = {
            "QT_QPA_PLATFORM=offscreen", "VDR_TRACE=" + trace.string(),
            "HOME=" + std::string(getenv("HOME") ? getenv("HOME") : "/tmp"),
            "TMPDIR=" + dir.string()};
        std::vector<char*> envp;
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string arg0 = program, arg1 = "BANCO";
        char* argv[] = {arg0.data(), arg1.data(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        pid_t pid = 0;
        const auto t0 = std::chrono::steady_clock::now();
        if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, envp.data()) != 0) {
            state.SkipWithError("no se pudo arrancar vdrcontv");
            break;
        }
        posix_spawn_file_actions_destroy(&fa);
        bool seen = false;
        while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
            if (traceHas(trace, "shown SelecEmpr")) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const auto t1 = std::chrono::steady_clock::now();
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (!seen) {
            state.SkipWithError("el diálogo de empresas no apareció");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}
BENCHMARK(BM_StartToCompanyDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
