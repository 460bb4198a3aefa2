// Arbitrary bytes opened as a compound index bag: every tag is walked both
// ways, sought, checked and changed. Damage must come out as DbfError.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "dbf/cdx.h"
#include "dbf/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string path = [] {
        char tmpl[] = "/tmp/fuzzcdxXXXXXX";
        int fd = ::mkstemp(tmpl);
        if (fd >= 0) ::close(fd);
        return std::string(tmpl);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        auto bag = dbf::CdxBag::open(path, true, false);
        int budget = 0;
        for (dbf::CdxTag* t : bag->tags()) {
            for (auto p = t->first(); p.valid && budget < 5000; p = t->next(p)) ++budget;
            for (auto p = t->last(); p.valid && budget < 10000; p = t->prev(p)) ++budget;
            t->seekFirst("A");
            t->seekLast("M");
            t->checkStructure();
            if (size % 3 == 0) {
                t->insert("KEY", 7);
                t->remove("KEY", 7);
                t->setKeyType(dbf::cdxkey::Type::Numeric);
                t->seekFirst(dbf::cdxkey::fromNumber(1));
            }
        }
        if (size % 5 == 0)
            bag->buildTag("NUEVA", "X", "", true, dbf::cdxkey::Type::Character, 4,
                          {{"B", 1}, {"A", 2}});
    } catch (const dbf::DbfError&) {
    }
    return 0;
}
