#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZELKUtil {

// SHA-256 as FIPS 180-4 defines it, fed in pieces of any size. What the history records of every
// image written into a box, so that an audit can tell which file went in.
class Sha256 {
  public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(std::string_view bytes);
    // The digest of everything fed so far; the hash then starts afresh.
    Digest Finish();

  private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> block_{};
    std::size_t filled_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// The digest as 64 lower-case hexadecimal digits.
std::string HexOf(const Sha256::Digest& digest);
// The SHA-256 of the bytes, in hexadecimal.
std::string Sha256Hex(std::string_view bytes);

}  // namespace ZELKUtil
