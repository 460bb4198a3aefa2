// The report run: INFORM1 runs a report's entry script, whose PANTAINF1
// takes the report's choices (order, range, filter, dates, destination);
// IMPFAC applies them to the report's table and runs the body script, which
// prints through the printer object (printer.h).
//
// The range of the chosen order becomes a scope of that order (the keys are
// read through the tag, never by filtering the whole table), and the field
// filter compares the values the user typed as values: nothing typed ever
// becomes expression text.
#pragma once

#include <functional>
#include <string>

#include "xbase/runtime.h"
#include "xbase/value.h"

namespace reports {

// The body script of an entry script: its first six characters + "c.rpo".
std::string bodyScriptName(const std::string& entry);

void INFORM1(const std::string& entry);

// Unattended runs (vdrtool report): PANTAINF1 shows no dialog and prints at
// once with the default choices: the first order, no range, no filter, no
// dates, preview output (which the printing layer turns into a PDF file).
void setUnattendedReports(bool on);
bool unattendedReports();

// The ten-element parameter vector; sets CCAMPFILT, CFILTINF1, CFILTINF2 and
// CTITFILTRO.
xb::Value ACTLZPARAM(const xb::Value& from, const xb::Value& to, const std::string& field,
                     const std::string& op1, const xb::Value& v1, const std::string& op2,
                     const xb::Value& v2, const xb::Value& d1, const xb::Value& d2, int dest);
// Applies range and filter to the current table and runs the body script.
// False when no record passed the field filter (the user was told).
bool IMPFAC(const xb::Value& params, const std::string& body);

// The dialog "Impres1" of PANTAINF1 with PANTAINF1's arguments; true when
// the user chose "&Imprimir", with the parameter vector in `params`. Once the
// dialog has closed, `printWith` (when given) prints with the vector; when it
// answers false (the printout could not be made, the user was told why) the
// dialog comes back with the choices as they were.
bool runImpres1(xb::Args& args, xb::Value& params,
                const std::function<bool(const xb::Value&)>& printWith = {});

void registerInformFunctions();

}  // namespace reports
