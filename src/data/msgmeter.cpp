#include "data/msgmeter.h"

#include <memory>

#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace data {

namespace {

// The dialog's parts as objects of the language. They keep answering after
// the dialog has closed (a script may hold them), but change nothing then.
struct Live {
    Meter* meter = nullptr;
};

class MeterPart : public xb::Object {
  public:
    MeterPart(std::shared_ptr<Live> live, const char* cls) : live_(std::move(live)), cls_(cls) {}
    std::string className() const override { return cls_; }
    Meter* meter() const { return live_->meter; }

    bool send(std::string_view m, xb::Args& a, xb::Value& r) override {
        Meter* mt = live_->meter;
        auto num = [&](size_t i) { return static_cast<int>(a[i].asNumber()); };
        r = xb::Value();
        if (m == "NTOTAL") {
            r = xb::Value::integer(mt ? mt->total() : 0);
        } else if (m == "NPOSITION" || m == "NACTUAL") {
            r = xb::Value::integer(mt ? mt->position() : 0);
        } else if (m == "SET") {
            if (mt) {
                if (a[0].isNum()) mt->setPosition(num(0));
                if (a[1].isNum()) mt->setTotal(num(1));
                if (a[0].isString()) mt->setText(a[0].asString());
            }
        } else if (m == "SETTOTAL") {
            if (mt && a[0].isNum()) mt->setTotal(num(0));
        } else if (m == "SETTEXT" || m == "VARPUT") {
            if (mt && a[0].isString()) mt->setText(a[0].asString());
        } else if (m == "GETTEXT" || m == "VARGET" || m == "CCAPTION") {
            r = xb::Value::str(mt ? mt->text() : std::string());
        } else if (m == "REFRESH" || m == "UPDATE" || m == "SYSREFRESH" || m == "PAINT") {
            if (mt) mt->refresh();
        } else if (m == "END") {
            // The dialog closes by itself when the work returns.
        } else {
            return false;
        }
        return true;
    }

    bool assign(std::string_view m, const xb::Value& v) override {
        Meter* mt = live_->meter;
        if (m == "NTOTAL") {
            if (mt) mt->setTotal(static_cast<int>(v.asNumber()));
        } else if (m == "NPOSITION" || m == "NACTUAL") {
            if (mt) mt->setPosition(static_cast<int>(v.asNumber()));
        } else if (m == "CCAPTION") {
            if (mt && v.isString()) mt->setText(v.asString());
        } else {
            return false;
        }
        return true;
    }

  private:
    std::shared_ptr<Live> live_;
    const char* cls_;
};

std::string textOr(const xb::Value& v, const char* def) {
    return v.isString() ? v.asString() : std::string(def);
}

}  // namespace

xb::Value MSGMETER(const std::function<xb::Value(Meter&)>& work, const std::string& text,
                   const std::string& title) {
    xb::Value result;
    interaction().meter(title, text, [&](Meter& m) {
        if (work) result = work(m);
    });
    return result;
}

xb::Value msgMeterBlock(const xb::Value& action, const xb::Value& text, const xb::Value& title) {
    return MSGMETER(
        [&](Meter& m) -> xb::Value {
            if (!action.isBlock()) return xb::Value();
            auto live = std::make_shared<Live>();
            live->meter = &m;
            struct Close {
                std::shared_ptr<Live> l;
                ~Close() { l->meter = nullptr; }
            } close{live};
            auto done = std::make_shared<xb::Value>(xb::Value::logical(false));
            xb::ArgList args;
            args.push(xb::Value::object(std::make_shared<MeterPart>(live, "TMETER")));
            args.push(xb::Value::object(std::make_shared<MeterPart>(live, "TSAY")));
            args.push(xb::Value::object(std::make_shared<MeterPart>(live, "TDIALOG")));
            args.push(*done, done);
            xb::Args a = args.args();
            xb::Value r = xb::evalBlock(action, a);
            *done = xb::Value::logical(true);
            return r;
        },
        textOr(text, kMeterDefaultText), textOr(title, kMeterDefaultTitle));
}

Meter* meterOf(const xb::Value& v) {
    if (!v.isObject()) return nullptr;
    auto* part = dynamic_cast<MeterPart*>(v.asObject().get());
    return part ? part->meter() : nullptr;
}

}  // namespace data
