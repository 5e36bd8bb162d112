// The Python methods template authors call on strings, maps and lists, and Python's string
// formatting (`%` and `str.format`). Map `get` is left to the embedder's unknown-method hook.
#include <fmt/format.h>

#include <cmath>
#include <cstdlib>

#include "jinja/text.hpp"
#include "jinja/vm.hpp"

namespace zelk::jinja::detail {
namespace {

std::unexpected<Error> invalid(std::string msg) {
    return fail(ErrorKind::InvalidOperation, std::move(msg));
}

Result<std::string> str_arg(const Value* v, std::string_view what) {
    if (!v || !v->is_string()) {
        return invalid(fmt::format("{} must be a string", what));
    }
    return v->str();
}

Result<std::int64_t> opt_int(const Value* v, std::int64_t def) {
    if (!v || v->is_none()) {
        return def;
    }
    if (v->kind() == Value::Kind::Int || v->kind() == Value::Kind::Bool) {
        return v->as_int();
    }
    return invalid("an integer is required");
}

// Byte offsets of code points, for Python's character-indexed start/end arguments.
std::size_t byte_offset(std::string_view s, std::int64_t cp_index) {
    const auto n = static_cast<std::int64_t>(text::length(s));
    if (cp_index < 0) {
        cp_index = std::max<std::int64_t>(0, cp_index + n);
    }
    std::size_t pos = 0;
    for (std::int64_t i = 0; i < cp_index && pos < s.size(); ++i) {
        text::next_code_point(s, pos);
    }
    return pos;
}

std::int64_t cp_index(std::string_view s, std::size_t byte) {
    return static_cast<std::int64_t>(text::length(s.substr(0, byte)));
}

Value str_list(std::vector<std::string> parts) {
    std::vector<Value> out;
    out.reserve(parts.size());
    for (auto& p : parts) {
        out.push_back(Value::from_string(std::move(p)));
    }
    return Value::seq(std::move(out));
}

Result<Value> split(const std::string& s, const Args& a, bool from_right) {
    auto p = bind_args(a, {"sep", "maxsplit"}, "split");
    if (!p) {
        return std::unexpected(p.error());
    }
    auto maxsplit = opt_int((*p)[1], -1);
    if (!maxsplit) {
        return std::unexpected(maxsplit.error());
    }
    std::vector<std::string> parts;
    const Value* sep = (*p)[0];
    if (!sep || sep->is_none()) {
        // Runs of white space separate; leading and trailing white space is ignored.
        std::vector<std::pair<std::size_t, std::size_t>> words;
        std::size_t pos = 0;
        std::size_t start = std::string::npos;
        while (pos < s.size()) {
            const std::size_t at = pos;
            const bool sp = text::is_space(text::next_code_point(s, pos));
            if (sp && start != std::string::npos) {
                words.emplace_back(start, at);
                start = std::string::npos;
            } else if (!sp && start == std::string::npos) {
                start = at;
            }
        }
        if (start != std::string::npos) {
            words.emplace_back(start, s.size());
        }
        if (*maxsplit < 0 || static_cast<std::size_t>(*maxsplit) + 1 >= words.size()) {
            for (auto [b, e] : words) {
                parts.push_back(s.substr(b, e - b));
            }
        } else if (!from_right) {
            const auto m = static_cast<std::size_t>(*maxsplit);
            for (std::size_t i = 0; i < m; ++i) {
                parts.push_back(s.substr(words[i].first, words[i].second - words[i].first));
            }
            std::string rest(text::strip(std::string_view(s).substr(words[m].first), false, true));
            parts.push_back(rest);
        } else {
            const auto m = static_cast<std::size_t>(*maxsplit);
            const std::size_t keep = words.size() - m;
            parts.push_back(
                std::string(text::strip(std::string_view(s).substr(0, words[keep - 1].second), true, false)));
            for (std::size_t i = keep; i < words.size(); ++i) {
                parts.push_back(s.substr(words[i].first, words[i].second - words[i].first));
            }
        }
        return str_list(std::move(parts));
    }
    auto sv = str_arg(sep, "separator");
    if (!sv) {
        return std::unexpected(sv.error());
    }
    if (sv->empty()) {
        return invalid("empty separator");
    }
    if (!from_right) {
        std::size_t pos = 0;
        std::int64_t done = 0;
        while (true) {
            const std::size_t hit = s.find(*sv, pos);
            if (hit == std::string::npos || (*maxsplit >= 0 && done >= *maxsplit)) {
                parts.push_back(s.substr(pos));
                break;
            }
            parts.push_back(s.substr(pos, hit - pos));
            pos = hit + sv->size();
            ++done;
        }
    } else {
        std::size_t end = s.size();
        std::int64_t done = 0;
        std::vector<std::string> rev;
        while (true) {
            const std::size_t hit = end >= sv->size() ? s.rfind(*sv, end - sv->size()) : std::string::npos;
            if (hit == std::string::npos || (*maxsplit >= 0 && done >= *maxsplit)) {
                rev.push_back(s.substr(0, end));
                break;
            }
            rev.push_back(s.substr(hit + sv->size(), end - hit - sv->size()));
            end = hit;
            ++done;
        }
        parts.assign(rev.rbegin(), rev.rend());
    }
    return str_list(std::move(parts));
}

bool is_line_break(char32_t cp) {
    return cp == '\n' || cp == '\r' || cp == 0x0B || cp == 0x0C || cp == 0x1C || cp == 0x1D || cp == 0x1E ||
           cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

Result<Value> splitlines(const std::string& s, const Args& a) {
    auto p = bind_args(a, {"keepends"}, "splitlines");
    if (!p) {
        return std::unexpected(p.error());
    }
    const bool keep = (*p)[0] && (*p)[0]->truthy();
    std::vector<std::string> parts;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t at = pos;
        const char32_t cp = text::next_code_point(s, pos);
        if (!is_line_break(cp)) {
            continue;
        }
        if (cp == '\r' && pos < s.size() && s[pos] == '\n') {
            ++pos;
        }
        parts.push_back(s.substr(start, (keep ? pos : at) - start));
        start = pos;
    }
    if (start < s.size()) {
        parts.push_back(s.substr(start));
    }
    return str_list(std::move(parts));
}

Result<std::vector<std::string>> affixes(const Value* v, std::string_view what) {
    std::vector<std::string> out;
    if (v && v->kind() == Value::Kind::Tuple) {
        for (const auto& x : v->items()) {
            auto s = str_arg(&x, what);
            if (!s) {
                return std::unexpected(s.error());
            }
            out.push_back(*s);
        }
        return out;
    }
    auto s = str_arg(v, what);
    if (!s) {
        return std::unexpected(s.error());
    }
    out.push_back(*s);
    return out;
}

Result<Value> starts_ends(const std::string& s, const Args& a, bool starts) {
    auto p = bind_args(a, {"prefix", "start", "end"}, starts ? "startswith" : "endswith", 1);
    if (!p) {
        return std::unexpected(p.error());
    }
    auto list = affixes((*p)[0], "prefix");
    if (!list) {
        return std::unexpected(list.error());
    }
    auto start = opt_int((*p)[1], 0);
    auto end = opt_int((*p)[2], static_cast<std::int64_t>(text::length(s)));
    if (!start || !end) {
        return std::unexpected(!start ? start.error() : end.error());
    }
    const std::size_t b = byte_offset(s, *start);
    const std::size_t e = std::max(b, byte_offset(s, *end));
    const std::string_view sub = std::string_view(s).substr(b, e - b);
    for (const auto& x : *list) {
        if (starts ? sub.starts_with(x) : sub.ends_with(x)) {
            return Value::from_bool(true);
        }
    }
    return Value::from_bool(false);
}

Result<Value> find_count(const std::string& s, const Args& a, std::string_view which) {
    auto p = bind_args(a, {"sub", "start", "end"}, which, 1);
    if (!p) {
        return std::unexpected(p.error());
    }
    auto sub = str_arg((*p)[0], "substring");
    if (!sub) {
        return std::unexpected(sub.error());
    }
    auto start = opt_int((*p)[1], 0);
    auto end = opt_int((*p)[2], static_cast<std::int64_t>(text::length(s)));
    if (!start || !end) {
        return std::unexpected(!start ? start.error() : end.error());
    }
    const std::size_t b = byte_offset(s, *start);
    const std::size_t e = std::max(b, byte_offset(s, *end));
    const std::string_view hay = std::string_view(s).substr(b, e - b);
    if (which == "count") {
        if (sub->empty()) {
            return Value::from_int(static_cast<std::int64_t>(text::length(hay)) + 1);
        }
        std::int64_t n = 0;
        for (std::size_t pos = 0; (pos = hay.find(*sub, pos)) != std::string_view::npos; pos += sub->size()) {
            ++n;
        }
        return Value::from_int(n);
    }
    const std::size_t hit = which == "find" ? hay.find(*sub) : hay.rfind(*sub);
    if (hit == std::string_view::npos) {
        return Value::from_int(-1);
    }
    return Value::from_int(cp_index(s, b + hit));
}

Result<Value> replace(const std::string& s, const Args& a) {
    auto p = bind_args(a, {"old", "new", "count"}, "replace", 2);
    if (!p) {
        return std::unexpected(p.error());
    }
    auto old_s = str_arg((*p)[0], "old");
    auto new_s = str_arg((*p)[1], "new");
    auto count = opt_int((*p)[2], -1);
    if (!old_s || !new_s || !count) {
        return invalid("replace() expects two strings and an optional count");
    }
    std::string out;
    std::size_t pos = 0;
    std::int64_t done = 0;
    if (old_s->empty()) {
        while (true) {
            if (*count >= 0 && done >= *count) {
                out.append(s, pos);
                break;
            }
            out += *new_s;
            ++done;
            if (pos >= s.size()) {
                break;
            }
            const std::size_t at = pos;
            text::next_code_point(s, pos);
            out.append(s, at, pos - at);
            if (out.size() > kMaxSize) {
                return fail(ErrorKind::LimitExceeded, "string too long");
            }
        }
        return Value::from_string(std::move(out));
    }
    while (true) {
        const std::size_t hit = s.find(*old_s, pos);
        if (hit == std::string::npos || (*count >= 0 && done >= *count)) {
            out.append(s, pos);
            break;
        }
        out.append(s, pos, hit - pos);
        out += *new_s;
        pos = hit + old_s->size();
        ++done;
        if (out.size() > kMaxSize) {
            return fail(ErrorKind::LimitExceeded, "string too long");
        }
    }
    return Value::from_string(std::move(out));
}

template <class Pred>
Value all_chars(const std::string& s, Pred pred) {
    if (s.empty()) {
        return Value::from_bool(false);
    }
    for (std::size_t pos = 0; pos < s.size();) {
        if (!pred(text::next_code_point(s, pos))) {
            return Value::from_bool(false);
        }
    }
    return Value::from_bool(true);
}

Value is_title(const std::string& s) {
    bool cased = false;
    bool prev_cased = false;
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = text::next_code_point(s, pos);
        if (text::is_upper_cp(cp) || text::is_titlecase_cp(cp)) {
            if (prev_cased) {
                return Value::from_bool(false);
            }
            prev_cased = true;
            cased = true;
        } else if (text::is_lower_cp(cp)) {
            if (!prev_cased) {
                return Value::from_bool(false);
            }
            prev_cased = true;
            cased = true;
        } else {
            prev_cased = false;
        }
    }
    return Value::from_bool(cased);
}

Result<Value> string_method(Vm& vm, const Value& recv, std::string_view name, const Args& a, bool& handled) {
    const std::string& s = recv.str();
    handled = true;
    auto no_args = [&]() -> Result<void> {
        if (!a.positional.empty() || !a.keyword.empty()) {
            return fail(ErrorKind::TooManyArguments, fmt::format("str.{}() takes no arguments", name));
        }
        return {};
    };
    auto simple = [&](std::string out) -> Result<Value> {
        if (auto r = no_args(); !r) {
            return std::unexpected(r.error());
        }
        return Value::from_string(std::move(out), recv.is_safe());
    };
    if (name == "upper") {
        return simple(text::upper(s));
    }
    if (name == "lower") {
        return simple(text::lower(s));
    }
    if (name == "title") {
        return simple(text::title(s));
    }
    if (name == "capitalize") {
        return simple(text::capitalize(s));
    }
    if (name == "strip" || name == "lstrip" || name == "rstrip") {
        auto p = bind_args(a, {"chars"}, name);
        if (!p) {
            return std::unexpected(p.error());
        }
        const bool left = name != "rstrip";
        const bool right = name != "lstrip";
        if ((*p)[0] && !(*p)[0]->is_none()) {
            auto chars = str_arg((*p)[0], "chars");
            if (!chars) {
                return std::unexpected(chars.error());
            }
            return Value::from_string(text::strip_chars(s, *chars, left, right));
        }
        return Value::from_string(std::string(text::strip(s, left, right)));
    }
    if (name == "split" || name == "rsplit") {
        return split(s, a, name == "rsplit");
    }
    if (name == "splitlines") {
        return splitlines(s, a);
    }
    if (name == "replace") {
        return replace(s, a);
    }
    if (name == "startswith" || name == "endswith") {
        return starts_ends(s, a, name == "startswith");
    }
    if (name == "find" || name == "rfind" || name == "count") {
        return find_count(s, a, name);
    }
    if (name == "join") {
        if (a.positional.size() != 1 || !a.keyword.empty()) {
            return invalid("str.join() takes exactly one argument");
        }
        auto items = iterate(a.positional[0]);
        if (!items) {
            return std::unexpected(items.error());
        }
        std::string out;
        for (std::size_t i = 0; i < items->size(); ++i) {
            const Value& x = (*items)[i];
            if (!x.is_string()) {
                return invalid(
                    fmt::format("sequence item {}: expected str instance, {} found", i, x.type_name()));
            }
            if (i) {
                out += s;
            }
            out += x.str();
            if (out.size() > kMaxSize) {
                return fail(ErrorKind::LimitExceeded, "string too long");
            }
        }
        return Value::from_string(std::move(out));
    }
    if (name == "format") {
        return str_format(vm, s, a);
    }
    if (name.starts_with("is")) {
        if (auto r = no_args(); !r) {
            return std::unexpected(r.error());
        }
        if (name == "isalnum") {
            return all_chars(s, [](char32_t c) { return text::is_alpha_cp(c) || text::is_numeric_cp(c); });
        }
        if (name == "isalpha") {
            return all_chars(s, text::is_alpha_cp);
        }
        if (name == "isascii") {
            for (char c : s) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    return Value::from_bool(false);
                }
            }
            return Value::from_bool(true);
        }
        if (name == "isdecimal") {
            return all_chars(s, text::is_decimal_cp);
        }
        if (name == "isdigit") {
            return all_chars(s, text::is_digit_cp);
        }
        if (name == "isnumeric") {
            return all_chars(s, text::is_numeric_cp);
        }
        if (name == "isspace") {
            return all_chars(s, text::is_space);
        }
        if (name == "isprintable") {
            for (std::size_t pos = 0; pos < s.size();) {
                if (!text::is_printable(text::next_code_point(s, pos))) {
                    return Value::from_bool(false);
                }
            }
            return Value::from_bool(true);
        }
        if (name == "isidentifier") {
            if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) {
                return Value::from_bool(false);
            }
            return all_chars(
                s, [](char32_t c) { return c == '_' || text::is_alpha_cp(c) || text::is_digit_cp(c); });
        }
        if (name == "islower" || name == "isupper") {
            bool cased = false;
            for (std::size_t pos = 0; pos < s.size();) {
                const char32_t cp = text::next_code_point(s, pos);
                if (name == "islower" ? text::is_upper_cp(cp) : text::is_lower_cp(cp)) {
                    return Value::from_bool(false);
                }
                cased |= text::is_cased_cp(cp);
            }
            return Value::from_bool(cased);
        }
        if (name == "istitle") {
            return is_title(s);
        }
    }
    handled = false;
    return Value();
}

}  // namespace

