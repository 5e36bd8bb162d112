#include "jinja/lexer.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>

#include "jinja/text.hpp"

namespace zelk::jinja::detail {
namespace {

constexpr std::string_view kBlockStart = "{%";
constexpr std::string_view kBlockEnd = "%}";
constexpr std::string_view kCommentStart = "{#";
constexpr std::string_view kCommentEnd = "#}";

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_name_char(char c) {
    return is_name_start(c) || is_digit(c);
}

enum class TagKind { Variable, Block, Comment };

class Lexer {
  public:
    Lexer(std::string_view src, const LexerConfig& cfg) : s_(src), cfg_(cfg) {}

    Result<std::vector<Token>> run() {
        while (pos_ < s_.size()) {
            TagKind kind{};
            std::size_t start_len = 0;
            const std::size_t p = find_tag(pos_, kind, start_len);
            if (p == std::string_view::npos) {
                emit_data(pos_, s_.size());
                advance_to(s_.size());
                break;
            }
            std::size_t data_end = p;
            const std::size_t after = p + start_len;
            const char modifier = after < s_.size() ? s_[after] : '\0';
            if (modifier == '-') {
                data_end = rstrip_end(pos_, data_end);
            } else if (modifier != '+' && kind != TagKind::Variable && cfg_.lstrip_blocks) {
                data_end = lstrip_end(pos_, data_end);
            }
            emit_data(pos_, data_end);
            advance_to(p);
            const std::size_t body = after + ((modifier == '-' || modifier == '+') ? 1 : 0);
            Result<void> r;
            if (kind == TagKind::Comment) {
                r = lex_comment(body);
            } else if (kind == TagKind::Block && try_raw(body)) {
                r = lex_raw();
            } else {
                r = lex_tag(kind, body);
            }
            if (!r) {
                return std::unexpected(r.error());
            }
        }
        tokens_.push_back(Token{Tok::Eof, line_, {}, {}, 0, 0.0});
        return std::move(tokens_);
    }

  private:
    Error error(std::string msg) const {
        Error e(ErrorKind::SyntaxError, std::move(msg));
        e.set_location({}, line_);
        return e;
    }

    // Moves the cursor, counting line breaks (CRLF counts once).
    void advance_to(std::size_t to) {
        for (std::size_t i = pos_; i < to; ++i) {
            if (s_[i] == '\n') {
                ++line_;
            } else if (s_[i] == '\r' && (i + 1 >= s_.size() || s_[i + 1] != '\n')) {
                ++line_;
            }
        }
        pos_ = to;
    }

    // Leftmost tag start at or after `from`; at one position the longest delimiter wins.
    std::size_t find_tag(std::size_t from, TagKind& kind, std::size_t& len) const {
        const std::string_view vs = cfg_.variable_start;
        for (std::size_t i = from; i < s_.size(); ++i) {
            const char c = s_[i];
            if (c != '{' && c != vs[0]) {
                continue;
            }
            const std::string_view rest = s_.substr(i);
            std::size_t best = 0;
            if (rest.starts_with(vs)) {
                best = vs.size();
                kind = TagKind::Variable;
            }
            if (rest.starts_with(kBlockStart) && kBlockStart.size() > best) {
                best = kBlockStart.size();
                kind = TagKind::Block;
            }
            if (rest.starts_with(kCommentStart) && kCommentStart.size() > best) {
                best = kCommentStart.size();
                kind = TagKind::Comment;
            }
            if (best) {
                len = best;
                return i;
            }
        }
        return std::string_view::npos;
    }

    void emit_data(std::size_t from, std::size_t to) {
        if (to > from) {
            tokens_.push_back(Token{Tok::Data, line_, s_.substr(from, to - from), {}, 0, 0.0});
        }
    }

    // End of the data after removing trailing white space (`-` marker).
    std::size_t rstrip_end(std::size_t from, std::size_t to) const {
        return from + text::strip(s_.substr(from, to - from), false, true).size();
    }

    // End of the data after removing the indentation before a block tag standing at a line start.
    std::size_t lstrip_end(std::size_t from, std::size_t to) const {
        std::size_t k = to;
        while (k > from &&
               (s_[k - 1] == ' ' || s_[k - 1] == '\t' || s_[k - 1] == '\v' || s_[k - 1] == '\f')) {
            --k;
        }
        if (k == 0 || s_[k - 1] == '\n' || s_[k - 1] == '\r') {
            return k;
        }
        return to;
    }

