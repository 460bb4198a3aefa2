// The script store on real files: inclusion into an empty store, replacing
// exactly one name in place, extraction, emptying with its cleaning and its
// question about newer loose files, damaged and missing stores, names that
// reach outside the script folder, and a process killed at every step of
// each rewrite without any script being lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "cutfs_mount.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "reports/store.h"
#include "scratch_session.h"
#include "xbase/runtime.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class StoreTest : public testsupport::ScratchSession {
  protected:
    void SetUp() override {
        startScratchSession();
        // Every question is answered "Si" (the second button) unless a test says otherwise.
        scripted.responder = [](const data::ScriptedInteraction::Shown& s) {
            return s.buttons.size() >= 2 ? 2 : 1;
        };
    }
    std::string loosePath(const std::string& name) { return "Prueba/" + name; }
    // A script file as a user's editor leaves it: written and on the disk.
    void loose(const std::string& name, const std::string& text) {
        std::ofstream(loosePath(name), std::ios::binary) << text;
        const int fd = ::open(loosePath(name).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << name;
        ::fsync(fd);
        ::close(fd);
    }
    bool looseExists(const std::string& name) {
        return QFile::exists(QString::fromStdString(loosePath(name)));
    }
    std::string stored(const std::string& name) {
        QFile::rename("Prueba", "Prueba.off");  // so that only the store answers
        reports::ScriptText t = reports::findScript(name, false);
        QFile::rename("Prueba.off", "Prueba");
        return t.source == reports::Source::Stored ? t.text : "<ninguno>";
    }
    std::vector<std::string> alerts() {
        std::vector<std::string> out;
        for (const auto& s : scripted.of(data::ScriptedInteraction::Kind::Alert))
            out.push_back(s.message);
        return out;
    }
    // The invariant every writer keeps: texts in record order without gaps.
    void expectContiguous() {
        reports::StoreIndex ix = reports::readStoreIndex();
        ASSERT_EQ(ix.status, reports::StoreStatus::Ok);
        uint64_t at = 0;
        for (const auto& e : ix.entries) {
            EXPECT_EQ(e.begin, at) << e.name;
            at += e.length;
        }
        EXPECT_EQ(at, static_cast<uint64_t>(QFileInfo(QStringLiteral("cgFuente.dbt")).size()));
    }
};

TEST_F(StoreTest, IncludeReplacesExactlyThatNameInPlaceAndMovesTheOthers) {
    loose("ABC.RPO", "uno\r\n");
    ASSERT_TRUE(reports::INCLUIR("abc.rpo"));
    EXPECT_FALSE(looseExists("ABC.RPO"));  // moved into the store
    reports::StoreIndex ix = reports::readStoreIndex();
    ASSERT_EQ(ix.entries.size(), 1u);
    EXPECT_EQ(ix.entries[0].begin, 0u);
    EXPECT_EQ(stored("ABC.RPO"), "uno\r\n");

    loose("ABCD.RPO", "dos dos\r\n");
    loose("XYZ.RPU", "tres\r\n");
    ASSERT_TRUE(reports::INCLUIR("ABCD.RPO"));
    ASSERT_TRUE(reports::INCLUIR("XYZ.RPU"));
    // ABC.RPO is a prefix of ABCD.RPO: only the exact name is replaced.
    loose("ABC.RPO", "UNO NUEVO Y MAS LARGO\r\n");
    ASSERT_TRUE(reports::INCLUIR("ABC.RPO"));
    ix = reports::readStoreIndex();
    ASSERT_EQ(ix.entries.size(), 3u);
    EXPECT_EQ(ix.entries[0].name, "ABC.RPO");
    EXPECT_EQ(ix.entries[1].name, "ABCD.RPO");
    EXPECT_EQ(ix.entries[2].name, "XYZ.RPU");
    EXPECT_EQ(stored("abc.rpo"), "UNO NUEVO Y MAS LARGO\r\n");
    EXPECT_EQ(stored("ABCD.RPO"), "dos dos\r\n");
    EXPECT_EQ(stored("XYZ.RPU"), "tres\r\n");
    expectContiguous();
    EXPECT_TRUE(QFile::exists("cgFuente.cdx"));
    EXPECT_FALSE(QFile::exists("cgFuente.swp"));
    EXPECT_FALSE(QFile::exists("cgFtmp.dbt"));

    // A loose file wins over the stored text.
    loose("XYZ.RPU", "suelto\r\n");
    EXPECT_EQ(reports::findScript("XYZ.RPU").text, "suelto\r\n");
}

