// One open DBF table and its FPT memo file: header, field descriptors, the
// current record's buffer, typed reads and writes, appends, deletion marks,
// record and file locks, pack and zap, repair of a count left wrong by a crash.
//
// Sharing follows the FoxPro scheme (see locks.h): a shared open re-reads the
// record count from the header at every move and reads each record from the
// file, so that another workstation's committed changes are seen at once; an
// exclusive open may keep records in memory and batch its appends.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbf/error.h"
#include "dbf/observer.h"
#include "xbase/value.h"

namespace dbf {

class MemoFile;

// One entry of a structure list: what a caller gives to create a table and
// what DBSTRUCT answers.
struct FieldDef {
    std::string name;
    char type = 'C';
    int len = 0;
    int dec = 0;
    bool operator==(const FieldDef&) const = default;
};

struct Field {
    std::string name;  // upper case as stored
    char type = 'C';   // C N F D L M I T Y B G P V Q ...
    uint16_t len = 0;  // bytes in the record
    uint8_t dec = 0;
    uint32_t offset = 0;  // inside the record, after the deletion mark
    uint8_t flags = 0;    // VFP: 0x01 system, 0x02 nullable, 0x04 binary
    int nullBit = -1;     // bit in _NullFlags when nullable
    bool isMemo() const { return type == 'M' || type == 'G' || type == 'P' || type == 'W'; }
    bool nullable() const { return nullBit >= 0; }
};

struct OpenOptions {
    bool shared = true;
    bool readOnly = false;
};

struct DateTime {
    int32_t julianDay = 0;  // 0 = empty
    int32_t millis = 0;     // since midnight
};

class Table {
  public:
    // Creates `path` (and the memo file beside it when a field is a memo) as a
    // FoxPro 2.x table: 0x03, or 0xF5 with a memo file of 64-byte blocks, code
    // page Windows-1252. A bad structure is refused with a DbfError naming the
    // field. Replaces an existing file of that name. `whole`: a power cut
    // leaves the file missing or whole (see io::writeNewFile), for tables
    // that are kept; scratch tables skip the sync it costs.
    static void create(const std::string& path, const std::vector<FieldDef>& fields,
                       bool whole = false);
    // Checks a structure as create() does; throws the same errors.
    static std::vector<FieldDef> validateStructure(const std::vector<FieldDef>& fields);

    // Opens an existing table. The name is found whatever its case, with
    // backslashes accepted. A file held by another open in a conflicting mode
    // fails with a DbfError whose oscode is 32 (sharing violation).
    static std::unique_ptr<Table> open(const std::string& path, OpenOptions options = {});
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // --- description
    const std::string& path() const { return path_; }
    std::string memoPath() const;
    uint8_t version() const { return version_; }
    uint8_t codePage() const { return codePage_; }
    bool isVfp() const { return version_ == 0x30 || version_ == 0x31 || version_ == 0x32; }
    bool shared() const { return shared_; }
    bool exclusive() const { return !shared_; }
    bool readOnly() const { return readOnly_; }
    uint32_t headerLength() const { return headerLength_; }
    uint32_t recordLength() const { return recordLength_; }
    // The fields a program sees (VFP's hidden _NullFlags left out).
    const std::vector<Field>& fields() const { return fields_; }
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    // Index of a field by name without regard to case; -1 when absent.
    int fieldIndex(std::string_view name) const;
    std::vector<FieldDef> structure() const;
    bool hasMemo() const { return memo_ != nullptr; }
    MemoFile* memoFile() const { return memo_.get(); }
    // Date of last update in the header (year, month, day).
    void lastUpdate(int& y, int& m, int& d) const;

    // --- records
    // Number of records. A shared open reads it from the header each time.
    uint32_t recCount();
    // Whether record `recno` exists. Records never leave a shared table
    // (pack and zap need exclusive use), so one within the count already
    // known needs no look at the header.
    bool holds(uint32_t recno) { return recno >= 1 && (recno <= count_ || recno <= recCount()); }
    // The count as last read, without touching the file.
    uint32_t knownRecCount() const { return count_; }

