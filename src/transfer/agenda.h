// The next visits of a company: every contact that names a date for the
// next one (FEC_PROX), with its prospect and salesperson. The calendar file
// and the agenda window read them from here, so that both tell the same.
// Texts are as the tables store them (Windows-1252), without their padding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

struct Visit {
    uint32_t contactRec = 0;   // the contact's record
    uint32_t prospectRec = 0;  // its prospect's record; 0 when there is none
    // The prospect link exactly as stored (padded), and the contact's NT.
    std::string link, nt;
    std::string cliente, vendedor;  // codes
    int32_t fecCont = 0, fecProx = 0, fecReal = 0;
    std::string horProx;  // as typed ("09:30"), or empty
    std::string tipo, resultado;
    // The prospect (the code again when it has none) and the salesperson.
    std::string name, address, city, phone, vendName;
    // The latest day the prospect was really contacted (FEC_CONT or
    // FEC_REAL of any of its contacts); 0 when never.
    int32_t lastContact = 0;
    // The day has passed and nobody has contacted the prospect since.
    bool overdue = false;
};

// Every contact with a next visit, in the order of the contacts file.
// `today` (julian day) decides which are overdue. Throws
// std::runtime_error (UTF-8) when a table cannot be read.
std::vector<Visit> readVisits(const std::string& camino, int32_t today);

struct AgendaQuery {
    std::string salesperson;  // code; empty for every salesperson
    int32_t today = 0;        // julian day
    int32_t until = 0;        // last day shown; 0 for no end
};

// The agenda: the visits of `today` and after (up to `until`), and the
// overdue ones of any earlier day, by day, hour and prospect code.
std::vector<Visit> nextVisits(const std::string& camino, const AgendaQuery& q);

// The Sunday that ends the week (Monday to Sunday) of `day`.
int32_t endOfWeek(int32_t day);

}  // namespace transfer
