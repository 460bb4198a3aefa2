// File names as the program holds them ("EMP00001\VdrProsp.dbf", any case)
// turned into names of this file system. Installations come from
// case-insensitive file systems, so an existing file is found whatever the
// case of its name.
#pragma once

#include <string>
#include <string_view>

namespace data {

// Backslashes become slashes; every component that exists in some case is
// replaced by its name on disk; components that do not exist are kept as
// given. "" and "." stay the current directory.
std::string hostPath(std::string_view path);

// True when `path` names an existing regular file (found as hostPath does).
bool fileExists(std::string_view path);
bool dirExists(std::string_view path);

// Directory part (up to and including the last separator, "" when none) and
// file part of a program path; both separators count.
std::string dirPart(std::string_view path);
std::string filePart(std::string_view path);

// Removes the file when it exists; true when it existed.
bool removeFile(std::string_view path);

// Flushes a file's or directory's contents to disk (fsync). Throws
// std::runtime_error with a Spanish message on failure.
void syncPath(const std::string& hostName);

}  // namespace data
