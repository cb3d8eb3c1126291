#pragma once
// tests/imageio/sha256_helpers.h: SHA-256 (FIPS 180-4) for comparing decoded pixels with
// published digests. Test code only.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaline::test {

/// The SHA-256 of `size` bytes as 64 lower-case hex digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

} // namespace tessaline::test