    // After a block or comment end: one line break goes with trim_blocks.
    std::size_t skip_trim(std::size_t at) const {
        if (!cfg_.trim_blocks || at >= s_.size()) {
            return at;
        }
        if (s_[at] == '\r') {
            return at + 1 < s_.size() && s_[at + 1] == '\n' ? at + 2 : at + 1;
        }
        return s_[at] == '\n' ? at + 1 : at;
    }

    std::size_t skip_space(std::size_t at) const {
        while (at < s_.size()) {
            std::size_t p = at;
            if (!text::is_space(text::next_code_point(s_, p))) {
                break;
            }
            at = p;
        }
        return at;
    }

    Result<void> lex_comment(std::size_t body) {
        const std::size_t end = s_.find(kCommentEnd, body);
        if (end == std::string_view::npos) {
            return std::unexpected(error("missing end of comment tag"));
        }
        std::size_t next = end + kCommentEnd.size();
        const char before = end > body ? s_[end - 1] : '\0';
        if (before == '-') {
            next = skip_space(next);
        } else if (before != '+') {
            next = skip_trim(next);
        }
        advance_to(next);
        return {};
    }

    // `{% raw %}` (with optional markers) starting at the tag body.
    bool try_raw(std::size_t body) {
        std::size_t i = skip_space(body);
        if (s_.substr(i, 3) != "raw" || (i + 3 < s_.size() && is_name_char(s_[i + 3]))) {
            return false;
        }
        i = skip_space(i + 3);
        if (s_.substr(i, 3) == "-%}") {
            raw_body_ = skip_space(i + 3);
            return true;
        }
        if (s_.substr(i, 2) == "%}") {
            raw_body_ = i + 2;
            return true;
        }
        return false;
    }

    Result<void> lex_raw() {
        const std::uint32_t start_line = line_;
        advance_to(raw_body_);
        for (std::size_t i = raw_body_; (i = s_.find(kBlockStart, i)) != std::string_view::npos; ++i) {
            std::size_t j = i + 2;
            const char modifier = j < s_.size() ? s_[j] : '\0';
            if (modifier == '-' || modifier == '+') {
                ++j;
            }
            j = skip_space(j);
            if (s_.substr(j, 6) != "endraw" || (j + 6 < s_.size() && is_name_char(s_[j + 6]))) {
                continue;
            }
            j = skip_space(j + 6);
            std::size_t next = 0;
            if (s_.substr(j, 3) == "-%}") {
                next = skip_space(j + 3);
            } else if (s_.substr(j, 3) == "+%}") {
                next = j + 3;
            } else if (s_.substr(j, 2) == "%}") {
                next = skip_trim(j + 2);
            } else {
                continue;
            }
            std::size_t data_end = i;
            if (modifier == '-') {
                data_end = rstrip_end(pos_, i);
            } else if (modifier != '+' && cfg_.lstrip_blocks) {
                data_end = lstrip_end(pos_, i);
            }
            emit_data(pos_, data_end);
            advance_to(next);
            return {};
        }
        line_ = start_line;
        return std::unexpected(error("missing endraw tag"));
    }

    // Matches the end of the current tag at `i` (only when brackets are balanced).
    bool match_end(TagKind kind, std::size_t i, std::size_t& next) const {
        if (kind == TagKind::Block) {
            if (s_.substr(i, 3) == "-%}") {
                next = skip_space(i + 3);
                return true;
            }
            if (s_.substr(i, 3) == "+%}") {
                next = i + 3;
                return true;
            }
            if (s_.substr(i, 2) == kBlockEnd) {
                next = skip_trim(i + 2);
                return true;
            }
            return false;
        }
        const std::string_view ve = cfg_.variable_end;
        if (i < s_.size() && s_[i] == '-' && s_.substr(i + 1, ve.size()) == ve) {
            next = skip_space(i + 1 + ve.size());
            return true;
        }
        if (s_.substr(i, ve.size()) == ve) {
            next = i + ve.size();
            return true;
        }
        return false;
    }

    Result<void> lex_tag(TagKind kind, std::size_t body) {
        tokens_.push_back(
            Token{kind == TagKind::Block ? Tok::BlockBegin : Tok::VarBegin, line_, {}, {}, 0, 0.0});
        advance_to(body);
        std::string brackets;
        while (true) {
            advance_to(skip_space(pos_));
            if (pos_ >= s_.size()) {
                return std::unexpected(error(
                    kind == TagKind::Block ? "unexpected end of template, expected end of block"
                                           : "unexpected end of template, expected end of variable block"));
            }
            std::size_t next = 0;
            if (brackets.empty() && match_end(kind, pos_, next)) {
                tokens_.push_back(
                    Token{kind == TagKind::Block ? Tok::BlockEnd : Tok::VarEnd, line_, {}, {}, 0, 0.0});
                advance_to(next);
                return {};
            }
            auto r = lex_token(brackets);
            if (!r) {
                return r;
            }
        }
    }