TEST_F(StoreTest, MissingNamesAndBadNamesAreToldAndChangeNothing) {
    EXPECT_FALSE(reports::INCLUIR("NADA.RPO"));
    EXPECT_EQ(alerts().back(), "El formato NADA.RPO no existe");
    EXPECT_FALSE(QFile::exists("cgFuente.dbf"));
    EXPECT_FALSE(reports::EXTRAER("NADA.RPO"));
    EXPECT_EQ(alerts().back(), "El formato NADA.RPO no existe");

    std::ofstream("FUERA.RPO") << "x";
    for (const char* bad : {"..\\FUERA.RPO", "../FUERA.RPO", "Prueba/../../x", "A|B.RPO"}) {
        EXPECT_FALSE(reports::INCLUIR(bad)) << bad;
        EXPECT_NE(alerts().back().find("no es v\xe1lido"), std::string::npos) << bad;
        EXPECT_FALSE(reports::EXTRAER(bad)) << bad;
        EXPECT_EQ(reports::findScript(bad, false).source, reports::Source::None) << bad;
    }
    EXPECT_TRUE(QFile::exists("FUERA.RPO"));
    // A loose name the store's 12 characters cannot hold stays loose.
    loose("INFORME-1.RPO", "x\r\n");
    EXPECT_FALSE(reports::INCLUIR("INFORME-1.RPO"));
    EXPECT_NE(alerts().back().find("demasiado largo"), std::string::npos);
    EXPECT_EQ(reports::findScript("INFORME-1.RPO").source, reports::Source::Loose);

    // A store that already holds such a name (an older or damaged one):
    // emptying writes the other scripts, tells of that one and keeps it.
    loose("BIEN.RPO", "bien\r\n");
    loose("MAL.RPO", "mal\r\n");
    ASSERT_TRUE(reports::INCLUIR("BIEN.RPO"));
    ASSERT_TRUE(reports::INCLUIR("MAL.RPO"));
    {
        auto t = dbf::Table::open("cgFuente.dbf", {false, false});
        ASSERT_TRUE(t->read(2));
        t->putString(t->fieldIndex("NOMBRE"), "..\\FUERA.RPO");
        t->commit();
    }
    EXPECT_FALSE(reports::VACIAR());
    EXPECT_EQ(slurp("FUERA.RPO"), "x");
    EXPECT_EQ(slurp(loosePath("BIEN.RPO")), "bien");
    EXPECT_NE(alerts()
                  .at(alerts().size() - 2)
                  .find("..\\FUERA.RPO\" del almac\xe9n tiene un nombre no v\xe1lido"),
              std::string::npos);
    const reports::StoreIndex ix = reports::readStoreIndex();
    ASSERT_EQ(ix.entries.size(), 1u);
    EXPECT_EQ(ix.entries[0].name, "..\\FUERA.RPO");
}

TEST_F(StoreTest, ExtractWritesTheStoredTextAndLeavesTheStoreAsItWas) {
    loose("UNO.RPO", "a := 1\r\n");
    loose("DOS.RPO", "b := 2\r\n");
    ASSERT_TRUE(reports::INCLUIR("UNO.RPO"));
    ASSERT_TRUE(reports::INCLUIR("DOS.RPO"));
    std::string before = slurp("cgFuente.dbt");
    ASSERT_TRUE(reports::EXTRAER("dos.rpo"));
    EXPECT_EQ(slurp(loosePath("DOS.RPO")), "b := 2\r\n");
    EXPECT_EQ(slurp("cgFuente.dbt"), before);
    EXPECT_EQ(stored("UNO.RPO"), "a := 1\r\n");
}

