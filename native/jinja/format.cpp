// Python string formatting: printf-style `%` and `str.format` with its format-spec language.
#include <fmt/format.h>

#include <cmath>
#include <cstdio>

#include "jinja/text.hpp"
#include "jinja/vm.hpp"

namespace zelk::jinja::detail {
namespace {

std::unexpected<Error> invalid(std::string msg) {
    return fail(ErrorKind::InvalidOperation, std::move(msg));
}

constexpr int kMaxWidth = 100000;

bool is_intlike(const Value& v) {
    return v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool;
}

std::string c_format_float(double f, char type, int precision, bool alt, char sign) {
    std::string spec = "%";
    if (alt) {
        spec += '#';
    }
    if (sign == '+') {
        spec += '+';
    } else if (sign == ' ') {
        spec += ' ';
    }
    spec += '.';
    spec += std::to_string(precision);
    spec += type;
    if (std::isinf(f) || std::isnan(f)) {
        std::string s = std::isnan(f) ? "nan" : "inf";
        if (type >= 'A' && type <= 'Z') {
            s = std::isnan(f) ? "NAN" : "INF";
        }
        if (std::signbit(f) && !std::isnan(f)) {
            return "-" + s;
        }
        return (sign == '+' ? "+" : sign == ' ' ? " " : "") + s;
    }
    char buf[512];
    const int n = std::snprintf(buf, sizeof buf, spec.c_str(), f);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof buf) {
        return std::string(buf, static_cast<std::size_t>(n));
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), f);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

std::string int_digits(std::int64_t v, int base, bool upper) {
    if (v == 0) {
        return "0";
    }
    std::uint64_t u = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    std::string out;
    while (u) {
        const int d = static_cast<int>(u % static_cast<std::uint64_t>(base));
        out.push_back(static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10));
        u /= static_cast<std::uint64_t>(base);
    }
    return std::string(out.rbegin(), out.rend());
}

void pad(std::string& out, const std::string& body, int width, char align, char fill, std::size_t sign_len) {
    const auto len = static_cast<int>(text::length(body));
    if (width <= len) {
        out += body;
        return;
    }
    const auto n = static_cast<std::size_t>(width - len);
    std::string fills;
    for (std::size_t i = 0; i < n; ++i) {
        text::append_utf8(fills,
                          static_cast<unsigned char>(fill) < 0x80 ? static_cast<char32_t>(fill) : U' ');
    }
    switch (align) {
        case '<':
            out += body + fills;
            break;
        case '^': {
            const std::size_t left = n / 2;
            out += std::string(left, fill) + body + std::string(n - left, fill);
            break;
        }
        case '=':
            out += body.substr(0, sign_len) + fills + body.substr(sign_len);
            break;
        default:
            out += fills + body;
    }
}

}  // namespace