    // Loads record `recno` into the buffer (writing back a changed buffer
    // first). Out of range, the buffer becomes the blank phantom record
    // count+1 and the answer is false.
    bool read(uint32_t recno);
    // Reads the current record again from the file (another user may have changed it).
    void reread();
    uint32_t recno() const { return recno_; }
    bool atPhantom() const { return phantom_; }
    const char* buffer() const { return buf_.data(); }
    bool deleted() const { return buf_[0] == '*'; }
    bool dirty() const { return dirty_; }

    // Typed reads of the current record.
    std::string_view raw(int field) const;
    bool isNull(int field) const;
    std::string getString(int field) const;  // C and others as stored
    double getNumber(int field) const;       // N F I Y B
    int32_t getDate(int field) const;        // D (julian day, 0 empty), T (day part)
    bool getLogical(int field) const;
    DateTime getDateTime(int field) const;
    std::string getMemo(int field) const;
    // The field as a value of the language: C, N, D, L, M; I/Y/B as numbers,
    // T as its date, NULL as nil.
    xb::Value value(int field) const;

    // Typed writes into the current record. On a shared table the record must be
    // locked (record lock, file lock, or just appended): otherwise DbfError
    // kErrUnlocked, since an unlocked write is how shared data gets lost.
    void putString(int field, std::string_view s);
    void putNumber(int field, double v);
    void putDate(int field, int32_t julianDay);
    void putLogical(int field, bool v);
    void putDateTime(int field, DateTime dt);
    void putMemo(int field, std::string_view text);
    void putNull(int field);
    void putValue(int field, const xb::Value& v);
    // Raw bytes of a field (copied, padded or cut to the field's length).
    void putRaw(int field, std::string_view bytes);

    void setDeleted(bool deleted);

    // Writes the buffer back when changed. Exclusive opens also push batched
    // appends to the file and bring the header up to date.
    void flush();
    // flush() plus the operating system's buffers to the disk (no sync when
    // this open wrote nothing since the last).
    void commit();
    // Whether this open wrote to the table since its last commit.
    bool unsynced() const { return unsynced_; }
    // commit() of several tables whose writes only have to be on the disk
    // together (no order among them): each one's pages start for the disk
    // before the first wait, so the waits overlap.
    static void commitTogether(const std::vector<Table*>& tables);

    // Appends a blank record and makes it current; on a shared table it comes
    // locked (releasing this open's other record locks unless told not to).
    // When another user holds the header (appending, or a file lock) beyond a
    // short wait, DbfError with oscode 32.
    uint32_t appendBlank(bool releaseOthers = true);

    // --- locks (answer at once; true also on exclusive or read-only opens).
    // Locking the current record, or the file, reads the record again from
    // the file: what another user wrote before the lock is what gets changed.
    bool lockRecord(uint32_t recno, bool releaseOthers);
    // Locks the listed records, keeping the others held: each run of
    // consecutive ones in one call. False when some run is held by another
    // user (the rest are still taken).
    bool lockRecords(const std::vector<uint32_t>& recnos);
    bool lockFile();
    void unlockRecord(uint32_t recno);
    void unlockAll();
    bool isLocked(uint32_t recno) const;
    // Another open holds the record (or the whole file) locked: it may be
    // halfway through a change of the record and of its keys.
    bool lockedByOther(uint32_t recno) const;
    bool fileLocked() const { return fileLocked_; }
    bool headerLocked() const { return headerLocked_; }
    std::vector<uint32_t> lockList() const { return {recLocks_.begin(), recLocks_.end()}; }
    // The header lock ("record 0"), for the index layer and appends; tries for
    // up to `waitMs` milliseconds.
    bool lockHeader(int waitMs = 0);
    void unlockHeader();

    // --- bulk (exclusive use only; DbfError kErrShared otherwise)
    void pack();
    void zap();

    // --- index hooks
    void addObserver(TableObserver* o);
    void removeObserver(TableObserver* o);

    // After a writer died (killed, or a power cut) in the middle of a change:
    // records appended but cut in half by the power at the end of the file
    // are taken off, and the memo file's next free block is moved past every
    // memo a record points at. Needs the header lock (false when another
    // user holds it).
    bool mendAfterInterruption();

