#pragma once
// tests/png_chunk_writer.h: the one chunk writer of the tests that hand-make PNG files (hostile,
// truncated or oversized ones that libpng would refuse to write).

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaline::test {

inline void AppendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

/// Appends one chunk (length, type, data, CRC) with its true CRC, or `crc` when it is 0 or more.
inline void AppendChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size,
                        std::int64_t crc = -1)
{
    AppendBigEndian32(out, static_cast<std::uint32_t>(size));
    const std::size_t start = out.size();
    out.reserve(out.size() + size + 8);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(type[i]));
    for (std::size_t i = 0; i < size; ++i)
        out.push_back(data[i]);
    const auto trueCrc =
        static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start)));
    AppendBigEndian32(out, crc >= 0 ? static_cast<std::uint32_t>(crc) : trueCrc);
}

} // namespace tessaline::test
