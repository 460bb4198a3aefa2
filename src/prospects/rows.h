// Field access by name on a work area, shared by the card's and the save's code.
#pragma once

#include <cstdint>
#include <string>

#include "prospects/card.h"

namespace dbf {
class WorkArea;
}

namespace prospects {

std::string S(dbf::WorkArea& wa, const char* f);
double N(dbf::WorkArea& wa, const char* f);
int32_t D(dbf::WorkArea& wa, const char* f);
bool L(dbf::WorkArea& wa, const char* f);
void putS(dbf::WorkArea& wa, const char* f, const std::string& s);
void putM(dbf::WorkArea& wa, const char* f, const std::string& s);
void putN(dbf::WorkArea& wa, const char* f, double n);
void putD(dbf::WorkArea& wa, const char* f, int32_t d);
void putL(dbf::WorkArea& wa, const char* f, bool b);
// The open area of `alias`; a runtime error when it is not open.
dbf::WorkArea& areaOf(const char* alias);
// Does the current row of dependent table `t` carry `link`?
bool rowHasLink(dbf::WorkArea& wa, int t, const Link& link);
// Writes the four link fields of a row of dependent table (or buffer) `t`.
void stampLink(dbf::WorkArea& wa, int t, const Link& link);

}  // namespace prospects
