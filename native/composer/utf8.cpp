#include "composer/utf8.hpp"

namespace zelk::composer {
namespace {

// Length of the well-formed sequence at `i`, or 0 with `bad` set to the length of the
// maximal subpart to replace (at least 1).
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t& bad) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    bad = 1;
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 == 0xE0) {
        need = 2;
        lo = 0xA0;
    } else if (b0 >= 0xE1 && b0 <= 0xEC) {
        need = 2;
    } else if (b0 == 0xED) {
        need = 2;
        hi = 0x9F;
    } else if (b0 >= 0xEE && b0 <= 0xEF) {
        need = 2;
    } else if (b0 == 0xF0) {
        need = 3;
        lo = 0x90;
    } else if (b0 >= 0xF1 && b0 <= 0xF3) {
        need = 3;
    } else if (b0 == 0xF4) {
        need = 3;
        hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) {
            bad = k;
            return 0;
        }
        const unsigned char b = byte(i + k);
        const unsigned char first_lo = k == 1 ? lo : 0x80;
        const unsigned char first_hi = k == 1 ? hi : 0xBF;
        if (b < first_lo || b > first_hi) {
            bad = k;
            return 0;
        }
    }
    return need + 1;
}

}  // namespace

std::optional<std::size_t> utf8_first_invalid(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t bad = 0;
        const std::size_t n = sequence_length(bytes, i, bad);
        if (n == 0) {
            return i;
        }
        i += n;
    }
    return std::nullopt;
}

std::string utf8_lossy(std::string_view bytes) {
    if (!utf8_first_invalid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t bad = 0;
        const std::size_t n = sequence_length(bytes, i, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string path_display(const std::filesystem::path& path) {
    return utf8_lossy(path.native());
}

}  // namespace zelk::composer
