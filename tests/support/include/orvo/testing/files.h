// Reading and writing whole files in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::testing {

// The bytes of a file; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);
// The same as text.
std::string ReadText(const std::string& path);
// Replaces a file's content (creating it).
void WriteText(const std::string& path, const std::string& text);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// The names in a directory, sorted; empty when it cannot be read.
std::vector<std::string> DirEntries(const std::string& dir);
// True when something (even a dangling link) has this name.
bool Exists(const std::string& path);

// Little-endian numbers inside a byte string.
inline uint32_t Le16(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<uint32_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
    return Le16(b, at) | (Le16(b, at + 2) << 16);
}

}  // namespace orvo::testing
