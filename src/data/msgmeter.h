// MSGMETER: the progress dialog that runs a piece of work, for C++ callers
// and for the language (where the work is a code block that receives the
// progress bar, the text line, the dialog and a done flag by reference).
#pragma once

#include <functional>
#include <string>

#include "data/interaction.h"
#include "xbase/value.h"

namespace data {

inline constexpr const char* kMeterDefaultText = "Procesando...";
inline constexpr const char* kMeterDefaultTitle = "Por favor espere";

// Runs `work` inside the progress dialog and returns its result.
xb::Value MSGMETER(const std::function<xb::Value(Meter&)>& work,
                   const std::string& text = kMeterDefaultText,
                   const std::string& title = kMeterDefaultTitle);

// The language's MSGMETER(bAction, [cText], [cTitle]).
xb::Value msgMeterBlock(const xb::Value& action, const xb::Value& text, const xb::Value& title);

// The Meter behind a progress-bar or text-line object given to a block, or
// nullptr when `v` is none of them (or its dialog has closed).
Meter* meterOf(const xb::Value& v);

}  // namespace data
