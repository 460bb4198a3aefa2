// SHA-256 of a block of bytes, as lower-case hexadecimal: the checksum the
// archives' manifests carry per file.
#pragma once

#include <string>
#include <string_view>

namespace transfer {

std::string sha256Hex(std::string_view bytes);

}  // namespace transfer
