#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The decoder's 2 MiB flash as the simulated loader serves it: 2048 blocks of 1024 bytes.
class FlashImage {
public:
    static constexpr std::size_t BlockSize = 1024;
    static constexpr long long BlockCount = 2048;
    static constexpr std::size_t Size = BlockSize * BlockCount;

    // A deterministic image. Every block begins with bytes that a careless serial path loses or
    // translates (NUL, XON, XOFF, Ctrl-Z, 0xFF, CR, LF, 31); block 0 then holds 0..255 in order,
    // so that every byte value occurs.
    static FlashImage fromSeed(std::uint64_t seed);
    // The bytes of a file, padded with 0xFF to 2 MiB. Throws SimError for a missing or too long
    // file.
    static FlashImage fromFile(const std::string& path);

    void save(const std::string& path) const;

    // Block n; blocks outside 0..2047 read as erased flash (all 0xFF).
    std::string_view block(long long n) const;

private:
    explicit FlashImage(std::string bytes);

    std::string m_bytes;
    std::string m_erased;
};
