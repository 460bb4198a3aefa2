// Arbitrary bytes opened as a table and its memo file: the engine must answer
// with a DbfError or work, never crash or trip a sanitizer. The input is the
// table's length (2 bytes, little-endian), the table's bytes, then the memo
// file's bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "dbf/report.h"
#include "dbf/table.h"

namespace {

const std::string& scratch() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/fuzzdbf-XXXXXX";
        char* p = ::mkdtemp(tmpl);
        return std::string(p ? p : "/tmp");
    }();
    return dir;
}

void put(const std::string& path, const uint8_t* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

void readEverything(dbf::Table& t) {
    uint32_t n = t.recCount();
    if (n > 300) n = 300;
    for (uint32_t r = 0; r <= n + 1; ++r) {
        try {
            t.read(r);
            for (int f = 0; f < t.fieldCount(); ++f) {
                (void)t.value(f);
                (void)dbf::fieldText(t, f);
            }
            (void)t.deleted();
        } catch (const dbf::DbfError&) {
        }
    }
    try {
        (void)t.check();
    } catch (const dbf::DbfError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t n = data[0] | (size_t(data[1]) << 8);
    data += 2;
    size -= 2;
    if (n > size) n = size;
    std::string dbfPath = scratch() + "/f.dbf";
    std::string fptPath = scratch() + "/f.fpt";
    put(dbfPath, data, n);
    put(fptPath, data + n, size - n);
    try {
        auto t = dbf::Table::open(dbfPath, {true, true});
        readEverything(*t);
    } catch (const dbf::DbfError&) {
    }
    // Writing on top of what was read: repair, appends, field writes, pack.
    try {
        auto t = dbf::Table::open(dbfPath, {false, false});
        t->appendBlank();
        for (int f = 0; f < t->fieldCount(); ++f) {
            try {
                const dbf::Field& fd = t->fields()[static_cast<size_t>(f)];
                switch (fd.type) {
                    case 'N':
                    case 'F':
                    case 'I':
                    case 'Y':
                    case 'B':
                        t->putNumber(f, -12345.678);
                        break;
                    case 'D':
                    case 'T':
                        t->putDate(f, 2451545);
                        break;
                    case 'L':
                        t->putLogical(f, true);
                        break;
                    case 'M':
                        t->putMemo(f, "texto de prueba");
                        break;
                    default:
                        t->putString(f, "abc");
                        break;
                }
            } catch (const dbf::DbfError&) {
            }
        }
        t->read(1);
        t->setDeleted(true);
        t->pack();
        readEverything(*t);
    } catch (const dbf::DbfError&) {
    }
    return 0;
}
