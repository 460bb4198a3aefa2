// File names as the program and its installations write them: backslashes as
// separators and any case, on file systems that are case-sensitive.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dbf {

// Turns backslashes into slashes.
std::string normalizeSeparators(std::string_view path);

// Maps a path to the file system: each component is matched against the
// existing entries of its folder, exactly first, then without regard to case.
// Components that do not exist are kept as written (so the result also names a
// file about to be created, inside folders found whatever their case).
std::string resolvePath(std::string_view path);

// The resolved path when such a file or folder exists, else nothing.
std::optional<std::string> findExisting(std::string_view path);

// Opens an existing file whatever the case of its name (open(2) `flags`,
// close-on-exec added): as written first, which is one call for the usual
// exact name, then as resolvePath() finds it. `resolved` names the file in
// every case (the name resolvePath() gives when none exists); -1 with errno
// set on failure, ENOENT when there is no such file.
int openExisting(std::string_view path, int flags, std::string& resolved);

// The path with its extension replaced (the extension of the last component,
// dot included; added when there is none). The case of an existing file with
// that name wins, e.g. "calls.dbf" + ".fpt" finds "calls.FPT".
std::string withExtension(std::string_view path, std::string_view ext);

// Last component without folder.
std::string baseName(std::string_view path);

}  // namespace dbf
