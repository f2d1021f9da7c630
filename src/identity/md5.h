#pragma once
// MD5 message digest (RFC 1321), used to derive the machine identity.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnix {

using Md5Digest = std::array<std::uint8_t, 16>;

// The 16-byte digest of `size` bytes at `data` (data may be null when size is 0).
Md5Digest Md5(const void* data, std::size_t size);

// The digest of a byte string; zero bytes inside count like any other byte.
Md5Digest Md5(std::string_view bytes);

}  // namespace tarnix
