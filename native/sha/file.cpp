#include "sha/file.hpp"

#include <cstdint>

namespace zelk::sha {

std::string ShaError::display() const {
    return "text-file bytes are not valid UTF-8; encode the source as UTF-8 before hashing";
}

bool is_valid_utf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Skip ASCII eight bytes at a time: templates are mostly ASCII.
        while (end - p >= 8) {
            std::uint64_t word;
            __builtin_memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            p += 8;
        }
        if (p == end) {
            break;
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0) {
                low = 0xa0;  // overlong
            } else if (lead == 0xed) {
                high = 0x9f;  // surrogates
            }
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            if (lead == 0xf0) {
                low = 0x90;  // overlong
            } else if (lead == 0xf4) {
                high = 0x8f;  // above U+10FFFF
            }
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < length) {
            return false;
        }
        if (p[1] < low || p[1] > high) {
            return false;
        }
        for (std::size_t i = 2; i < length; ++i) {
            if ((p[i] & 0xc0) != 0x80) {
                return false;
            }
        }
        p += length;
    }
    return true;
}

std::expected<CompositionSha256, ShaError> calculate_hash(std::string_view bytes) {
    if (!is_valid_utf8(bytes)) {
        return std::unexpected(ShaError{});
    }
    // Stream the normalised text in runs between carriage returns instead of copying the file.
    Sha256Hasher hasher;
    std::size_t start = 0;
    while (true) {
        const std::size_t cr = bytes.find('\r', start);
        if (cr == std::string_view::npos) {
            hasher.update(bytes.substr(start));
            break;
        }
        hasher.update(bytes.substr(start, cr - start));
        // A CR before an LF is dropped (the LF stands for the pair); a lone CR becomes an LF.
        if (cr + 1 == bytes.size() || bytes[cr + 1] != '\n') {
            hasher.update("\n");
        }
        start = cr + 1;
    }
    return hasher.finish();
}

}  // namespace zelk::sha