Result<Value> percent_format(const std::string& f, const Value& args) {
    std::vector<Value> positional;
    const ValueMap* named = nullptr;
    if (args.kind() == Value::Kind::Tuple) {
        positional = args.items();
    } else if (args.kind() == Value::Kind::Map) {
        named = &args.map_entries();
        positional.push_back(args);
    } else {
        positional.push_back(args);
    }
    std::size_t next = 0;
    bool used_named = false;
    std::string out;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out.push_back(f[i]);
            continue;
        }
        if (++i >= f.size()) {
            return invalid("incomplete format");
        }
        const Value* arg = nullptr;
        if (f[i] == '(') {
            if (!named) {
                return invalid("format requires a mapping");
            }
            int depth = 1;
            std::size_t j = i + 1;
            for (; j < f.size() && depth; ++j) {
                depth += f[j] == '(' ? 1 : (f[j] == ')' ? -1 : 0);
            }
            if (depth) {
                return invalid("incomplete format key");
            }
            const std::string key = f.substr(i + 1, j - i - 2);
            arg = named->find(std::string_view(key));
            if (!arg) {
                return fail(ErrorKind::InvalidOperation, fmt::format("format key '{}' not found", key));
            }
            used_named = true;
            i = j;
        }
        bool left = false;
        bool zero = false;
        bool alt = false;
        char sign = 0;
        for (; i < f.size(); ++i) {
            const char c = f[i];
            if (c == '-') {
                left = true;
            } else if (c == '0') {
                zero = true;
            } else if (c == '#') {
                alt = true;
            } else if (c == '+') {
                sign = '+';
            } else if (c == ' ') {
                if (sign != '+') {
                    sign = ' ';
                }
            } else {
                break;
            }
        }
        auto take = [&]() -> const Value* {
            if (named) {
                return next++ == 0 ? &positional[0] : nullptr;
            }
            return next < positional.size() ? &positional[next++] : nullptr;
        };
        auto read_num = [&](int& target) -> Result<void> {
            if (i < f.size() && f[i] == '*') {
                const Value* w = take();
                if (!w || !is_intlike(*w)) {
                    return invalid("* wants int");
                }
                target = static_cast<int>(std::clamp<std::int64_t>(w->as_int(), -kMaxWidth, kMaxWidth));
                ++i;
                return {};
            }
            std::int64_t n = -1;
            while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
                n = (n < 0 ? 0 : n) * 10 + (f[i] - '0');
                if (n > kMaxWidth) {
                    return fail(ErrorKind::LimitExceeded, "width too big");
                }
                ++i;
            }
            target = static_cast<int>(n);
            return {};
        };
        int width = -1;
        int precision = -1;
        if (auto r = read_num(width); !r) {
            return std::unexpected(r.error());
        }
        if (width < -1) {
            left = true;
            width = -width;
        }
        if (i < f.size() && f[i] == '.') {
            ++i;
            precision = 0;
            if (auto r = read_num(precision); !r) {
                return std::unexpected(r.error());
            }
            if (precision < 0) {
                precision = 0;
            }
        }
        while (i < f.size() && (f[i] == 'h' || f[i] == 'l' || f[i] == 'L')) {
            ++i;
        }
        if (i >= f.size()) {
            return invalid("incomplete format");
        }
        const char type = f[i];
        if (type == '%') {
            out.push_back('%');
            continue;
        }
        if (!arg) {
            arg = take();
            if (!arg) {
                return invalid("not enough arguments for format string");
            }
        }
        std::string body;
        bool numeric = false;
        switch (type) {
            case 's':
            case 'r':
            case 'a':
                if (type == 's') {
                    body = arg->to_string();
                } else {
                    arg->write_repr(body);
                }
                if (precision >= 0) {
                    auto cps = text::code_points(body);
                    if (cps.size() > static_cast<std::size_t>(precision)) {
                        std::string cut;
                        for (int k = 0; k < precision; ++k) {
                            text::append_utf8(cut, cps[static_cast<std::size_t>(k)]);
                        }
                        body = std::move(cut);
                    }
                }
                break;
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                std::int64_t v = 0;
                if (is_intlike(*arg)) {
                    v = arg->as_int();
                } else if (arg->kind() == Value::Kind::Float && (type == 'd' || type == 'i' || type == 'u')) {
                    const double d = arg->as_float();
                    if (!std::isfinite(d) || std::fabs(d) >= 9.2233720368547758e18) {
                        return invalid("cannot convert float to integer");
                    }
                    v = static_cast<std::int64_t>(d);
                } else {
                    return invalid(
                        fmt::format("%{} format: a real number is required, not {}", type, arg->type_name()));
                }
                numeric = true;
                const int base = type == 'o' ? 8 : (type == 'x' || type == 'X') ? 16 : 10;
                std::string digits = int_digits(v, base, type == 'X');
                if (precision >= 0 && static_cast<int>(digits.size()) < precision) {
                    digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
                }
                std::string prefix = v < 0 ? "-" : (sign ? std::string(1, sign) : "");
                if (alt && base != 10) {
                    prefix += type == 'o' ? "0o" : (type == 'x' ? "0x" : "0X");
                }
                if (zero && !left && width > 0) {
                    const int total = static_cast<int>(prefix.size() + digits.size());
                    if (total < width) {
                        digits.insert(0, static_cast<std::size_t>(width - total), '0');
                    }
                }
                body = prefix + digits;
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G': {
                if (!arg->is_number()) {
                    return invalid(fmt::format("must be real number, not {}", arg->type_name()));
                }
                numeric = true;
                body = c_format_float(arg->as_float(), type, precision < 0 ? 6 : precision, alt, sign);
                if (zero && !left && width > 0 && std::isfinite(arg->as_float())) {
                    const std::size_t sign_len = (body[0] == '-' || body[0] == '+' || body[0] == ' ') ? 1 : 0;
                    if (static_cast<int>(body.size()) < width) {
                        body.insert(sign_len, static_cast<std::size_t>(width) - body.size(), '0');
                    }
                }
                break;
            }
            case 'c':
                if (is_intlike(*arg)) {
                    const auto cp = arg->as_int();
                    if (cp < 0 || cp > 0x10FFFF) {
                        return invalid("%c arg not in range(0x110000)");
                    }
                    text::append_utf8(body, static_cast<char32_t>(cp));
                } else if (arg->is_string() && text::length(arg->str()) == 1) {
                    body = arg->str();
                } else {
                    return invalid("%c requires int or char");
                }
                break;
            default:
                return invalid(fmt::format("unsupported format character '{}'", type));
        }
        (void)numeric;
        pad(out, body, width, left ? '<' : '>', ' ', 0);
        if (out.size() > kMaxSize) {
            return fail(ErrorKind::LimitExceeded, "string too long");
        }
    }
    if (!named && next < positional.size()) {
        return invalid("not all arguments converted during string formatting");
    }
    (void)used_named;
    return Value::from_string(std::move(out));
}

