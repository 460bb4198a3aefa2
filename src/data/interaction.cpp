#include "data/interaction.h"

#include <iostream>

namespace data {

namespace {

// Windows-1252 to UTF-8 for standard error. The bytes 0x80-0x9F carry the
// typographic signs of the code page; the rest of the upper half is Latin-1.
std::string toUtf8(const std::string& s) {
    static const char16_t k80[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    for (unsigned char c : s) {
        char32_t u = c >= 0x80 && c < 0xA0 ? k80[c - 0x80] : c;
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

UnattendedInteraction& unattended() {
    static UnattendedInteraction u;
    return u;
}

Interaction* g_current = nullptr;

}  // namespace

Interaction& interaction() {
    return g_current ? *g_current : unattended();
}

Interaction* setInteraction(Interaction* i) {
    Interaction* prev = g_current;
    g_current = i;
    return prev;
}

void PlainMeter::setTotal(int total) {
    total_ = total;
    if (onChange) onChange(*this);
}

void PlainMeter::setPosition(int position) {
    position_ = position;
    if (onChange) onChange(*this);
}

void PlainMeter::setText(const std::string& text) {
    text_ = text;
    if (onChange) onChange(*this);
}

// --- unattended ---

int UnattendedInteraction::alert(const std::string& message, const std::string& title,
                                 const std::vector<std::string>&) {
    std::cerr << toUtf8(title) << ": " << toUtf8(message) << "\n";
    return 0;
}

void UnattendedInteraction::info(const std::string& message, const std::string& title) {
    if (verbose_) std::cerr << toUtf8(title) << ": " << toUtf8(message) << "\n";
}

void UnattendedInteraction::stop(const std::string& message, const std::string& title) {
    std::cerr << toUtf8(title) << ": " << toUtf8(message) << "\n";
}

void UnattendedInteraction::meter(const std::string& title, const std::string& text,
                                  const std::function<void(Meter&)>& work) {
    PlainMeter m;
    m.setText(text);
    if (verbose_) {
        std::cerr << toUtf8(title) << ": " << toUtf8(text) << "\n";
        m.onChange = [last = std::string()](const PlainMeter& pm) mutable {
            if (pm.text() != last) {
                last = pm.text();
                std::cerr << "  " << toUtf8(last) << "\n";
            }
        };
    }
    if (work) work(m);
}

// --- scripted ---

static ScriptedInteraction::Shown shownItem(ScriptedInteraction::Kind kind, std::string title,
                                            std::string message) {
    ScriptedInteraction::Shown s;
    s.kind = kind;
    s.title = std::move(title);
    s.message = std::move(message);
    return s;
}

std::vector<ScriptedInteraction::Shown> ScriptedInteraction::of(Kind kind) const {
    std::vector<Shown> out;
    for (const auto& s : shown_)
        if (s.kind == kind) out.push_back(s);
    return out;
}

int ScriptedInteraction::alert(const std::string& message, const std::string& title,
                               const std::vector<std::string>& buttons) {
    Shown s = shownItem(Kind::Alert, title, message);
    s.buttons = buttons;
    if (!answers_.empty()) {
        s.answer = answers_.front();
        answers_.pop_front();
    } else if (responder) {
        s.answer = responder(s);
    }
    shown_.push_back(s);
    return s.answer;
}

void ScriptedInteraction::info(const std::string& message, const std::string& title) {
    shown_.push_back(shownItem(Kind::Info, title, message));
}

void ScriptedInteraction::stop(const std::string& message, const std::string& title) {
    shown_.push_back(shownItem(Kind::Stop, title, message));
}

void ScriptedInteraction::meter(const std::string& title, const std::string& text,
                                const std::function<void(Meter&)>& work) {
    // The record is stored before the work runs, so that dialogs opened by
    // the work itself follow it in shown(); the work's changes update it.
    size_t at = shown_.size();
    Shown s = shownItem(Kind::Meter, title, text);
    s.texts.push_back(text);
    shown_.push_back(s);
    PlainMeter m;
    m.setText(text);
    m.onChange = [this, at](const PlainMeter& pm) {
        Shown& rec = shown_[at];
        if (rec.texts.empty() || rec.texts.back() != pm.text()) rec.texts.push_back(pm.text());
        if (rec.positions.empty() || rec.positions.back() != pm.position())
            rec.positions.push_back(pm.position());
        rec.total = pm.total();
    };
    if (work) work(m);
}

void ScriptedInteraction::tone(int hz, int ms) {
    Shown s = shownItem(Kind::Tone, {}, {});
    s.hz = hz;
    s.ms = ms;
    shown_.push_back(s);
}

void ScriptedInteraction::beep() {
    shown_.push_back(shownItem(Kind::Beep, {}, {}));
}

}  // namespace data
