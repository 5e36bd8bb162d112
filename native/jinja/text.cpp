#include "jinja/text.hpp"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace zelk::jinja::text {

char32_t next_code_point(std::string_view s, std::size_t& pos) noexcept {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    if (pos + extra >= s.size()) {
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += extra + 1;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::vector<char32_t> code_points(std::string_view s) {
    std::vector<char32_t> cps;
    cps.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        cps.push_back(next_code_point(s, pos));
    }
    return cps;
}

std::size_t length(std::string_view s) noexcept {
    std::size_t n = 0;
    for (char c : s) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++n;
        }
    }
    return n;
}

bool is_space(char32_t cp) noexcept {
    switch (cp) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x1C:
        case 0x1D:
        case 0x1E:
        case 0x1F:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

bool is_printable(char32_t cp) noexcept {
    if (cp == ' ') {
        return true;
    }
    if (cp < 0x20 || cp == 0x7F) {
        return false;
    }
    if (cp < 0x7F) {
        return true;
    }
    switch (u_charType(static_cast<UChar32>(cp))) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SPACE_SEPARATOR:
            return false;
        default:
            return true;
    }
}

std::string_view strip(std::string_view s, bool left, bool right) noexcept {
    std::size_t begin = 0;
    std::size_t end = s.size();
    if (left) {
        while (begin < end) {
            std::size_t p = begin;
            if (!is_space(next_code_point(s, p))) {
                break;
            }
            begin = p;
        }
    }
    if (right) {
        while (end > begin) {
            std::size_t start = end - 1;
            while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
                --start;
            }
            std::size_t p = start;
            if (!is_space(next_code_point(s, p))) {
                break;
            }
            end = start;
        }
    }
    return s.substr(begin, end - begin);
}

std::string strip_chars(std::string_view s, std::string_view chars, bool left, bool right) {
    const auto set = code_points(chars);
    auto cps = code_points(s);
    auto in_set = [&](char32_t c) {
        for (char32_t x : set) {
            if (x == c) {
                return true;
            }
        }
        return false;
    };
    std::size_t begin = 0;
    std::size_t end = cps.size();
    while (left && begin < end && in_set(cps[begin])) {
        ++begin;
    }
    while (right && end > begin && in_set(cps[end - 1])) {
        --end;
    }
    std::string out;
    for (std::size_t i = begin; i < end; ++i) {
        append_utf8(out, cps[i]);
    }
    return out;
}

void write_float_repr(std::string& out, double f) {
    if (std::isnan(f)) {
        out += "nan";
        return;
    }
    if (std::isinf(f)) {
        out += f < 0 ? "-inf" : "inf";
        return;
    }
    // Shortest round-trip digits, then laid out the way Python's repr does.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    bool negative = false;
    if (!sci.empty() && sci[0] == '-') {
        negative = true;
        sci.remove_prefix(1);
    }
    const auto epos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, epos)) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    int exp = 0;
    std::from_chars(sci.data() + epos + 1 + (sci[epos + 1] == '+' ? 1 : 0), sci.data() + sci.size(), exp);
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
    if (negative) {
        out.push_back('-');
    }
    const int n = static_cast<int>(digits.size());
    if (exp < -4 || exp >= 16) {
        out.push_back(digits[0]);
        if (n > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out.push_back('e');
        out.push_back(exp < 0 ? '-' : '+');
        const int a = exp < 0 ? -exp : exp;
        if (a < 10) {
            out.push_back('0');
        }
        out += std::to_string(a);
    } else if (exp < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exp - 1), '0');
        out += digits;
    } else if (exp + 1 >= n) {
        out += digits;
        out.append(static_cast<std::size_t>(exp + 1 - n), '0');
        out += ".0";
    } else {
        out.append(digits, 0, static_cast<std::size_t>(exp + 1));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(exp + 1));
    }
}