namespace {

struct Spec {
    char32_t fill = ' ';
    char align = 0;
    char sign = '-';
    bool alt = false;
    bool zero = false;
    int width = -1;
    char grouping = 0;
    int precision = -1;
    char type = 0;
};

Result<Spec> parse_spec(std::string_view s) {
    Spec sp;
    std::size_t i = 0;
    auto is_align = [](char c) { return c == '<' || c == '>' || c == '^' || c == '='; };
    {
        std::size_t p = 0;
        const char32_t first = s.empty() ? 0 : text::next_code_point(s, p);
        if (!s.empty() && p < s.size() && is_align(s[p])) {
            sp.fill = first;
            sp.align = s[p];
            i = p + 1;
        } else if (!s.empty() && is_align(s[0])) {
            sp.align = s[0];
            i = 1;
        }
    }
    if (i < s.size() && (s[i] == '+' || s[i] == '-' || s[i] == ' ')) {
        sp.sign = s[i++];
    }
    if (i < s.size() && s[i] == '#') {
        sp.alt = true;
        ++i;
    }
    if (i < s.size() && s[i] == '0') {
        sp.zero = true;
        ++i;
    }
    auto num = [&](int& target) -> Result<void> {
        std::int64_t n = -1;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            n = (n < 0 ? 0 : n) * 10 + (s[i] - '0');
            if (n > kMaxWidth) {
                return fail(ErrorKind::LimitExceeded, "width too big");
            }
            ++i;
        }
        target = static_cast<int>(n);
        return {};
    };
    if (auto r = num(sp.width); !r) {
        return std::unexpected(r.error());
    }
    if (i < s.size() && (s[i] == ',' || s[i] == '_')) {
        sp.grouping = s[i++];
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (auto r = num(sp.precision); !r) {
            return std::unexpected(r.error());
        }
        if (sp.precision < 0) {
            return invalid("format specifier missing precision");
        }
    }
    if (i < s.size()) {
        sp.type = s[i++];
    }
    if (i != s.size()) {
        return invalid("invalid format specifier");
    }
    return sp;
}

std::string group_digits(const std::string& digits, char sep, int every) {
    std::string out;
    const int n = static_cast<int>(digits.size());
    for (int k = 0; k < n; ++k) {
        if (k && (n - k) % every == 0) {
            out.push_back(sep);
        }
        out.push_back(digits[static_cast<std::size_t>(k)]);
    }
    return out;
}

void apply_padding(std::string& out, std::string body, const Spec& sp, char default_align,
                   std::size_t sign_len) {
    char align = sp.align ? sp.align : default_align;
    char32_t fill = sp.fill;
    if (!sp.align && sp.zero && default_align == '>') {
        align = '=';
        fill = '0';
    }
    const auto len = static_cast<int>(text::length(body));
    if (sp.width <= len) {
        out += body;
        return;
    }
    const auto n = static_cast<std::size_t>(sp.width - len);
    auto fills = [&](std::size_t k) {
        std::string f;
        for (std::size_t j = 0; j < k; ++j) {
            text::append_utf8(f, fill);
        }
        return f;
    };
    switch (align) {
        case '<':
            out += body + fills(n);
            break;
        case '^':
            out += fills(n / 2) + body + fills(n - n / 2);
            break;
        case '=':
            out += body.substr(0, sign_len) + fills(n) + body.substr(sign_len);
            break;
        default:
            out += fills(n) + body;
    }
}

