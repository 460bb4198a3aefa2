// Feeds arbitrary texts to the expression compiler and evaluator. Whatever the
// text, the language must answer with a value or a runtime error: no crash,
// no sanitizer report, no runaway time or memory.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "xbase/compiler.h"
#include "xbase/fieldaccess.h"
#include "xbase/runtime.h"

namespace {

// Two small work areas, so that names, aliases and assignments to fields
// are exercised too.
class Tables : public xb::FieldAccess {
  public:
    int current = 1;
    std::vector<std::string> names{"NUMPROSP", "CLIENTE", "FECHA", "IMPORTE", "NOTAS"};
    std::map<int, std::vector<xb::Value>> rec;
    Tables() { reset(); }
    void reset() {
        current = 1;
        for (int a = 1; a <= 2; ++a)
            rec[a] = {xb::Value::str("000123"), xb::Value::str("ACME S.A.  "),
                      xb::Value::date(2460000), xb::Value::num(12.5, 10, 2),
                      xb::Value::memo("nota")};
    }
    int currentArea() override { return current; }
    int areaOf(std::string_view alias) override {
        std::string a(alias);
        for (auto& c : a) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return a == "PROSPECTO" ? 1 : a == "VENDEDOR" ? 2 : 0;
    }
    uint64_t openSerial(int area) override { return static_cast<uint64_t>(area); }
    int fieldIndex(int area, std::string_view name) override {
        if (area < 1 || area > 2) return -1;
        std::string n(name);
        for (auto& c : n) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n) return static_cast<int>(i);
        return -1;
    }
    xb::Value getField(int area, int field) override {
        return rec.at(area).at(static_cast<size_t>(field));
    }
    void putField(int area, int field, const xb::Value& v) override {
        auto& slot = rec.at(area).at(static_cast<size_t>(field));
        if (slot.type() != v.type())
            xb::raiseBreak(xb::makeError(xb::gen::DataType, 1020, "Tipo de dato incorrecto"));
        slot = v;
    }
};

Tables g_tables;

void setUp() {
    xb::resetRuntime();
    g_tables.reset();
    xb::setFieldAccess(&g_tables);
    xb::limits().maxString = 1u << 20;
    xb::limits().maxArray = 100000;
    xb::limits().workBudget = 300000;
    xb::resetWork();
    xb::setErrorHandler([](xb::Error& e) {
        // Exercise every answer: substitute when allowed, else break.
        if (e.canSubstitute && e.genCode == xb::gen::ZeroDiv)
            return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::num(0)};
        return xb::HandlerAnswer{};
    });
    xb::registerFunction("DBSELECTAREA", [](xb::Args& a) {
        int n = a[0].isNum() ? static_cast<int>(a[0].asNumber()) : 0;
        if (n >= 0 && n <= 2) g_tables.current = n;
        return xb::Value();
    });
    xb::createPublic("cVar", xb::Value::str("1 + 2"));
    xb::createPublic("aArr", xb::Value::newArray(3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    setUp();
    try {
        xb::Expr e = xb::compile(text);
        e.eval();
        e.eval();  // cached names and fields on the second run
    } catch (const xb::Break&) {
    }
    try {
        xb::typeOfText(text);
    } catch (const xb::Break&) {
    }
    xb::resetRuntime();
    return 0;
}
