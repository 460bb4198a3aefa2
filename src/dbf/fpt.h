// The FPT memo file beside a table: 512-byte header (next free block, block
// size, big-endian) and memos in whole consecutive blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbf {

class MemoFile {
  public:
    static constexpr uint32_t kHeaderSize = 512;
    static constexpr uint32_t kDefaultBlockSize = 64;

    // Writes an empty memo file (replacing any file of that name); `whole` as
    // Table::create.
    static void create(const std::string& path, uint32_t blockSize = kDefaultBlockSize,
                       bool whole = false);

    // Opens an existing memo file; throws DbfError naming it when it is missing,
    // unreadable or its header is damaged. `exclusive` spares the allocation lock.
    MemoFile(const std::string& path, bool readOnly, bool exclusive);
    // Takes `fd`, opened on `path` (a negative one fails with its errno).
    MemoFile(int fd, const std::string& path, bool readOnly, bool exclusive);
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

    const std::string& path() const { return path_; }
    uint32_t blockSize() const { return blockSize_; }

    // The memo stored at `block` (0 = none, empty text). A block or length that
    // points outside the file is a DbfError naming the file.
    std::string read(uint32_t block) const;

    // Stores `data` and answers its block (0 for an empty text). The text of
    // `oldBlock` unchanged keeps its block; otherwise new blocks are taken at
    // the end, under the memo file's header lock when the table is shared
    // (never the old ones: a power cut must leave the committed text whole).
    uint32_t write(uint32_t oldBlock, std::string_view data);

    // The block after the memo stored at `block` (0 when none or unreadable).
    uint32_t endOf(uint32_t block) const;
    // Moves the header's next free block to `end` when it says less, so that
    // no block before it is handed out again.
    void reserveTo(uint32_t end);

    // Next free block as the header says now.
    uint32_t nextFree() const;
    uint64_t fileSize() const;
    // The file's size when it may matter: asked again only when `end` lies
    // past the size last seen.
    uint64_t sizeReaching(uint64_t end) const;

    // Back to an empty memo file (zap).
    void clear();

    // An exclusive open keeps the header's next free block in memory; this
    // writes it. The table calls it before writing records, so that no record
    // on disk points at blocks the header still counts as free.
    void flushHeader();

    // Writes the header's next free block and waits for the memo file's data to
    // reach the disk, when this open wrote since the last sync: a record must
    // not reach the disk pointing at memo blocks a power cut could still lose,
    // nor beyond the header's next free block.
    void sync();

    // Checks one memo pointer for `vdrtool check`; empty string when sound,
    // else what is wrong.
    std::string checkBlock(uint32_t block) const;

  private:
    uint32_t blocksFor(uint64_t dataLength) const;
    bool sameText(uint32_t block, std::string_view data) const;
    void readHeader();
    void writeNextFree(uint32_t next);  // kept in memory when exclusive
    void storeNextFree(uint32_t next);  // to the file now
    void grewTo(uint64_t end);

    std::string path_;
    int fd_ = -1;
    bool readOnly_;
    bool exclusive_;
    uint32_t blockSize_ = kDefaultBlockSize;
    // Exclusive opens only: what this open alone changes, known without asking.
    mutable uint64_t size_ = 0;
    mutable bool sizeKnown_ = false;
    mutable uint32_t next_ = 0;
    mutable bool nextKnown_ = false;
    mutable uint64_t reached_ = 0;  // the file was at least this long

    bool headerPending_ = false;
    bool unsynced_ = false;  // written since the last sync
    bool cleared_ = false;   // exclusive: emptied by clear() and not written since
};

}  // namespace dbf