    Result<void> lex_token(std::string& brackets) {
        const char c = s_[pos_];
        if (is_digit(c)) {
            return lex_number();
        }
        if (is_name_start(c)) {
            std::size_t j = pos_ + 1;
            while (j < s_.size() && is_name_char(s_[j])) {
                ++j;
            }
            tokens_.push_back(Token{Tok::Name, line_, s_.substr(pos_, j - pos_), {}, 0, 0.0});
            pos_ = j;
            return {};
        }
        if (c == '\'' || c == '"') {
            return lex_string(c);
        }
        static constexpr std::string_view two[] = {"**", "//", "==", "!=", "<=", ">="};
        for (auto op : two) {
            if (s_.substr(pos_, 2) == op) {
                tokens_.push_back(Token{Tok::Op, line_, s_.substr(pos_, 2), {}, 0, 0.0});
                pos_ += 2;
                return {};
            }
        }
        static constexpr std::string_view one = "+-/*%~[](){}<>=.:|,;";
        if (one.find(c) == std::string_view::npos) {
            return std::unexpected(error(fmt::format("unexpected character '{}'", c)));
        }
        if (c == '(' || c == '[' || c == '{') {
            brackets.push_back(c == '(' ? ')' : (c == '[' ? ']' : '}'));
        } else if (c == ')' || c == ']' || c == '}') {
            if (brackets.empty() || brackets.back() != c) {
                return std::unexpected(error(fmt::format("unexpected '{}'", c)));
            }
            brackets.pop_back();
        }
        tokens_.push_back(Token{Tok::Op, line_, s_.substr(pos_, 1), {}, 0, 0.0});
        ++pos_;
        return {};
    }

    // Digits with single underscores between them, as Python writes them.
    std::size_t scan_digits(std::size_t j, bool (*ok)(char)) const {
        if (j >= s_.size() || !ok(s_[j])) {
            return std::string_view::npos;
        }
        ++j;
        while (j < s_.size()) {
            if (ok(s_[j])) {
                ++j;
            } else if (s_[j] == '_' && j + 1 < s_.size() && ok(s_[j + 1])) {
                j += 2;
            } else {
                break;
            }
        }
        return j;
    }

