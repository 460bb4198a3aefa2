#include "transfer/zip.h"

#include <zlib.h>

#include <ctime>
#include <stdexcept>

#include "transfer/sha256.h"

namespace transfer {

namespace {

const std::string kSeal = "sha256:";

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}
uint32_t get16(const std::string& s, size_t at) {
    if (at + 2 > s.size()) throw std::runtime_error("el archivo está cortado");
    return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}
uint32_t get32(const std::string& s, size_t at) {
    return get16(s, at) | (get16(s, at + 2) << 16);
}

std::string deflateRaw(const std::string& in) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("no se pudo comprimir");
    std::string out(deflateBound(&z, static_cast<uLong>(in.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("no se pudo comprimir");
    return out;
}

std::string inflateRaw(const std::string& in, size_t expected, const std::string& name) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("no se pudo descomprimir");
    std::string out(expected, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    // A spare byte shows data beyond the declared size.
    char spare = 0;
    int rc = inflate(&z, Z_FINISH);
    if (rc == Z_BUF_ERROR && z.avail_out == 0 && z.avail_in > 0) {
        z.next_out = reinterpret_cast<Bytef*>(&spare);
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
    }
    const bool ok = rc == Z_STREAM_END && z.total_out == expected;
    inflateEnd(&z);
    if (!ok) throw std::runtime_error("los datos comprimidos de " + name + " están dañados");
    return out;
}

void dosTime(int64_t when, uint32_t& time, uint32_t& date) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80)
        tm = std::tm{.tm_sec = 0,
                     .tm_min = 0,
                     .tm_hour = 0,
                     .tm_mday = 1,
                     .tm_mon = 0,
                     .tm_year = 80,
                     .tm_wday = 0,
                     .tm_yday = 0,
                     .tm_isdst = 0,
                     .tm_gmtoff = 0,
                     .tm_zone = nullptr};
    time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    date = static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

}  // namespace

std::string makeZip(const std::vector<ZipEntry>& entries, int64_t when) {
    uint32_t time = 0, date = 0;
    dosTime(when, time, date);
    std::string out, central;
    for (const ZipEntry& e : entries) {
        if (e.data.size() >= 0xffffffffULL || out.size() >= 0xffffffffULL)
            throw std::runtime_error("el archivo " + e.name + " es demasiado grande para la copia");
        const uint32_t crc = static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const std::string packed = deflateRaw(e.data);
        const uint32_t offset = static_cast<uint32_t>(out.size());
        auto header = [&](std::string& s, bool inCentral) {
            put32(s, inCentral ? 0x02014b50 : 0x04034b50);
            if (inCentral) put16(s, 20);  // made by
            put16(s, 20);                 // needed to extract
            put16(s, 0);                  // flags
            put16(s, 8);                  // deflate
            put16(s, time);
            put16(s, date);
            put32(s, crc);
            put32(s, static_cast<uint32_t>(packed.size()));
            put32(s, static_cast<uint32_t>(e.data.size()));
            put16(s, static_cast<uint32_t>(e.name.size()));
            put16(s, 0);  // extra
            if (inCentral) {
                put16(s, 0);  // comment
                put16(s, 0);  // disk
                put16(s, 0);  // internal attributes
                put32(s, 0);  // external attributes
                put32(s, offset);
            }
            s += e.name;
        };
        header(out, false);
        out += packed;
        header(central, true);
    }
    const uint32_t at = static_cast<uint32_t>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(entries.size()));
    put16(out, static_cast<uint32_t>(entries.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, at);
    // The archive's own seal as its comment: a checksum of every byte before
    // it, so that no byte of the archive can change unnoticed (headers
    // included, which the entries' CRCs do not cover).
    const std::string seal = kSeal + sha256Hex(out + std::string(2, '\0'));
    put16(out, static_cast<uint32_t>(seal.size()));
    out += seal;
    return out;
}

std::vector<ZipEntry> readZip(const std::string& a, bool sealRequired) {
    // The end record sits at the end, before a comment of up to 64 KiB.
    size_t end = std::string::npos;
    for (size_t i = a.size() >= 22 ? a.size() - 22 : 0; a.size() >= 22; --i) {
        if (get32(a, i) == 0x06054b50) {
            end = i;
            break;
        }
        if (i == 0 || a.size() - i > 22 + 0xffff) break;
    }
    if (end == std::string::npos) throw std::runtime_error("no es un archivo zip o está cortado");
    const uint32_t commentLen = get16(a, end + 20);
    if (end + 22 + commentLen != a.size())
        throw std::runtime_error("el final del archivo zip está dañado");
    const std::string seal = a.substr(end + 22);
    if (seal.rfind(kSeal, 0) == 0) {
        std::string before = a.substr(0, end + 20) + std::string(2, '\0');
        if (seal.substr(kSeal.size()) != sha256Hex(before))
            throw std::runtime_error("la suma de control del archivo no coincide: está dañado");
    } else if (sealRequired) {
        throw std::runtime_error("el archivo no lleva la suma de control de las copias");
    }
    const uint32_t count = get16(a, end + 10);
    const uint32_t size = get32(a, end + 12);
    size_t p = get32(a, end + 16);
    if (p + size != end) throw std::runtime_error("el directorio del archivo zip está dañado");
    std::vector<ZipEntry> out;
    for (uint32_t n = 0; n < count; ++n) {
        if (get32(a, p) != 0x02014b50)
            throw std::runtime_error("el directorio del archivo zip está dañado");
        const uint32_t method = get16(a, p + 10);
        const uint32_t crc = get32(a, p + 16);
        const uint32_t packedSize = get32(a, p + 20);
        const uint32_t plainSize = get32(a, p + 24);
        const uint32_t nameLen = get16(a, p + 28), extra = get16(a, p + 30),
                       comment = get16(a, p + 32);
        const uint32_t local = get32(a, p + 42);
        if (p + 46 + nameLen > end)
            throw std::runtime_error("el directorio del archivo zip está dañado");
        ZipEntry e;
        e.name = a.substr(p + 46, nameLen);
        p += 46 + nameLen + extra + comment;
        // With a data descriptor (flag bit 3), as office suites write
        // their workbooks, the local header leaves the CRC to the directory.
        const bool described = (get16(a, local + 6) & 8) != 0;
        if (get32(a, local) != 0x04034b50 || get16(a, local + 8) != method ||
            (!described && get32(a, local + 14) != crc) || get16(a, local + 26) != nameLen ||
            a.compare(local + 30, nameLen, e.name) != 0)
            throw std::runtime_error("la cabecera de " + e.name + " en el archivo zip está dañada");
        const size_t data = local + 30 + nameLen + get16(a, local + 28);
        if (data + packedSize > a.size()) throw std::runtime_error("el archivo está cortado");
        const std::string packed = a.substr(data, packedSize);
        if (method == 8)
            e.data = inflateRaw(packed, plainSize, e.name);
        else if (method == 0 && packedSize == plainSize)
            e.data = packed;
        else
            throw std::runtime_error("el archivo zip usa un método de compresión desconocido");
        const uint32_t actual = static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        if (actual != crc)
            throw std::runtime_error("la suma de control (CRC) de " + e.name + " no coincide");
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace transfer
