// What order.cpp and order_key.cpp share: the text helpers for key and FOR
// expressions, and running an evaluation with the order's own area current.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "dbf/workarea.h"
#include "dbf/workspace.h"

namespace dbf::orderdetail {

inline std::string trimmed(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return std::string(s.substr(a, b - a));
}

inline std::string noSpaces(std::string_view s) {
    std::string r;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            r += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// Evaluates with the area current, as keys and conditions expect.
template <class F>
auto inArea(WorkArea& wa, F&& fn) {
    Workspace& ws = workspace();
    if (ws.area(wa.number()) == &wa) return ws.withArea(wa.number(), fn);
    return fn();
}

}  // namespace dbf::orderdetail
