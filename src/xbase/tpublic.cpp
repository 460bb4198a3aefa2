#include "xbase/tpublic.h"

#include "xbase/codepage.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace xb {

namespace {
std::string key(std::string_view name) {
    size_t b = name.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = name.find_last_not_of(' ');
    return upper1252(name.substr(b, e - b + 1));
}
}  // namespace

int TPublic::find(std::string_view name) {
    if (cachePos > 0 && cachePos <= count() && name == cacheName) return cachePos;
    std::string k = key(name);
    for (size_t i = 0; i < aVars.size(); ++i) {
        if (aVars[i].first == k) {
            cacheName = std::string(name);
            cachePos = static_cast<int>(i) + 1;
            return cachePos;
        }
    }
    return 0;
}

void TPublic::raiseUnknown(std::string_view name, bool assigning) {
    cacheName.clear();
    cachePos = 0;
    Error e = makeError(gen::NoMethod, assigning ? 1005 : 1004,
                        assigning ? "Variable no exportada" : "M\xE9todo no exportado",
                        "TPUBLIC:" + key(name));
    e.canSubstitute = !assigning;
    raiseBreak(std::move(e));
}

void TPublic::add(std::string_view name, Value v) {
    std::string k = key(name);
    for (size_t i = 0; i < aVars.size(); ++i) {
        if (aVars[i].first == k) {
            aVars[i].second = std::move(v);
            cacheName = std::string(name);
            cachePos = static_cast<int>(i) + 1;
            return;
        }
    }
    aVars.emplace_back(k, std::move(v));
    cacheName = std::string(name);
    cachePos = count();
}

void TPublic::del(std::string_view name) {
    std::string k = key(name);
    for (size_t i = 0; i < aVars.size(); ++i) {
        if (aVars[i].first == k) {
            aVars.erase(aVars.begin() + static_cast<std::ptrdiff_t>(i));
            cacheName.clear();
            cachePos = 0;
            return;
        }
    }
}

Value TPublic::get(std::string_view name) {
    int p = find(name);
    if (p == 0) raiseUnknown(name, false);
    return aVars[static_cast<size_t>(p - 1)].second;
}

void TPublic::set(std::string_view name, Value v) {
    int p = find(name);
    if (p == 0) raiseUnknown(name, true);
    aVars[static_cast<size_t>(p - 1)].second = std::move(v);
}

int TPublic::getPos(std::string_view name) {
    return find(name);
}

Value TPublic::save() const {
    auto list = std::make_shared<Array>();
    for (auto& [n, v] : aVars) {
        auto pair = std::make_shared<Array>();
        pair->items = {Value::str(n), v};
        list->items.push_back(Value::array(std::move(pair)));
    }
    return Value::array(std::move(list));
}

void TPublic::restore(const Value& list) {
    Array* a = list.arrayPtr();
    aVars.clear();
    cacheName.clear();
    cachePos = 0;
    if (!a) return;
    for (auto& item : a->items) {
        Array* pair = item.arrayPtr();
        if (!pair || pair->items.empty() || !pair->items[0].isString()) continue;
        aVars.emplace_back(key(pair->items[0].asString()),
                           pair->items.size() > 1 ? pair->items[1] : Value());
    }
}

TPublic::~TPublic() {
    std::vector<Value> values;
    for (auto& e : aVars) values.push_back(std::move(e.second));
    releaseDeep(values);
}

void TPublic::surrender(std::vector<Value>& out) {
    for (auto& e : aVars) out.push_back(std::move(e.second));
    release();
}

void TPublic::release() {
    aVars.clear();
    cacheName.clear();
    cachePos = 0;
}

bool TPublic::send(std::string_view message, Args& args, Value& result) {
    std::string m = key(message);
    auto self = [this] { return Value::object(shared_from_this()); };
    if (m == "NEW") {
        lAutomatic = args[0].isLogical() ? args[0].asLogical() : true;
        result = self();
    } else if (m == "ADD") {
        if (!args[0].isString()) return false;
        add(args[0].asString(), args[1]);
        result = self();
    } else if (m == "DEL") {
        if (args[0].isString()) del(args[0].asString());
        result = self();
    } else if (m == "GET") {
        result = get(args[0].asString());
    } else if (m == "SET") {
        set(args[0].asString(), args[1]);
        result = self();
    } else if (m == "GETPOS") {
        result = Value::integer(getPos(args[0].asString()));
    } else if (m == "ISDEF") {
        result = Value::logical(isDef(args[0].asString()));
    } else if (m == "NCOUNT") {
        result = Value::integer(count());
    } else if (m == "SAVE") {
        result = save();
    } else if (m == "RESTORE") {
        restore(args[0]);
        result = self();
    } else if (m == "RELEASE" || m == "END") {
        release();
        result = self();
    } else if (m == "LAUTOMATIC") {
        result = Value::logical(lAutomatic);
    } else if (m == "AVARS") {
        result = save();
    } else {
        // Any other message is a name in the store.
        int p = find(message);
        if (p == 0) {
            cacheName.clear();
            cachePos = 0;
            return false;  // the caller raises 1004 naming class and message
        }
        result = aVars[static_cast<size_t>(p - 1)].second;
    }
    return true;
}

bool TPublic::assign(std::string_view message, const Value& value) {
    std::string m = key(message);
    if (m == "LAUTOMATIC") {
        lAutomatic = value.asLogical();
        return true;
    }
    int p = find(message);
    if (p > 0) {
        aVars[static_cast<size_t>(p - 1)].second = value;
        return true;
    }
    if (lAutomatic) {
        add(message, value);
        return true;
    }
    cacheName.clear();
    cachePos = 0;
    return false;  // the caller raises 1005
}

void registerTPublic() {
    registerClass("TPUBLIC");
    registerFunction("TPUBLIC", [](Args& a) {
        bool automatic = a[0].isLogical() ? a[0].asLogical() : true;
        return Value::object(std::make_shared<TPublic>(automatic));
    });
}

}  // namespace xb
