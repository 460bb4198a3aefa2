// The build's cutfs (tools/cutfs) mounted over a scratch folder for as long
// as the object lives: what the tests write under mount() can be lost as a
// power cut loses it (cut()), or slowed as a network drive slows it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace testsupport {

class CutFs {
  public:
    // Mounts `dir`/mnt over `dir`/disk, read-only when asked (as a share the
    // user may not write). When it cannot, why() says why.
    explicit CutFs(const std::string& dir, long delayUs = 0, bool readOnly = false) {
        std::string tool = VDR_BINARY_DIR "/bin/cutfs";
        if (!std::filesystem::exists(tool)) {
            why_ = "cutfs no está compilado (falta libfuse3-dev)";
            missingTool_ = true;
            return;
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "no hay /dev/fuse: no se puede montar FUSE aquí";
            return;
        }
        disk_ = dir + "/disk";
        mnt_ = dir + "/mnt";
        std::filesystem::create_directories(disk_);
        std::filesystem::create_directories(mnt_);
        std::string delay = std::to_string(delayUs);
        pid_ = ::fork();
        if (pid_ == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, STDERR_FILENO);
            if (readOnly)
                ::execl(tool.c_str(), "cutfs", "--delay-us", delay.c_str(), disk_.c_str(),
                        mnt_.c_str(), "-o", "ro", static_cast<char*>(nullptr));
            else
                ::execl(tool.c_str(), "cutfs", "--delay-us", delay.c_str(), disk_.c_str(),
                        mnt_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            struct stat st {};
            if (::stat((mnt_ + "/.cutfs").c_str(), &st) == 0) {
                mounted_ = true;
                return;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        why_ = "cutfs no pudo montar " + mnt_;
    }
    ~CutFs() {
        if (pid_ <= 0) return;
        if (mounted_) {
            std::string cmd = "fusermount3 -u " + mnt_ + " >/dev/null 2>&1";
            if (std::system(cmd.c_str()) != 0) ::kill(pid_, SIGTERM);
        } else {
            ::kill(pid_, SIGTERM);
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    CutFs(const CutFs&) = delete;
    CutFs& operator=(const CutFs&) = delete;

    bool mounted() const { return mounted_; }
    // The build lacks cutfs (the set-up installs what it needs): a fault
    // under CI, where the other reasons (no FUSE device, no right to mount in
    // this sandbox) are the machine's and only skip.
    bool missingTool() const { return missingTool_; }
    const std::string& why() const { return why_; }
    const std::string& mount() const { return mnt_; }
    std::string file(const std::string& name) const { return mnt_ + "/" + name; }

    // Power cut: `command` is "cut SEED" (a random half of the writes not
    // synced are lost) or "cut all". Every process using the files must have
    // stopped first.
    bool cut(const std::string& command) const { return tell(command); }
    bool setDelay(long us) const { return tell("delay " + std::to_string(us)); }

  private:
    bool tell(const std::string& command) const {
        int fd = ::open((mnt_ + "/.cutfs").c_str(), O_WRONLY);
        if (fd < 0) return false;
        bool ok =
            ::write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size());
        ::close(fd);
        return ok;
    }

    std::string disk_, mnt_, why_;
    pid_t pid_ = -1;
    bool mounted_ = false;
    bool missingTool_ = false;
};

// Skips the test when FUSE cannot be mounted here; under CI a build without
// cutfs fails instead, since the set-up installs what it needs.
#define VDR_NEED_CUTFS(fs)                                                                   \
    do {                                                                                     \
        if (!(fs).mounted()) {                                                               \
            const char* ci = std::getenv("CI");                                              \
            if ((fs).missingTool() && ci && std::string(ci) == "true") FAIL() << (fs).why(); \
            GTEST_SKIP() << (fs).why();                                                      \
        }                                                                                    \
    } while (0)

}  // namespace testsupport
