// The script store under a writer killed (SIGKILL) at random moments, a few
// dozen times: a child process keeps replacing scripts (INCLUIR), extracting
// one (EXTRAER), emptying the store (VACIAR) and putting the scripts back,
// and tells before and after each operation what it does. After each kill
// the next opening of the store shows the store as it was before the
// operation or as it is after it, whole (every record and every text,
// offsets without gaps), no half-written file is left, and every script is
// still found with its old or its new text. VDR_KILLS sets the number of
// kills (default 60).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "reports/store.h"
#include "scratch_session.h"
#include "xbase/runtime.h"

namespace {

using Store = std::vector<std::pair<std::string, std::string>>;

const char* const kNames[] = {"UNO.RPO", "DOS.RPO", "TRES.RPO"};

// A new text for script `name` at operation `n`, of a length that changes
// from one operation to the next (so the offsets of the others move), and
// already as the emptying writes a text out: no blanks or line breaks at the
// ends and an even length.
std::string version(const std::string& name, int n) {
    std::string t = name.substr(0, name.find('.')) + " := " + std::to_string(n) + "\r\n" +
                    std::string(static_cast<size_t>(n % 9) * 7 + 1, 'x');
    if (t.size() % 2) t += 'y';
    return t;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A loose file as an editor saves one: complete or not at all.
void writeLoose(const std::string& name, const std::string& text) {
    const std::string path = "Prueba/" + name;
    std::ofstream(path + ".tmp", std::ios::binary) << text;
    std::rename((path + ".tmp").c_str(), path.c_str());
}

void say(int fd, const std::string& line) {
    const std::string l = line + "\n";
    (void)!::write(fd, l.data(), l.size());
}

// The operations, in a cycle of seven.
enum Op { ReplaceUno, ReplaceDos, ExtractTres, Empty, PutUno, PutDos, PutTres };
Op opOf(int n) {
    return static_cast<Op>(n % 7);
}

// The writer: operation after operation from `n` on, "B n" before and "E n"
// after each, "S step" at each step of a rewrite, until it is killed.
[[noreturn]] void writer(int fd, int n) {
    reports::setStoreHook([fd](std::string_view step) { say(fd, "S " + std::string(step)); });
    data::ScriptedInteraction yes;
    yes.responder = [](const data::ScriptedInteraction::Shown& s) {
        return s.buttons.size() >= 2 ? 2 : 1;  // "Si" to every question
    };
    data::setInteraction(&yes);
    for (;; ++n) {
        say(fd, "B " + std::to_string(n));
        bool ok = true;
        switch (opOf(n)) {
            case ReplaceUno:
                writeLoose("UNO.RPO", version("UNO.RPO", n));
                ok = reports::INCLUIR("UNO.RPO");
                break;
            case ReplaceDos:
                writeLoose("DOS.RPO", version("DOS.RPO", n));
                ok = reports::INCLUIR("DOS.RPO");
                break;
            case ExtractTres:
                ok = reports::EXTRAER("TRES.RPO");
                break;
            case Empty:
                ok = reports::VACIAR();
                break;
            case PutUno:
                ok = reports::INCLUIR("UNO.RPO");
                break;
            case PutDos:
                ok = reports::INCLUIR("DOS.RPO");
                break;
            case PutTres:
                ok = reports::INCLUIR("TRES.RPO");
                break;
        }
        say(fd, (ok ? "E " : "F ") + std::to_string(n));
        if (!ok) ::_exit(3);
    }
}

// What the store holds after operation `n` on `before`; `latest` keeps the
// newest text of every script, stored or loose.
Store apply(Store s, int n, std::map<std::string, std::string>& latest) {
    auto replace = [&](const std::string& name) {
        latest[name] = version(name, n);
        for (auto& e : s)
            if (e.first == name) e.second = latest[name];
    };
    switch (opOf(n)) {
        case ReplaceUno:
            replace("UNO.RPO");
            break;
        case ReplaceDos:
            replace("DOS.RPO");
            break;
        case ExtractTres:
            break;
        case Empty:
            s.clear();
            break;
        case PutUno:
            s.push_back({"UNO.RPO", latest["UNO.RPO"]});
            break;
        case PutDos:
            s.push_back({"DOS.RPO", latest["DOS.RPO"]});
            break;
        case PutTres:
            s.push_back({"TRES.RPO", latest["TRES.RPO"]});
            break;
    }
    return s;
}

std::string show(const Store& s) {
    std::string out;
    for (const auto& [n, t] : s) out += n + "=" + std::to_string(t.size()) + " ";
    return out;
}

class StoreKillTest : public testsupport::ScratchSession {
  protected:
    void SetUp() override { startScratchSession(); }
    // The store as its next opening shows it (the opening finishes or undoes
    // an interrupted rewrite), read record by record from its text file.
    Store opened() {
        reports::StoreIndex ix = reports::readStoreIndex();
        Store s;
        if (ix.status == reports::StoreStatus::Missing) return s;
        EXPECT_EQ(ix.status, reports::StoreStatus::Ok) << ix.problem;
        const std::string text = slurp("cgFuente.dbt");
        uint64_t at = 0;
        for (const auto& e : ix.entries) {
            EXPECT_EQ(e.begin, at) << e.name << ": a gap or an overlap in the text file";
            at = e.begin + e.length;
            s.push_back({e.name, e.begin + e.length <= text.size() ? text.substr(e.begin, e.length)
                                                                   : std::string("<fuera>")});
        }
        EXPECT_EQ(at, text.size()) << "text file longer than its records";
        return s;
    }
};

TEST_F(StoreKillTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewStoreWhole) {
    // The store to begin with: three scripts.
    std::map<std::string, std::string> latest;
    Store model;
    for (const char* name : kNames) {
        latest[name] = version(name, 0);
        writeLoose(name, latest[name]);
        ASSERT_TRUE(reports::INCLUIR(name));
        model.push_back({name, latest[name]});
    }
    ASSERT_EQ(opened(), model);

    const char* env = std::getenv("VDR_KILLS");
    const int kills = env ? std::atoi(env) : 60;
    std::mt19937 rng(20261209);
    // How long one operation takes here (measured by the first writer), so
    // that the kills spread over the first two or three operations of each.
    auto clock = [] { return std::chrono::steady_clock::now(); };
    int n = 1;
    std::chrono::microseconds span(20000);
    // Where the kills fell, told by the files the writer left.
    std::map<std::string, int> phases;
    int afterStates = 0, beforeStates = 0;

    for (int k = 0; k < kills; ++k) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            ::close(fds[0]);
            writer(fds[1], n);
        }
        ::close(fds[1]);
        // Wait for the first "B", then let it run a random while.
        std::string got;
        char buf[256];
        while (got.find('\n') == std::string::npos) {
            ssize_t r = ::read(fds[0], buf, sizeof buf);
            ASSERT_GT(r, 0) << "the writer ended before its first operation";
            got.append(buf, static_cast<size_t>(r));
        }
        const auto started = clock();
        if (k == 0) {
            // The first writer runs a whole cycle unhurt: it measures how long
            // one operation takes on this machine.
            auto count = [&] {
                size_t c = 0;
                for (size_t p = 0; (p = got.find("E ", p)) != std::string::npos; ++p) ++c;
                return c;
            };
            while (count() < 7) {
                ssize_t r = ::read(fds[0], buf, sizeof buf);
                ASSERT_GT(r, 0) << got;
                got.append(buf, static_cast<size_t>(r));
            }
            span = std::chrono::duration_cast<std::chrono::microseconds>(clock() - started) / 7;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % (span.count() * 5 / 2)));
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << got;
        for (ssize_t r; (r = ::read(fds[0], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(r));
        ::close(fds[0]);

        // Replay the writer's lines on the model: finished operations move
        // it on; the one it was killed in may have happened or not. The
        // last step it told of says where in that operation the kill fell.
        std::istringstream lines(got);
        std::string tag, arg, step;
        int m = 0, open = -1;
        while (lines >> tag >> arg) {
            if (tag == "S") {
                step = arg;
                continue;
            }
            m = std::atoi(arg.c_str());
            ASSERT_NE(tag, "F") << "operation " << m << " failed in the writer";
            step.clear();
            if (tag == "B") open = m;
            if (tag == "E") {
                model = apply(model, m, latest);
                open = -1;
            }
        }
        ++phases[open < 0 ? "fuera de una operación" : step.empty() ? "antes de escribir" : step];

        std::map<std::string, std::string> latestBefore = latest;
        Store before = model;
        std::map<std::string, std::string> latestAfter = latest;
        Store after = open >= 0 ? apply(model, open, latestAfter) : model;

        const Store now = opened();
        ASSERT_TRUE(now == before || now == after)
            << "kill " << k << " in operation " << open << ": the store is " << show(now)
            << "; before " << show(before) << "; after " << show(after);
        EXPECT_FALSE(QFile::exists(QStringLiteral("cgFuente.swp"))) << "kill " << k;
        EXPECT_FALSE(QFile::exists(QStringLiteral("cgFtmp.dbf"))) << "kill " << k;
        EXPECT_FALSE(QFile::exists(QStringLiteral("cgFtmp.dbt"))) << "kill " << k;
        // Nothing lost: every script is found, loose or stored, old or new.
        for (const char* name : kNames) {
            reports::ScriptText t = reports::findScript(name, false);
            ASSERT_NE(t.source, reports::Source::None) << name << " lost at kill " << k;
            EXPECT_TRUE(t.text == latestBefore[name] || t.text == latestAfter[name])
                << name << " at kill " << k << " has a text of " << t.text.size() << " bytes";
        }
        if (open >= 0 && now == after && !(before == after)) {
            model = after;
            latest = latestAfter;
            n = open + 1;
            ++afterStates;
        } else {
            // Killed before its operation took effect (or one that changes no
            // store): the next writer does it again.
            if (open >= 0) {
                latest = latestAfter;  // its loose file may already be written
                n = open;
            } else {
                n = m + 1;
            }
            ++beforeStates;
        }
    }
    std::string where;
    for (const auto& [p, c] : phases) where += p + ": " + std::to_string(c) + "  ";
    std::printf("%d kills (%s) - %d after the operation, %d before\n", kills, where.c_str(),
                afterStates, beforeStates);
    // The kills reached into the rewrites themselves, not only between them.
    int inRewrites = 0;
    for (const auto& [p, c] : phases)
        if (p != "fuera de una operación" && p != "antes de escribir") inRewrites += c;
    EXPECT_GT(inRewrites, 0) << where;
}

}  // namespace