TEST_F(StoreTest, EmptyingCleansEachTextAndAsksBeforeOverwritingANewerLooseFile) {
    EXPECT_EQ(reports::cleanForLoose("  a\r\n\r\n\r\n\r\nb\r\n \r\n\r\n"), "a\r\n\r\nb");
    EXPECT_EQ(reports::cleanForLoose("ab\r\n\r\n"), "ab");
    EXPECT_EQ(reports::cleanForLoose("abc \r\n"), "abc ");  // odd length: one blank
    EXPECT_EQ(reports::cleanForLoose("abcd   "), "abcd");

    loose("UNO.RPO", "uno\r\n\r\n\r\n\r\nfin.\r\n\r\n");
    loose("DOS.RPO", "dos\r\n");
    ASSERT_TRUE(reports::INCLUIR("UNO.RPO"));
    ASSERT_TRUE(reports::INCLUIR("DOS.RPO"));
    // A newer hand-edited DOS.RPO lies in the folder.
    sleep(1);
    loose("DOS.RPO", "editado a mano\r\n");
    scripted.clear();
    scripted.answer(2);  // "Desea continuar ?" -> Si
    scripted.answer(1);  // replace the newer DOS.RPO? -> No
    ASSERT_TRUE(reports::VACIAR());
    EXPECT_EQ(slurp(loosePath("UNO.RPO")), "uno\r\n\r\nfin. ");
    EXPECT_EQ(slurp(loosePath("DOS.RPO")), "editado a mano\r\n");
    EXPECT_NE(alerts()[1].find("DOS.RPO"), std::string::npos);
    EXPECT_EQ(reports::readStoreIndex().entries.size(), 0u);
    EXPECT_EQ(QFileInfo(QStringLiteral("cgFuente.dbt")).size(), 0);
    EXPECT_EQ(alerts().back().rfind("Espacio consumido=", 0), 0u);

    // "No" to the first question changes nothing.
    loose("TRES.RPO", "tres");
    ASSERT_TRUE(reports::INCLUIR("TRES.RPO"));
    scripted.clear();
    scripted.answer(1);
    EXPECT_FALSE(reports::VACIAR());
    EXPECT_EQ(stored("TRES.RPO"), "tres");
}

TEST_F(StoreTest, DamagedStoreIsNotFoundWithAMessageAndIsNeverRewritten) {
    loose("UNO.RPO", "uno\r\n");
    loose("DOS.RPO", "dos\r\n");
    ASSERT_TRUE(reports::INCLUIR("UNO.RPO"));
    ASSERT_TRUE(reports::INCLUIR("DOS.RPO"));
    // The text file lost its tail: DOS.RPO's offsets now point past its end.
    ASSERT_TRUE(QFile::resize("cgFuente.dbt", 5));
    scripted.clear();
    EXPECT_EQ(reports::findScript("DOS.RPO").source, reports::Source::None);
    EXPECT_NE(alerts().back().find("da\xf1"
                                   "ado"),
              std::string::npos);
    EXPECT_EQ(stored("UNO.RPO"), "uno\r\n");

    loose("TRES.RPO", "tres\r\n");
    EXPECT_FALSE(reports::INCLUIR("TRES.RPO"));
    EXPECT_TRUE(looseExists("TRES.RPO"));  // nothing moved
    scripted.answer(2);
    EXPECT_FALSE(reports::VACIAR());
    EXPECT_EQ(QFileInfo(QStringLiteral("cgFuente.dbt")).size(), 5);

    // A table that is not a table at all: not found, told once, no retry loop.
    std::ofstream("cgFuente.dbf", std::ios::trunc) << "basura";
    scripted.clear();
    EXPECT_EQ(reports::findScript("UNO.RPO").source, reports::Source::None);
    EXPECT_EQ(alerts().size(), 1u);
}

