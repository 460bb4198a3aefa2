// Shared by the tests of the message dialogs, the generic grid and the
// calendar: the application object, the resource library, a scratch start
// directory with a fresh session, the test driver, and small tables.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "data/interaction.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/runtime.h"

namespace uitest {

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    if (!tk::ResourceLibrary::isLoaded())
        tk::ResourceLibrary::load(QStringLiteral(VDR_BINARY_DIR "/resources/ZariReva.rcc"));
}

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(tk::ResourceLibrary::isLoaded());
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        xb::resetRuntime();
        data::setInteraction(&interaction);
        ASSERT_TRUE(data::startSession("PRUEBA"));
        driver = std::make_unique<tk::test::Driver>();
        driver->watchdog(20000);
    }
    void TearDown() override {
        EXPECT_TRUE(driver->failures().isEmpty())
            << driver->failures().join(QStringLiteral("; ")).toStdString();
        driver.reset();
        dbf::workspace().closeAll();
        data::setInteraction(nullptr);
        print::setUnattendedPdf({});
        QDir::setCurrent(previous);
    }

    // A table in the scratch folder, opened (shared unless told) and selected.
    int makeTable(const std::string& name, const std::vector<dbf::FieldDef>& fields,
                  const std::vector<std::vector<xb::Value>>& rows, bool shared = true) {
        const std::string path = dir.filePath(QString::fromStdString(name + ".dbf")).toStdString();
        dbf::Table::create(path, fields);
        dbf::Workspace& ws = dbf::workspace();
        const int n = ws.open(path, name, dbf::OpenOptions{false, false});
        for (const auto& r : rows) {
            ws.area(n)->append();
            for (size_t i = 0; i < r.size(); ++i) ws.area(n)->put(static_cast<int>(i), r[i]);
        }
        ws.area(n)->commit();
        ws.close(n);
        const int m = ws.open(path, name, dbf::OpenOptions{shared, false});
        ws.select(m);
        ws.area(m)->goTop();
        return m;
    }

    // Acts on the next visible line editor with the object name `name` as soon
    // as it appears (the in-cell editor runs a loop of its own).
    void whenEditor(const QString& name, std::function<void(QLineEdit*)> act) {
        auto* timer = new QTimer;
        auto done = std::make_shared<bool>(false);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, name, act, done] {
            if (*done) return;
            for (QWidget* top : QApplication::topLevelWidgets())
                for (QLineEdit* e : top->findChildren<QLineEdit*>(name))
                    if (e->isVisible() && !e->property("handled").toBool()) {
                        e->setProperty("handled", true);
                        *done = true;
                        timer->stop();
                        timer->deleteLater();
                        act(e);
                        return;
                    }
        });
        timer->start(20);
    }

    static QString run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(60000)) return {};
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    QTemporaryDir dir;
    QString previous;
    tk::ToolkitInteraction interaction;
    std::unique_ptr<tk::test::Driver> driver;
};

}  // namespace uitest
