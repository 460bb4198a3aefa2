// `vdrtool check` over every table of the session company and its bag, read
// as an outside program reads them: the faults it found, empty when none.
#pragma once

#include <QString>
#include <string>

#include "data/catalogue.h"
#include "data/paths.h"
#include "subprocess.h"
#include "xbase/runtime.h"

namespace testsupport {

inline std::string checkCompanyTables() {
    auto file = [](const char* var) {
        xb::Value v;
        std::string s = xb::getVar(var, v) && v.isString() ? v.asString() : std::string();
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return QString::fromStdString(data::hostPath(s));
    };
    std::string faults;
    for (const data::TableDef& t : data::tables()) {
        const ToolRun r = runTool({QStringLiteral("check"), file(t.tableVar), file(t.bagVar)});
        if (r.code != 0) faults += t.tableVar + (": " + (r.out + r.err).toStdString());
    }
    return faults;
}

}  // namespace testsupport