Result<Value> call_builtin_method(Vm& vm, const Value& recv, std::string_view name, const Args& a,
                                  bool& handled) {
    handled = false;
    switch (recv.kind()) {
        case Value::Kind::String:
            return string_method(vm, recv, name, a, handled);
        case Value::Kind::Map: {
            const ValueMap& m = recv.map_entries();
            const bool known = name == "keys" || name == "values" || name == "items";
            if (!known) {
                return Value();
            }
            handled = true;
            if (!a.positional.empty() || !a.keyword.empty()) {
                return fail(ErrorKind::TooManyArguments, fmt::format("dict.{}() takes no arguments", name));
            }
            std::vector<Value> out;
            out.reserve(m.size());
            for (const auto& [k, v] : m.entries()) {
                if (name == "keys") {
                    out.push_back(k);
                } else if (name == "values") {
                    out.push_back(v);
                } else {
                    out.push_back(Value::tuple({k, v}));
                }
            }
            return Value::seq(std::move(out));
        }
        case Value::Kind::Seq:
        case Value::Kind::Tuple: {
            if (name != "count") {
                return Value();
            }
            handled = true;
            if (a.positional.size() != 1 || !a.keyword.empty()) {
                return invalid("count() takes exactly one argument");
            }
            std::int64_t n = 0;
            for (const auto& x : recv.items()) {
                n += x.equals(a.positional[0]) ? 1 : 0;
            }
            return Value::from_int(n);
        }
        default:
            return Value();
    }
}

}  // namespace zelk::jinja::detail