void write_string_repr(std::string& out, std::string_view s) {
    const bool has_single = s.find('\'') != std::string_view::npos;
    const bool has_double = s.find('"') != std::string_view::npos;
    const char quote = has_single && !has_double ? '"' : '\'';
    out.push_back(quote);
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = next_code_point(s, pos);
        if (cp == static_cast<char32_t>(quote) || cp == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(cp));
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (is_printable(cp)) {
            append_utf8(out, cp);
        } else {
            char buf[16];
            if (cp < 0x100) {
                std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
            } else if (cp < 0x10000) {
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
            } else {
                std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(cp));
            }
            out += buf;
        }
    }
    out.push_back(quote);
}

namespace {

std::string from_unicode(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

icu::UnicodeString to_unicode(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

// Full case mapping of one code point (Python maps "ß".upper() to "SS").
void append_mapped(std::string& out, char32_t cp, bool to_upper, bool to_title = false) {
    icu::UnicodeString u(static_cast<UChar32>(cp));
    if (to_title) {
        append_utf8(out, static_cast<char32_t>(u_totitle(static_cast<UChar32>(cp))));
        return;
    }
    if (to_upper) {
        u.toUpper(icu::Locale::getRoot());
    } else {
        u.toLower(icu::Locale::getRoot());
    }
    out += from_unicode(u);
}

}  // namespace

std::string upper(std::string_view s) {
    bool ascii = true;
    for (char c : s) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        std::string out(s);
        for (char& c : out) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 32);
            }
        }
        return out;
    }
    auto u = to_unicode(s);
    u.toUpper(icu::Locale::getRoot());
    return from_unicode(u);
}

std::string lower(std::string_view s) {
    bool ascii = true;
    for (char c : s) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        std::string out(s);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c + 32);
            }
        }
        return out;
    }
    auto u = to_unicode(s);
    u.toLower(icu::Locale::getRoot());
    return from_unicode(u);
}

bool is_cased_cp(char32_t cp) noexcept {
    return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_CASED);
}
bool is_titlecase_cp(char32_t cp) noexcept {
    return u_istitle(static_cast<UChar32>(cp));
}
bool is_upper_cp(char32_t cp) noexcept {
    return u_isUUppercase(static_cast<UChar32>(cp));
}
bool is_lower_cp(char32_t cp) noexcept {
    return u_isULowercase(static_cast<UChar32>(cp));
}
bool is_alpha_cp(char32_t cp) noexcept {
    const auto t = u_charType(static_cast<UChar32>(cp));
    return t == U_UPPERCASE_LETTER || t == U_LOWERCASE_LETTER || t == U_TITLECASE_LETTER ||
           t == U_MODIFIER_LETTER || t == U_OTHER_LETTER;
}
bool is_decimal_cp(char32_t cp) noexcept {
    return u_charType(static_cast<UChar32>(cp)) == U_DECIMAL_DIGIT_NUMBER;
}
bool is_digit_cp(char32_t cp) noexcept {
    const auto t = u_getIntPropertyValue(static_cast<UChar32>(cp), UCHAR_NUMERIC_TYPE);
    return t == U_NT_DECIMAL || t == U_NT_DIGIT;
}
bool is_numeric_cp(char32_t cp) noexcept {
    return u_getIntPropertyValue(static_cast<UChar32>(cp), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::string title(std::string_view s) {
    // Python: a cased character after an uncased one starts a word.
    std::string out;
    out.reserve(s.size());
    bool prev_cased = false;
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = next_code_point(s, pos);
        if (prev_cased) {
            append_mapped(out, cp, false);
        } else {
            append_mapped(out, cp, true, true);
        }
        prev_cased = is_cased_cp(cp);
    }
    return out;
}

std::string capitalize(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool first = true;
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = next_code_point(s, pos);
        append_mapped(out, cp, first, first);
        first = false;
    }
    return out;
}

}  // namespace zelk::jinja::text