    // --- vdrtool check: every fault found, in Spanish; empty when sound.
    std::vector<std::string> check();

    // Which fields the engine can write as well as read.
    static bool knownType(char t);

  private:
    Table() = default;
    void openFile(const std::string& path, OpenOptions options);
    // The header read at open; answers the file's size, as seen just before.
    uint64_t parseHeader();
    // The count put right against the file's `size` (read at open).
    void repairCount(uint64_t size);
    std::string packJournalPath() const;
    // True when a pack journal was found and dealt with.
    bool recoverPack();
    void applyPackJournal(int journalFd, uint32_t records);
    void blankRecord(char* dst) const;
    // `fresh`: from the file even within a read batch (a record just locked).
    void loadRecord(uint32_t recno, char* dst, bool fresh = false);
    bool batchSeen(uint64_t batch);
    bool readWindow(uint32_t recno, uint32_t onDisk, char* dst);
    void readOne(uint32_t recno, char* dst);
    void forgetSeen(uint32_t recno = 0);  // 0: every record kept
    const char* mapped(uint64_t end);     // the file's mapping when it holds [0, end)
    void dropMap();
    void storeRecord(uint32_t recno, const char* src);
    uint32_t readHeaderCount();
    void writeHeaderCount(uint32_t count);
    void flushTail();
    void refreshLocked();
    void beginWrite(int field);
    void markDirty();
    char* fieldPtr(int field) { return buf_.data() + 1 + fields_[field].offset; }
    const char* fieldPtr(int field) const { return buf_.data() + 1 + fields_[field].offset; }
    void setNullBit(int field, bool isNull);
    uint32_t memoBlock(int field) const;
    void setMemoBlock(int field, uint32_t block);
    [[noreturn]] void fail(int gencode, const std::string& what, int oscode = 0) const;

    std::string path_;
    int fd_ = -1;
    bool shared_ = true;
    bool readOnly_ = false;
    uint8_t version_ = 0x03;
    uint8_t codePage_ = 0x03;
    uint32_t headerLength_ = 0;
    uint32_t recordLength_ = 0;
    uint32_t count_ = 0;
    std::vector<Field> fields_;
    int nullFlagsOffset_ = -1;  // offset of _NullFlags inside the record (after the mark)
    int nullFlagsLen_ = 0;
    std::unique_ptr<MemoFile> memo_;

    std::vector<char> buf_;
    uint32_t recno_ = 0;
    bool phantom_ = true;
    bool dirty_ = false;
    bool changeAnnounced_ = false;
    bool unsynced_ = false;     // this open wrote to the file since its last sync
    bool emptyOnDisk_ = false;  // exclusive: emptied by zap() and not written since

    std::set<uint32_t> recLocks_;
    bool fileLocked_ = false;
    bool headerLocked_ = false;
    bool lockPending(uint32_t recno) const;
    static int64_t runStart(uint32_t first, uint32_t n);
    void releaseRecordLocks(uint32_t keep);
    void heldNow(uint32_t recno);
    void lockTail();
    std::vector<TableObserver*> observers_;

    // Exclusive opens only: a window of records read ahead, and appended records
    // not yet written (records tailFirst_ .. count_).
    std::vector<char> window_;
    uint32_t windowFirst_ = 0;
    uint32_t windowCount_ = 0;
    std::vector<char> tail_;
    uint32_t tailFirst_ = 0;
    uint32_t lastRead_ = 0;  // record loaded last, to tell a walk forward
    // Shared opens: the records read during the running read batch (see
    // loadRecord), good while neither the batch nor any write of this
    // process changes.
    std::unordered_map<uint32_t, std::string> seen_;
    uint64_t seenBatch_ = 0, seenWrites_ = 0;
    uint64_t countBatch_ = 0, countWrites_ = 0;  // the count read in that batch
    const char* map_ = nullptr;
    uint64_t mapLen_ = 0;    // mapped bytes
    uint64_t mapValid_ = 0;  // of which the file is known to hold
    bool mapFailed_ = false;
};

}  // namespace dbf