TEST_F(StoreTest, BusyStoreWaitsWithAWayToCancel) {
    loose("UNO.RPO", "uno\r\n");
    ASSERT_TRUE(reports::INCLUIR("UNO.RPO"));
    auto holder = dbf::Table::open("cgFuente.dbf", {false, false});  // exclusive elsewhere
    pid_t pid = fork();
    if (pid == 0) {
        holder.release();  // the child must not close the parent's lock
        data::ScriptedInteraction child;
        int asked = 0;
        child.responder = [&](const data::ScriptedInteraction::Shown& s) {
            if (s.message.find("Sistema en uso") != std::string::npos) ++asked;
            return asked < 3 ? 1 : 2;  // retry twice, then cancel
        };
        data::setInteraction(&child);
        reports::ScriptText t = reports::findScript("UNO.RPO");
        _exit(t.source == reports::Source::None && asked == 3 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Kills a child process at `step` of an operation and checks that every
// script is still to be found, loose or stored.
class StoreCrashTest : public StoreTest {
  protected:
    void runKilled(const char* step, const std::function<void()>& op) {
        pid_t pid = fork();
        if (pid == 0) {
            reports::setStoreHook([step](std::string_view at) {
                if (at == step) _exit(70);
            });
            op();
            _exit(0);  // the step was never reached
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 70) << "the child did not stop at " << step;
    }
    // Each script is found with one of the texts it may have: as it was
    // included, or as the emptying wrote it out.
    void killedAtEveryStep(const std::function<void()>& after);
    void expectAll(const std::map<std::string, std::vector<std::string>>& scripts,
                   const char* step) {
        for (const auto& [name, texts] : scripts) {
            reports::ScriptText t = reports::findScript(name, false);
            EXPECT_NE(t.source, reports::Source::None) << name << " lost at " << step;
            if (t.source == reports::Source::None) continue;
            bool known = false;
            for (const std::string& text : texts)
                known = known || t.text == text || t.text == reports::cleanForLoose(text);
            EXPECT_TRUE(known) << name << " at " << step << ": \"" << t.text << '"';
        }
    }
};

// Inclusions and emptyings killed at each step; `after` runs once the child
// is gone, before the next open looks (a power cut, say).
void StoreCrashTest::killedAtEveryStep(const std::function<void()>& after) {
    const std::map<std::string, std::vector<std::string>> scripts = {
        {"UNO.RPO", {"uno\r\n", "uno nuevo\r\n"}},
        {"DOS.RPO", {"dos\r\n"}},
        {"TRES.RPO", {"tres\r\n"}}};
    loose("UNO.RPO", "uno\r\n");
    loose("DOS.RPO", "dos\r\n");
    ASSERT_TRUE(reports::INCLUIR("UNO.RPO"));
    ASSERT_TRUE(reports::INCLUIR("DOS.RPO"));
    after();
    for (const char* step :
         {"temp-text", "temp-written", "marker", "renamed-text", "store-in-place"}) {
        // Inclusion of a new script and replacement of a stored one.
        loose("TRES.RPO", "tres\r\n");
        runKilled(step, [] { reports::INCLUIR("TRES.RPO"); });
        after();
        expectAll(scripts, step);
        loose("UNO.RPO", "uno nuevo\r\n");
        runKilled(step, [] { reports::INCLUIR("UNO.RPO"); });
        after();
        expectAll(scripts, step);
        // The store is whole after the next opening finished or undid the rewrite.
        expectContiguous();
        EXPECT_FALSE(QFile::exists("cgFuente.swp")) << step;
    }
    for (const char* step :
         {"loose-written", "temp-text", "temp-written", "marker", "renamed-text"}) {
        if (!looseExists("TRES.RPO")) {
            ASSERT_TRUE(reports::EXTRAER("TRES.RPO"));
        }
        for (const auto& [name, texts] : scripts)
            if (looseExists(name)) {
                ASSERT_TRUE(reports::INCLUIR(name));
            }
        after();
        scripted.answer(2);
        runKilled(step, [] { reports::VACIAR(); });
        after();
        expectAll(scripts, step);
    }
}

TEST_F(StoreCrashTest, AKilledInclusionOrEmptyingLosesNoScript) {
    killedAtEveryStep([] {});
}

// The same on a drive that loses, at each kill, part of what was written
// since each file's last sync.
TEST_F(StoreCrashTest, APowerCutInAnInclusionOrEmptyingLosesNoScript) {
    QTemporaryDir base;
    const QString here = QDir::currentPath();
    const QString disk = base.filePath(QStringLiteral("disk"));
    ASSERT_EQ(
        std::system(("cp -a '" + here.toStdString() + "' '" + disk.toStdString() + "'").c_str()),
        0);
    testsupport::CutFs fs(base.path().toStdString());
    VDR_NEED_CUTFS(fs);
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(fs.mount())));
    int cuts = 0;
    killedAtEveryStep([&] { ASSERT_TRUE(fs.cut("cut " + std::to_string(++cuts))); });
    QDir::setCurrent(here);
}

}  // namespace
