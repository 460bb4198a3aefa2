// Shared helpers of the language tests: a fresh interpreter per test and an
// in-memory stand-in for the table engine.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "xbase/compiler.h"
#include "xbase/fieldaccess.h"
#include "xbase/runtime.h"
#include "xbase/value.h"

namespace xbt {

inline std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// Work areas holding one current record each. Counts look-ups so tests can
// see that compiled expressions cache field positions.
class FakeTables : public xb::FieldAccess {
  public:
    struct Area {
        std::string alias;
        std::vector<std::string> names;
        std::vector<xb::Value> record;
        uint64_t serial = 0;
    };
    std::map<int, Area> areas;
    int current = 0;
    uint64_t nextSerial = 1;
    int fieldIndexCalls = 0;

    int open(int area, std::string alias, std::vector<std::pair<std::string, xb::Value>> fields) {
        Area a;
        a.alias = upper(alias);
        for (auto& [n, v] : fields) {
            a.names.push_back(upper(n));
            a.record.push_back(v);
        }
        a.serial = nextSerial++;
        areas[area] = std::move(a);
        current = area;
        return area;
    }
    void close(int area) {
        areas.erase(area);
        if (current == area) current = 0;
    }
    void set(int area, const std::string& field, xb::Value v) {
        int i = fieldIndex(area, field);
        if (i >= 0) areas[area].record[static_cast<size_t>(i)] = std::move(v);
    }

    int currentArea() override { return areas.count(current) ? current : 0; }
    int areaOf(std::string_view alias) override {
        for (auto& [n, a] : areas)
            if (a.alias == upper(std::string(alias))) return n;
        return 0;
    }
    uint64_t openSerial(int area) override {
        auto it = areas.find(area);
        return it == areas.end() ? 0 : it->second.serial;
    }
    int fieldIndex(int area, std::string_view name) override {
        ++fieldIndexCalls;
        auto it = areas.find(area);
        if (it == areas.end()) return -1;
        std::string n = upper(std::string(name));
        for (size_t i = 0; i < it->second.names.size(); ++i)
            if (it->second.names[i] == n) return static_cast<int>(i);
        return -1;
    }
    xb::Value getField(int area, int field) override {
        return areas.at(area).record.at(static_cast<size_t>(field));
    }
    void putField(int area, int field, const xb::Value& v) override {
        auto& slot = areas.at(area).record.at(static_cast<size_t>(field));
        if (slot.type() != v.type() && !(slot.isString() && v.isString()))
            xb::raiseBreak(xb::makeError(xb::gen::DataType, 1020, "Tipo de dato incorrecto"));
        slot = v;
    }
};

// Every test starts with a fresh interpreter whose handler breaks silently.
class XbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xb::resetRuntime();
        xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    }
    void TearDown() override { xb::resetRuntime(); }

    static xb::Value ev(std::string_view text) { return xb::evalText(text); }
    static std::string evs(std::string_view text) { return xb::evalText(text).asString(); }
    static double evn(std::string_view text) {
        xb::Value v = xb::evalText(text);
        EXPECT_EQ(v.type(), 'N') << text;
        return v.asNumber();
    }
    static bool evl(std::string_view text) {
        xb::Value v = xb::evalText(text);
        EXPECT_EQ(v.type(), 'L') << text;
        return v.asLogical();
    }
    // The general and sub code of the error that evaluating `text` breaks with.
    static std::pair<int, int> errorOf(std::string_view text) {
        try {
            xb::evalText(text);
        } catch (const xb::Break& b) {
            return {b.error.genCode, b.error.subCode};
        }
        return {0, 0};
    }
};

}  // namespace xbt
