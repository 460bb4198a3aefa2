// The engine's one failure type. It carries what the program's error handler
// shows and logs: the generic code (xBase numbering), the operating-system code,
// the file involved and a Spanish description.
#pragma once

#include <stdexcept>
#include <string>

namespace dbf {

// Generic codes, numbered as xBase programs have always numbered them, so that
// handlers and logs keep their meaning.
enum GenCode : int {
    kErrArg = 1,        // bad argument
    kErrBound = 2,      // out of range
    kErrNoAlias = 15,   // alias not open
    kErrDupAlias = 16,  // alias already in use
    kErrCreate = 20,    // cannot create file
    kErrOpen = 21,      // cannot open file
    kErrClose = 22,
    kErrRead = 23,        // read failure
    kErrWrite = 24,       // write failure
    kErrCorruption = 32,  // damaged file
    kErrDataType = 33,    // wrong type for field
    kErrDataWidth = 34,   // value does not fit field
    kErrNoTable = 35,     // no table in use in the area
    kErrShared = 37,      // operation needs exclusive use
    kErrUnlocked = 38,    // write without lock
    kErrReadonly = 39,    // write on read-only table
    kErrAppendLock = 40,  // append lock failed
    kErrLock = 41,
};

// Operating-system code of a sharing violation (file in use by another user).
inline constexpr int kOsSharingViolation = 32;

class DbfError : public std::runtime_error {
  public:
    DbfError(int gencode, std::string description, std::string filename = {}, int oscode = 0,
             std::string operation = {})
        : std::runtime_error(compose(description, filename)),
          gencode_(gencode),
          oscode_(oscode),
          filename_(std::move(filename)),
          description_(std::move(description)),
          operation_(std::move(operation)) {}

    int gencode() const { return gencode_; }
    int oscode() const { return oscode_; }
    const std::string& filename() const { return filename_; }
    const std::string& description() const { return description_; }
    const std::string& operation() const { return operation_; }
    // True when another user holds the file or record: callers settle this
    // silently through the network-error flag.
    bool sharingViolation() const { return oscode_ == kOsSharingViolation; }

  private:
    static std::string compose(const std::string& d, const std::string& f) {
        return f.empty() ? d : d + " (" + f + ")";
    }
    int gencode_;
    int oscode_;
    std::string filename_;
    std::string description_;
    std::string operation_;
};

}  // namespace dbf
