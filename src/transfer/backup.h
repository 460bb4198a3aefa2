// Backup and restore of a company: one zip archive with every table, memo
// and bag of the company and a manifest, taken as one consistent snapshot
// while other workstations keep working; restored only whole and checked.
// The same for the whole installation: its own files (catalogues, menu,
// report registry and scripts, workstation folders) and every company of
// the catalogue, each taken as the company's backup takes it.
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
    struct Company {
        std::string code, folder, name;  // folder: relative to the installation
    };
    bool installation = false;  // the whole installation, not one company
    std::string version;        // of the program that wrote it
    std::string date;           // "AAAA-MM-DD HH:MM:SS", local time
    std::string company;        // code (one company's archive)
    std::string companyName;
    std::vector<Company> companies;  // an installation's: each under its folder
    std::vector<ArchivedFile> files;

    std::string text() const;
    // Throws std::runtime_error when `text` is not a manifest.
    static Manifest parse(const std::string& text);
};

// The manifest of `archive`, read without checking the rest of it (for
// telling one kind of archive from the other). Throws std::runtime_error.
Manifest readManifest(const std::string& archive);

// The prefix of the installation's archives: "instalacion-<AAAAMMDD>-<HHMMSS>.zip".
inline constexpr const char* kInstallationArchive = "instalacion";

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
    std::vector<std::string> notes;    // files left out, and why
};

// Writes `folder`/<code>-<AAAAMMDD>-<HHMMSS>.zip for the company whose
// folder is `camino` (G_CAMINO, e.g. "EMP00001\"). Throws
// std::runtime_error with the reason; then no archive is left behind.
BackupResult backupCompany(const std::string& camino, const std::string& folder,
                           const BackupOptions& options);

// Writes `folder`/instalacion-<AAAAMMDD>-<HHMMSS>.zip for the installation
// in the current directory: its own files, then each company of the
// catalogue under its folder's name, one after the other, each as one
// consistent snapshot. Lock files, temporary files and the folder of the
// copies are left out. `options` gives keep, lockWaitMs and progress.
// Throws std::runtime_error with the reason; then no archive is left.
BackupResult backupInstallation(const std::string& folder, const BackupOptions& options);

struct RestoreResult {
    Manifest manifest;
};

// Replaces the company's files by those of `archive`, in one step, after
// checking every checksum and every extracted table and bag. Refused
// (std::runtime_error, the company untouched) when the archive is damaged or
// of another company, or when a table of the company is open anywhere.
RestoreResult restoreCompany(const std::string& camino, const std::string& companyCode,
                             const std::string& archive, const Progress& progress = {});

// Makes `target` the installation of the installation archive `archive`,
// after checking every checksum and every extracted table: `target` is a
// new or empty folder, or an installation none of whose companies is in use
// (each one's EnUso.lck and every table taken exclusively) and none of
// whose shared tables is open; it is exchanged whole for the restored one,
// in one step. Refused (std::runtime_error, `target` untouched) otherwise.
// What `target` holds that the archive does not stays.
RestoreResult restoreInstallation(const std::string& target, const std::string& archive,
                                  const Progress& progress = {});

}  // namespace transfer
