// Plain-text descriptions of a table for the administrator's tool (vdrtool info,
// dump, check): what the header says, and each field's value as text.
#pragma once

#include <ostream>
#include <string>

#include "dbf/table.h"

namespace dbf {

// "0x30 Visual FoxPro" and the like.
std::string versionName(uint8_t version);
// "0x03 Windows-1252" and the like.
std::string codePageName(uint8_t mark);

// Header, structure and memo file, one item per line.
void describeTable(Table& t, std::ostream& out);

// The current record's field as text, in the table's own bytes: characters
// without trailing blanks, numbers as stored, dates YYYY-MM-DD, date-times
// "YYYY-MM-DD hh:mm:ss", logicals T/F, memos in full, NULL as "NULL".
std::string fieldText(const Table& t, int field);

// Bytes of the table's code page as UTF-8 for the terminal.
std::string toTerminal(const Table& t, const std::string& bytes);

}  // namespace dbf