Result<void> format_value(std::string& out, const Value& v, std::string_view spec_text) {
    if (spec_text.empty()) {
        v.write_string(out);
        return {};
    }
    auto spr = parse_spec(spec_text);
    if (!spr) {
        return std::unexpected(spr.error());
    }
    Spec sp = *spr;
    if (v.is_string() || (!v.is_number())) {
        if (!v.is_string() && !v.is_undefined()) {
            return invalid(fmt::format("unsupported format string passed to {}.__format__", v.type_name()));
        }
        if (sp.type && sp.type != 's') {
            return invalid(fmt::format("Unknown format code '{}' for object of type 'str'", sp.type));
        }
        std::string body = v.to_string();
        if (sp.precision >= 0) {
            auto cps = text::code_points(body);
            if (cps.size() > static_cast<std::size_t>(sp.precision)) {
                body.clear();
                for (int k = 0; k < sp.precision; ++k) {
                    text::append_utf8(body, cps[static_cast<std::size_t>(k)]);
                }
            }
        }
        apply_padding(out, std::move(body), sp, '<', 0);
        return {};
    }
    const bool as_int = is_intlike(v) &&
                        (sp.type == 0 || std::string_view("bcdoxXn").find(sp.type) != std::string_view::npos);
    if (as_int) {
        const std::int64_t x = v.as_int();
        std::string digits;
        std::string prefix;
        switch (sp.type) {
            case 'b':
                digits = int_digits(x, 2, false);
                prefix = sp.alt ? "0b" : "";
                break;
            case 'o':
                digits = int_digits(x, 8, false);
                prefix = sp.alt ? "0o" : "";
                break;
            case 'x':
                digits = int_digits(x, 16, false);
                prefix = sp.alt ? "0x" : "";
                break;
            case 'X':
                digits = int_digits(x, 16, true);
                prefix = sp.alt ? "0X" : "";
                break;
            case 'c':
                if (x < 0 || x > 0x10FFFF) {
                    return invalid("%c arg not in range(0x110000)");
                }
                text::append_utf8(digits, static_cast<char32_t>(x));
                apply_padding(out, digits, sp, '<', 0);
                return {};
            default:
                digits = int_digits(x, 10, false);
        }
        if (sp.grouping) {
            digits =
                group_digits(digits, sp.grouping, sp.type == 0 || sp.type == 'd' || sp.type == 'n' ? 3 : 4);
        }
        const std::string sign = x < 0 ? "-" : (sp.sign == '+' ? "+" : sp.sign == ' ' ? " " : "");
        apply_padding(out, sign + prefix + digits, sp, '>', sign.size() + prefix.size());
        return {};
    }
    if (sp.type && std::string_view("eEfFgGn%").find(sp.type) == std::string_view::npos) {
        return invalid(
            fmt::format("Unknown format code '{}' for object of type '{}'", sp.type, v.type_name()));
    }
    double f = v.as_float();
    std::string body;
    if (sp.type == 0 && sp.precision < 0) {
        text::write_float_repr(body, f);
        if (f >= 0 && !std::signbit(f)) {
            body = (sp.sign == '+' ? "+" : sp.sign == ' ' ? " " : "") + body;
        }
    } else if (sp.type == '%') {
        body = c_format_float(f * 100, 'f', sp.precision < 0 ? 6 : sp.precision, sp.alt, sp.sign) + "%";
    } else if (sp.type == 0) {
        body = c_format_float(f, 'g', sp.precision == 0 ? 1 : sp.precision, sp.alt, sp.sign);
        // Python keeps one digit after the point where 'g' would drop it.
        if (std::isfinite(f) && body.find_first_of(".e") == std::string::npos) {
            body += ".0";
        }
    } else {
        const char t = sp.type == 'n' ? 'g' : sp.type;
        body = c_format_float(f, t, sp.precision < 0 ? 6 : sp.precision, sp.alt, sp.sign);
    }
    if (sp.grouping && std::isfinite(f)) {
        const std::size_t start = (body[0] == '-' || body[0] == '+' || body[0] == ' ') ? 1 : 0;
        std::size_t end = body.find_first_of(".eE%", start);
        if (end == std::string::npos) {
            end = body.size();
        }
        body = body.substr(0, start) + group_digits(body.substr(start, end - start), sp.grouping, 3) +
               body.substr(end);
    }
    const std::size_t sign_len =
        (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
    apply_padding(out, std::move(body), sp, '>', sign_len);
    return {};
}

}  // namespace

