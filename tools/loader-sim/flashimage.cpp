#include "flashimage.h"

#include "simerror.h"

#include <array>
#include <fstream>
#include <iterator>

namespace {

// splitmix64: tiny, well mixed, and the same on every platform.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr std::array<unsigned char, 8> blockPrefix = {0x00, 0x11, 0x13, 0x1A,
                                                      0xFF, 0x0D, 0x0A, 0x1F};

} // namespace

FlashImage::FlashImage(std::string bytes) : m_bytes(std::move(bytes)), m_erased(BlockSize, '\xff') {
    m_bytes.resize(Size, '\xff');
}

FlashImage FlashImage::fromSeed(std::uint64_t seed) {
    std::string bytes(Size, '\0');
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < Size; i += 8) {
        std::uint64_t value = nextRandom(state);
        for (std::size_t j = 0; j < 8; ++j, value >>= 8) {
            bytes[i + j] = static_cast<char>(value & 0xFF);
        }
    }
    for (std::size_t block = 0; block < Size; block += BlockSize) {
        for (std::size_t j = 0; j < blockPrefix.size(); ++j) {
            bytes[block + j] = static_cast<char>(blockPrefix[j]);
        }
    }
    for (std::size_t value = 0; value < 256; ++value) {
        bytes[blockPrefix.size() + value] = static_cast<char>(value);
    }
    return FlashImage(std::move(bytes));
}

FlashImage FlashImage::fromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw SimError(SimError::Kind::Usage, "cannot read the image file " + path);
    }
    std::string bytes(std::istreambuf_iterator<char>(file), {});
    if (bytes.size() > Size) {
        throw SimError(SimError::Kind::Usage, "the image file " + path + " is longer than 2 MiB");
    }
    return FlashImage(std::move(bytes));
}

void FlashImage::save(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
    file.close();
    if (!file) {
        throw SimError(SimError::Kind::System, "cannot write the image file " + path);
    }
}

std::string_view FlashImage::block(long long n) const {
    if (n < 0 || n >= BlockCount) {
        return m_erased;
    }
    return std::string_view(m_bytes).substr(static_cast<std::size_t>(n) * BlockSize, BlockSize);
}