    Result<void> lex_number() {
        auto dec = +[](char ch) { return is_digit(ch); };
        const bool after_dot = pos_ > 0 && s_[pos_ - 1] == '.';
        const std::size_t int_end = scan_digits(pos_, dec);
        std::size_t end = int_end;
        bool is_float = false;
        if (!after_dot) {
            std::size_t j = int_end;
            if (j < s_.size() && s_[j] == '.') {
                const std::size_t frac = scan_digits(j + 1, dec);
                if (frac != std::string_view::npos) {
                    j = frac;
                    is_float = true;
                }
            }
            if (j < s_.size() && (s_[j] == 'e' || s_[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < s_.size() && (s_[k] == '+' || s_[k] == '-')) {
                    ++k;
                }
                const std::size_t e = scan_digits(k, dec);
                if (e != std::string_view::npos) {
                    j = e;
                    is_float = true;
                }
            }
            if (is_float) {
                end = j;
            }
        }
        std::string clean;
        if (is_float) {
            for (char ch : s_.substr(pos_, end - pos_)) {
                if (ch != '_') {
                    clean.push_back(ch);
                }
            }
            const double f = std::strtod(clean.c_str(), nullptr);
            tokens_.push_back(Token{Tok::Float, line_, s_.substr(pos_, end - pos_), {}, 0, f});
            pos_ = end;
            return {};
        }
        int base = 10;
        std::size_t digits_from = pos_;
        if (s_[pos_] == '0' && pos_ + 1 < s_.size()) {
            const char x = static_cast<char>(s_[pos_ + 1] | 0x20);
            bool (*ok)(char) = nullptr;
            if (x == 'b') {
                base = 2;
                ok = +[](char ch) { return ch == '0' || ch == '1'; };
            } else if (x == 'o') {
                base = 8;
                ok = +[](char ch) { return ch >= '0' && ch <= '7'; };
            } else if (x == 'x') {
                base = 16;
                ok = +[](char ch) { return is_digit(ch) || ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f'); };
            }
            if (ok) {
                // Python allows one underscore right after the prefix.
                std::size_t j = pos_ + 2;
                if (j < s_.size() && s_[j] == '_') {
                    ++j;
                }
                const std::size_t e = scan_digits(j, ok);
                if (e != std::string_view::npos) {
                    digits_from = pos_ + 2;
                    end = e;
                } else {
                    base = 10;
                }
            }
            if (base == 10) {
                // A leading zero admits only more zeros: "01" is "0" followed by "1".
                end = pos_ + 1;
                while (end < s_.size() &&
                       (s_[end] == '0' || (s_[end] == '_' && end + 1 < s_.size() && s_[end + 1] == '0'))) {
                    ++end;
                }
            }
        }
        std::uint64_t acc = 0;
        for (char ch : s_.substr(digits_from, end - digits_from)) {
            if (ch == '_') {
                continue;
            }
            const int d = is_digit(ch) ? ch - '0' : (ch | 0x20) - 'a' + 10;
            if (acc > (static_cast<std::uint64_t>(INT64_MAX) - static_cast<std::uint64_t>(d)) / base) {
                return std::unexpected(error("integer literal too large"));
            }
            acc = acc * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        }
        tokens_.push_back(
            Token{Tok::Int, line_, s_.substr(pos_, end - pos_), {}, static_cast<std::int64_t>(acc), 0.0});
        pos_ = end;
        return {};
    }

    static int hex_value(char c) {
        if (is_digit(c)) {
            return c - '0';
        }
        const char l = static_cast<char>(c | 0x20);
        return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
    }

    // Python string literal escapes, as Jinja2 decodes them.
    Result<void> lex_string(char quote) {
        const std::uint32_t start_line = line_;
        std::string out;
        std::size_t j = pos_ + 1;
        while (true) {
            if (j >= s_.size()) {
                return std::unexpected(error("unexpected end of string"));
            }
            const char c = s_[j];
            if (c == quote) {
                break;
            }
            if (c != '\\') {
                out.push_back(c);
                ++j;
                continue;
            }
            if (j + 1 >= s_.size()) {
                return std::unexpected(error("unexpected end of string"));
            }
            const char e = s_[j + 1];
            j += 2;
            switch (e) {
                case '\\':
                    out.push_back('\\');
                    break;
                case '\'':
                    out.push_back('\'');
                    break;
                case '"':
                    out.push_back('"');
                    break;
                case 'a':
                    out.push_back('\a');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'v':
                    out.push_back('\v');
                    break;
                case '\n':
                    break;
                case '\r':
                    if (j < s_.size() && s_[j] == '\n') {
                        ++j;
                    }
                    break;
                case 'x':
                case 'u':
                case 'U': {
                    const int n = e == 'x' ? 2 : (e == 'u' ? 4 : 8);
                    char32_t cp = 0;
                    for (int k = 0; k < n; ++k) {
                        const int h = j < s_.size() ? hex_value(s_[j]) : -1;
                        if (h < 0) {
                            Error err(ErrorKind::BadEscape, fmt::format("truncated \\{} escape", e));
                            err.set_location({}, line_);
                            return std::unexpected(err);
                        }
                        cp = cp * 16 + static_cast<char32_t>(h);
                        ++j;
                    }
                    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                        Error err(ErrorKind::BadEscape, "invalid code point in escape");
                        err.set_location({}, line_);
                        return std::unexpected(err);
                    }
                    text::append_utf8(out, cp);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        char32_t cp = static_cast<char32_t>(e - '0');
                        for (int k = 0; k < 2 && j < s_.size() && s_[j] >= '0' && s_[j] <= '7'; ++k, ++j) {
                            cp = cp * 8 + static_cast<char32_t>(s_[j] - '0');
                        }
                        text::append_utf8(out, cp);
                    } else if (e == 'N') {
                        Error err(ErrorKind::BadEscape, "named unicode escapes are not supported");
                        err.set_location({}, line_);
                        return std::unexpected(err);
                    } else {
                        // Unknown escapes stay as written, as in Python.
                        out.push_back('\\');
                        --j;
                    }
            }
        }
        tokens_.push_back(
            Token{Tok::String, start_line, s_.substr(pos_, j + 1 - pos_), std::move(out), 0, 0.0});
        advance_to(j + 1);
        return {};
    }

    std::string_view s_;
    const LexerConfig& cfg_;
    std::size_t pos_ = 0;
    std::uint32_t line_ = 1;
    std::size_t raw_body_ = 0;
    std::vector<Token> tokens_;
};

}  // namespace

Result<std::vector<Token>> tokenize(std::string_view source, const LexerConfig& config) {
    return Lexer(source, config).run();
}

}  // namespace zelk::jinja::detail
