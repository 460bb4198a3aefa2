// Shared by the tests of the message dialogs, the generic grid and the
// calendar: the session of tests/support/gui_session.h in an empty scratch
// directory, and small tables made in it.
#pragma once

#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "dbf/table.h"
#include "dbf/workspace.h"
#include "gui_session.h"
#include "toolkit/dialog.h"

namespace uitest {

using testsupport::ensureApplication;

class UiTest : public testsupport::GuiSession {
  protected:
    void SetUp() override { startSession(); }

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

    void whenEditor(const QString& name, std::function<void(QLineEdit*)> act) {
        testsupport::whenEditor(name, std::move(act));
    }
};

}  // namespace uitest
