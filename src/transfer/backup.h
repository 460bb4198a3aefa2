// Backup and restore of a company: one zip archive with every table, memo
// and bag of the company and a manifest, taken as one consistent snapshot
// while other workstations keep working; restored only whole and checked.
// Messages (in the exceptions and the results) are UTF-8, for the edges
// that show them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace transfer {

inline constexpr const char* kManifestName = "MANIFIESTO.TXT";

struct ArchivedFile {
    std::string name;  // relative to the company folder, '/' separated
    uint64_t size = 0;
    std::string sha256;
    int64_t records = -1;  // tables only: records in the file
    int64_t live = -1;     // tables only: records without the deletion mark
};

struct Manifest {
    std::string version;  // of the program that wrote it
    std::string date;     // "AAAA-MM-DD HH:MM:SS", local time
    std::string company;  // code
    std::string companyName;
    std::vector<ArchivedFile> files;

    std::string text() const;
    // Throws std::runtime_error when `text` is not a manifest.
    static Manifest parse(const std::string& text);
};

// The code of the company whose folder is `camino`, from the installation's
// company catalogue in the current directory. Throws std::runtime_error.
std::string companyCodeOf(const std::string& camino);

// Told the step and the number of steps; answering false cancels (before
// anything is written in the company or the backup folder).
using Progress = std::function<bool(int done, int total, const std::string& what)>;

struct BackupOptions {
    std::string companyCode;  // "00001"
    std::string companyName;
    int keep = 0;            // archives of the company kept in the folder; 0 keeps all
    int lockWaitMs = 60000;  // for each table's lock, while others are writing
    Progress progress;
};

struct BackupResult {
    std::string archive;  // path written
    Manifest manifest;
    std::vector<std::string> removed;  // older archives the rotation removed
};

// Writes `folder`/<code>-<AAAAMMDD>-<HHMMSS>.zip for the company whose
// folder is `camino` (G_CAMINO, e.g. "EMP00001\"). Throws
// std::runtime_error with the reason; then no archive is left behind.
BackupResult backupCompany(const std::string& camino, const std::string& folder,
                           const BackupOptions& options);

struct RestoreResult {
    Manifest manifest;
};

// Replaces the company's files by those of `archive`, in one step, after
// checking every checksum and every extracted table and bag. Refused
// (std::runtime_error, the company untouched) when the archive is damaged or
// of another company, or when a table of the company is open anywhere.
RestoreResult restoreCompany(const std::string& camino, const std::string& companyCode,
                             const std::string& archive, const Progress& progress = {});

}  // namespace transfer
