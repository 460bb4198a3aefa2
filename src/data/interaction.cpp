#include "data/interaction.h"

#include <iostream>

#include "xbase/codepage.h"

namespace data {

namespace {

std::string toUtf8(const std::string& s) {
    return xb::cp1252ToUtf8(s);
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
        // Progress is the command's own output; messages go to standard error.
        std::cout << toUtf8(title) << ": " << toUtf8(text) << std::endl;
        m.onChange = [last = text](const PlainMeter& pm) mutable {
            if (pm.text() != last) {
                last = pm.text();
                std::cout << "  " << toUtf8(last) << std::endl;
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