Result<Value> str_format(Vm&, const std::string& f, const Args& args) {
    std::string out;
    std::size_t auto_index = 0;
    bool used_auto = false;
    bool used_manual = false;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '}') {
            if (i + 1 < f.size() && f[i + 1] == '}') {
                out.push_back('}');
                ++i;
                continue;
            }
            return invalid("Single '}' encountered in format string");
        }
        if (c != '{') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '{') {
            out.push_back('{');
            ++i;
            continue;
        }
        const std::size_t close = f.find('}', i + 1);
        if (close == std::string::npos) {
            return invalid("Single '{' encountered in format string");
        }
        std::string_view field(f.data() + i + 1, close - i - 1);
        if (field.find('{') != std::string_view::npos) {
            return invalid("nested replacement fields are not supported");
        }
        std::string_view spec;
        char conversion = 0;
        if (const auto colon = field.find(':'); colon != std::string_view::npos) {
            spec = field.substr(colon + 1);
            field = field.substr(0, colon);
        }
        if (const auto bang = field.find('!'); bang != std::string_view::npos) {
            if (bang + 2 != field.size()) {
                return invalid("expected ':' after conversion specifier");
            }
            conversion = field[bang + 1];
            field = field.substr(0, bang);
        }
        // Field name: index or keyword, then .attr / [key] accessors.
        std::size_t name_end = field.find_first_of(".[");
        std::string_view head = field.substr(0, name_end);
        Value v;
        if (head.empty()) {
            if (used_manual) {
                return invalid("cannot switch from manual field specification to automatic field numbering");
            }
            used_auto = true;
            if (auto_index >= args.positional.size()) {
                return invalid(
                    fmt::format("Replacement index {} out of range for positional args tuple", auto_index));
            }
            v = args.positional[auto_index++];
        } else if (std::isdigit(static_cast<unsigned char>(head[0]))) {
            if (used_auto) {
                return invalid("cannot switch from automatic field numbering to manual field specification");
            }
            used_manual = true;
            std::size_t idx = 0;
            for (char d : head) {
                if (!std::isdigit(static_cast<unsigned char>(d)) || idx > 100000) {
                    return invalid("invalid field index");
                }
                idx = idx * 10 + static_cast<std::size_t>(d - '0');
            }
            if (idx >= args.positional.size()) {
                return invalid(
                    fmt::format("Replacement index {} out of range for positional args tuple", idx));
            }
            v = args.positional[idx];
        } else {
            bool found = false;
            for (const auto& kw : args.keyword) {
                if (kw.name == head) {
                    v = *kw.value;
                    found = true;
                }
            }
            if (!found) {
                return fail(ErrorKind::InvalidOperation, fmt::format("KeyError: '{}'", head));
            }
        }
        std::string_view rest =
            name_end == std::string_view::npos ? std::string_view() : field.substr(name_end);
        while (!rest.empty()) {
            if (rest[0] == '.') {
                const auto e = rest.find_first_of(".[", 1);
                v = v.get_attr(rest.substr(1, e == std::string_view::npos ? std::string_view::npos : e - 1));
                rest = e == std::string_view::npos ? std::string_view() : rest.substr(e);
            } else {
                const auto e = rest.find(']');
                if (e == std::string_view::npos) {
                    return invalid("Missing ']' in format string");
                }
                const std::string_view key = rest.substr(1, e - 1);
                bool digits = !key.empty();
                for (char d : key) {
                    digits = digits && std::isdigit(static_cast<unsigned char>(d));
                }
                auto r = v.get_item(digits ? Value::from_int(std::stoll(std::string(key)))
                                           : Value::from_string(std::string(key)));
                if (!r) {
                    return std::unexpected(r.error());
                }
                v = *r;
                rest = rest.substr(e + 1);
            }
        }
        if (conversion == 'r' || conversion == 'a') {
            std::string r;
            v.write_repr(r);
            v = Value::from_string(std::move(r));
        } else if (conversion == 's') {
            v = Value::from_string(v.to_string());
        } else if (conversion) {
            return invalid(fmt::format("Unknown conversion specifier {}", conversion));
        }
        if (auto r = format_value(out, v, spec); !r) {
            return std::unexpected(r.error());
        }
        if (out.size() > kMaxSize) {
            return fail(ErrorKind::LimitExceeded, "string too long");
        }
        i = close;
    }
    return Value::from_string(std::move(out));
}

}  // namespace zelk::jinja::detail
