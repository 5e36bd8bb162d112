// Jinja2's built-in filters, tests and global functions, plus minijinja's additions.
// `random` and `lipsum` are left out on purpose: a rendering must be reproducible.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "jinja/text.hpp"
#include "jinja/vm.hpp"

namespace zelk::jinja::detail {
namespace {

using Arg = const Value*;

std::unexpected<Error> invalid(std::string msg) {
    return fail(ErrorKind::InvalidOperation, std::move(msg));
}

Result<std::vector<Arg>> bind(const Args& a, std::initializer_list<std::string_view> names,
                              std::string_view fn, std::size_t required = 0) {
    return bind_args(a, names, fn, required);
}

#define BIND(var, args, fn, req, ...)                  \
    auto var##_r = bind(args, {__VA_ARGS__}, fn, req); \
    if (!var##_r) {                                    \
        return std::unexpected(var##_r.error());       \
    }                                                  \
    const auto& var = *var##_r

bool flag(Arg a, bool def = false) {
    return a ? a->truthy() : def;
}

std::string str_of(const Value& v) {
    return v.to_string();
}

Result<std::int64_t> int_arg(Arg a, std::int64_t def, std::string_view what) {
    if (!a || a->is_none()) {
        return def;
    }
    if (a->kind() == Value::Kind::Int || a->kind() == Value::Kind::Bool) {
        return a->as_int();
    }
    return invalid(fmt::format("{} must be an integer", what));
}

Value make_safe_like(const Value& input, std::string s) {
    return Value::from_string(std::move(s), input.is_safe());
}

// Attribute path lookup as Jinja2's make_attrgetter ("a.b", "a.0").
Value lookup_path(const Value& v, std::string_view path) {
    Value cur = v;
    while (true) {
        const auto dot = path.find('.');
        const std::string_view part = path.substr(0, dot);
        bool numeric = !part.empty();
        for (char c : part) {
            numeric = numeric && c >= '0' && c <= '9';
        }
        if (cur.is_undefined()) {
            return cur;
        }
        if (numeric && cur.kind() != Value::Kind::Map) {
            auto r = cur.get_item(Value::from_int(std::strtoll(std::string(part).c_str(), nullptr, 10)));
            cur = r ? *r : Value();
        } else {
            Value next = cur.get_attr(part);
            if (next.is_undefined() && numeric) {
                auto r = cur.get_item(Value::from_int(std::strtoll(std::string(part).c_str(), nullptr, 10)));
                next = r ? *r : Value();
            }
            cur = next;
        }
        if (dot == std::string_view::npos) {
            return cur;
        }
        path.remove_prefix(dot + 1);
    }
}

Value attr_of(const Value& v, const Value& attribute) {
    if (attribute.kind() == Value::Kind::Int) {
        auto r = v.get_item(attribute);
        return r ? *r : Value();
    }
    return lookup_path(v, attribute.to_string());
}

Value fold_case(const Value& v, bool case_sensitive) {
    if (!case_sensitive && v.is_string()) {
        return Value::from_string(text::lower(v.str()));
    }
    return v;
}

// Sorting that reports the first comparison error instead of throwing.
Result<void> sort_values(std::vector<Value>& keys, std::vector<std::size_t>& order, bool reverse) {
    std::optional<Error> err;
    // Ties fall back to the original position, which makes the sort stable.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (err) {
            return a < b;
        }
        auto c = keys[a].compare(keys[b]);
        if (!c) {
            err = c.error();
            return a < b;
        }
        if (*c == 0) {
            return a < b;
        }
        return reverse ? *c > 0 : *c < 0;
    });
    if (err) {
        return std::unexpected(*err);
    }
    return {};
}

Result<std::vector<Value>> sorted_by(const std::vector<Value>& items, const Value* attribute,
                                     bool case_sensitive, bool reverse) {
    std::vector<Value> keys;
    keys.reserve(items.size());
    for (const auto& it : items) {
        keys.push_back(fold_case(attribute ? attr_of(it, *attribute) : it, case_sensitive));
    }
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (auto r = sort_values(keys, order, reverse); !r) {
        return std::unexpected(r.error());
    }
    std::vector<Value> out;
    out.reserve(items.size());
    for (auto i : order) {
        out.push_back(items[i]);
    }
    return out;
}

// ---------------------------------------------------------------- filters

Result<Value> f_abs(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "abs", 0);
    (void)p;
    if (v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool) {
        if (v.as_int() == INT64_MIN) {
            return invalid("integer overflow");
        }
        return Value::from_int(std::llabs(v.as_int()));
    }
    if (v.kind() == Value::Kind::Float) {
        return Value::from_float(std::fabs(v.as_float()));
    }
    if (v.is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    return invalid(fmt::format("bad operand type for abs(): '{}'", v.type_name()));
}

Result<Value> f_attr(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "attr", 1, "name");
    if (v.is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    return v.get_attr(p[0]->to_string());
}

Result<Value> f_batch(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "batch", 1, "linecount", "fill_with");
    auto n = int_arg(p[0], 1, "linecount");
    if (!n) {
        return std::unexpected(n.error());
    }
    if (*n <= 0) {
        return invalid("batch size must be positive");
    }
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    std::vector<Value> out;
    std::vector<Value> tmp;
    for (auto& x : *items) {
        if (static_cast<std::int64_t>(tmp.size()) == *n) {
            out.push_back(Value::seq(std::move(tmp)));
            tmp.clear();
        }
        tmp.push_back(x);
    }
    if (!tmp.empty()) {
        if (p[1] && !p[1]->is_none()) {
            while (static_cast<std::int64_t>(tmp.size()) < *n) {
                tmp.push_back(*p[1]);
            }
        }
        out.push_back(Value::seq(std::move(tmp)));
    }
    return Value::seq(std::move(out));
}

Result<Value> f_capitalize(Vm&, const Value& v, const Args&) {
    return make_safe_like(v, text::capitalize(str_of(v)));
}
Result<Value> f_upper(Vm&, const Value& v, const Args&) {
    return make_safe_like(v, text::upper(str_of(v)));
}
Result<Value> f_lower(Vm&, const Value& v, const Args&) {
    return make_safe_like(v, text::lower(str_of(v)));
}
Result<Value> f_title(Vm&, const Value& v, const Args&) {
    return make_safe_like(v, text::title(str_of(v)));
}

Result<Value> f_center(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "center", 0, "width");
    auto w = int_arg(p[0], 80, "width");
    if (!w) {
        return std::unexpected(w.error());
    }
    if (*w > static_cast<std::int64_t>(kMaxSize)) {
        return fail(ErrorKind::LimitExceeded, "width too large");
    }
    const std::string s = str_of(v);
    const auto len = static_cast<std::int64_t>(text::length(s));
    if (*w <= len) {
        return Value::from_string(s);
    }
    const std::int64_t marg = *w - len;
    const std::int64_t left = marg / 2 + (marg & *w & 1);
    return Value::from_string(std::string(static_cast<std::size_t>(left), ' ') + s +
                              std::string(static_cast<std::size_t>(marg - left), ' '));
}

Result<Value> f_default(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "default", 0, "default_value", "boolean");
    const bool boolean = flag(p[1]);
    if (v.is_undefined() || (boolean && !v.truthy())) {
        return p[0] ? *p[0] : Value::from_string("");
    }
    return v;
}

Result<Value> f_dictsort(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "dictsort", 0, "case_sensitive", "by", "reverse");
    if (v.kind() != Value::Kind::Map) {
        return invalid("dictsort filter expects a mapping");
    }
    std::size_t pos = 0;
    if (p[1]) {
        const std::string by = p[1]->to_string();
        if (by == "value") {
            pos = 1;
        } else if (by != "key") {
            return invalid("You can only sort by either \"key\" or \"value\"");
        }
    }
    std::vector<Value> pairs;
    std::vector<Value> keys;
    for (const auto& [k, x] : v.map_entries().entries()) {
        pairs.push_back(Value::tuple({k, x}));
        keys.push_back(fold_case(pos == 0 ? k : x, flag(p[0])));
    }
    std::vector<std::size_t> order(pairs.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (auto r = sort_values(keys, order, flag(p[2])); !r) {
        return std::unexpected(r.error());
    }
    std::vector<Value> out;
    for (auto i : order) {
        out.push_back(pairs[i]);
    }
    return Value::seq(std::move(out));
}

Result<Value> f_escape(Vm&, const Value& v, const Args&) {
    if (v.is_safe()) {
        return v;
    }
    std::string out;
    html_escape(str_of(v), out);
    return Value::safe_string(std::move(out));
}

Result<Value> f_forceescape(Vm&, const Value& v, const Args&) {
    std::string out;
    html_escape(str_of(v), out);
    return Value::safe_string(std::move(out));
}

Result<Value> f_filesizeformat(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "filesizeformat", 0, "binary");
    double bytes = 0;
    if (v.is_number()) {
        bytes = v.as_float();
    } else if (v.is_string()) {
        char* end = nullptr;
        bytes = std::strtod(v.str().c_str(), &end);
        if (end == v.str().c_str()) {
            return invalid("could not convert string to float");
        }
    } else {
        return invalid("filesizeformat expects a number");
    }
    const bool binary = flag(p[0]);
    const double base = binary ? 1024 : 1000;
    static const char* dec[] = {"kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    static const char* bin[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB"};
    if (bytes == 1) {
        return Value::from_string("1 Byte");
    }
    if (bytes < base) {
        return Value::from_string(fmt::format("{} Bytes", static_cast<std::int64_t>(bytes)));
    }
    double unit = 0;
    int i = 0;
    for (; i < 8; ++i) {
        unit = std::pow(base, i + 2);
        if (bytes < unit) {
            break;
        }
    }
    if (i == 8) {
        i = 7;
    }
    return Value::from_string(fmt::format("{:.1f} {}", base * bytes / unit, binary ? bin[i] : dec[i]));
}

Result<Value> f_first(Vm&, const Value& v, const Args&) {
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    return items->empty() ? Value() : items->front();
}

Result<Value> f_last(Vm&, const Value& v, const Args&) {
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    return items->empty() ? Value() : items->back();
}

// Python float() of a string.
bool parse_float(std::string_view s, double& out) {
    s = text::strip(s, true, true);
    std::string clean;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '_' && i > 0 && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i - 1])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            continue;
        }
        clean.push_back(s[i]);
    }
    if (clean.empty()) {
        return false;
    }
    std::string low = text::lower(clean);
    const char* c = low.c_str();
    const char* body = (*c == '+' || *c == '-') ? c + 1 : c;
    if (std::string_view(body) == "inf" || std::string_view(body) == "infinity") {
        out = *c == '-' ? -INFINITY : INFINITY;
        return true;
    }
    if (std::string_view(body) == "nan") {
        out = NAN;
        return true;
    }
    if (low.find_first_not_of("0123456789+-.e") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    out = std::strtod(clean.c_str(), &end);
    return end == clean.c_str() + clean.size();
}

// Python int(str, base).
bool parse_int(std::string_view s, int base, std::int64_t& out) {
    s = text::strip(s, true, true);
    bool neg = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.size() > 1 && s[0] == '0') {
        const char x = static_cast<char>(s[1] | 0x20);
        const int prefixed = x == 'x' ? 16 : x == 'o' ? 8 : x == 'b' ? 2 : 0;
        if (prefixed && (base == 0 || base == prefixed)) {
            base = prefixed;
            s.remove_prefix(2);
            if (!s.empty() && s[0] == '_') {
                s.remove_prefix(1);
            }
        }
    }
    if (base == 0) {
        base = 10;
        if (s.size() > 1 && s[0] == '0') {
            return false;
        }
    }
    if (s.empty() || base < 2 || base > 36) {
        return false;
    }
    std::uint64_t acc = 0;
    bool prev_us = true;
    for (char c : s) {
        if (c == '_') {
            if (prev_us) {
                return false;
            }
            prev_us = true;
            continue;
        }
        prev_us = false;
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') {
            d = (c | 0x20) - 'a' + 10;
        }
        if (d < 0 || d >= base) {
            return false;
        }
        if (acc > (static_cast<std::uint64_t>(INT64_MAX) + (neg ? 1 : 0) - static_cast<std::uint64_t>(d)) /
                      static_cast<std::uint64_t>(base)) {
            return false;
        }
        acc = acc * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    if (prev_us) {
        return false;
    }
    out = neg ? static_cast<std::int64_t>(0 - acc) : static_cast<std::int64_t>(acc);
    return true;
}

Result<Value> f_float(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "float", 0, "default");
    const Value def = p[0] ? *p[0] : Value::from_float(0.0);
    if (v.is_number()) {
        return Value::from_float(v.as_float());
    }
    if (v.is_string()) {
        double f = 0;
        return parse_float(v.str(), f) ? Value::from_float(f) : def;
    }
    if (v.is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    return def;
}

Result<Value> f_int(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "int", 0, "default", "base");
    const Value def = p[0] ? *p[0] : Value::from_int(0);
    auto base = int_arg(p[1], 10, "base");
    if (!base) {
        return std::unexpected(base.error());
    }
    if (v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool) {
        return Value::from_int(v.as_int());
    }
    if (v.kind() == Value::Kind::Float) {
        const double f = v.as_float();
        if (!std::isfinite(f) || std::fabs(f) >= 9.2233720368547758e18) {
            return std::isfinite(f) ? Result<Value>(invalid("integer overflow")) : def;
        }
        return Value::from_int(static_cast<std::int64_t>(f));
    }
    if (v.is_string()) {
        std::int64_t i = 0;
        if (parse_int(v.str(), static_cast<int>(*base), i)) {
            return Value::from_int(i);
        }
        double f = 0;
        if (parse_float(v.str(), f) && std::isfinite(f)) {
            if (std::fabs(f) >= 9.2233720368547758e18) {
                return invalid("integer overflow");
            }
            return Value::from_int(static_cast<std::int64_t>(f));
        }
        return def;
    }
    if (v.is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    return def;
}

Result<Value> f_indent(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "indent", 0, "width", "first", "blank");
    if (!v.is_string()) {
        return v.is_undefined() ? Result<Value>(fail(ErrorKind::UndefinedError))
                                : invalid(fmt::format("indent expects a string, got {}", v.type_name()));
    }
    std::string ind = "    ";
    if (p[0]) {
        if (p[0]->is_string()) {
            ind = p[0]->str();
        } else {
            auto w = int_arg(p[0], 4, "width");
            if (!w) {
                return std::unexpected(w.error());
            }
            if (*w > 10000) {
                return fail(ErrorKind::LimitExceeded, "indent width too large");
            }
            ind = std::string(static_cast<std::size_t>(std::max<std::int64_t>(0, *w)), ' ');
        }
    }
    const std::string s = str_of(v) + "\n";
    // splitlines semantics: every kind of line break ends a line.
    std::vector<std::string> lines;
    std::string cur;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\x1c' || c == '\x1d' || c == '\x1e') {
            if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
                ++i;
            }
            lines.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) {
        lines.push_back(std::move(cur));
    }
    std::string rv;
    if (flag(p[2])) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i) {
                rv += "\n" + ind;
            }
            rv += lines[i];
        }
    } else if (!lines.empty()) {
        rv = lines[0];
        for (std::size_t i = 1; i < lines.size(); ++i) {
            rv += "\n";
            if (!lines[i].empty()) {
                rv += ind;
            }
            rv += lines[i];
        }
    }
    if (flag(p[1])) {
        rv = ind + rv;
    }
    if (rv.size() > kMaxSize) {
        return fail(ErrorKind::LimitExceeded, "string too long");
    }
    return make_safe_like(v, std::move(rv));
}

Result<Value> f_items(Vm&, const Value& v, const Args&) {
    if (v.is_undefined()) {
        return Value::seq({});
    }
    if (v.kind() != Value::Kind::Map) {
        return invalid(fmt::format("can only get item pairs from a mapping, not {}", v.type_name()));
    }
    std::vector<Value> out;
    for (const auto& [k, x] : v.map_entries().entries()) {
        out.push_back(Value::tuple({k, x}));
    }
    return Value::seq(std::move(out));
}

Result<Value> f_join(Vm& vm, const Value& v, const Args& a) {
    BIND(p, a, "join", 0, "d", "attribute");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    if (p[1]) {
        for (auto& x : *items) {
            x = attr_of(x, *p[1]);
        }
    }
    const Value sep = p[0] ? *p[0] : Value::from_string("");
    bool any_safe = sep.is_safe();
    for (const auto& x : *items) {
        any_safe |= x.is_safe();
    }
    const bool markup = any_safe && vm.frame().auto_escape.kind == AutoEscape::Kind::Html;
    std::string out;
    auto put = [&](const Value& x) {
        if (markup && !x.is_safe()) {
            html_escape(x.to_string(), out);
        } else {
            x.write_string(out);
        }
    };
    for (std::size_t i = 0; i < items->size(); ++i) {
        if (i) {
            put(sep);
        }
        put((*items)[i]);
        if (out.size() > kMaxSize) {
            return fail(ErrorKind::LimitExceeded, "string too long");
        }
    }
    if (auto c = vm.charge(items->size() / 64 + out.size() / 4096); !c) {
        return std::unexpected(c.error());
    }
    return Value::from_string(std::move(out), markup);
}

Result<Value> f_length(Vm&, const Value& v, const Args&) {
    switch (v.kind()) {
        case Value::Kind::Undefined:
            return Value::from_int(0);
        case Value::Kind::String:
            return Value::from_int(static_cast<std::int64_t>(text::length(v.str())));
        case Value::Kind::Seq:
        case Value::Kind::Tuple:
            return Value::from_int(static_cast<std::int64_t>(v.items().size()));
        case Value::Kind::Map:
            return Value::from_int(static_cast<std::int64_t>(v.map_entries().size()));
        case Value::Kind::Object:
            if (const auto* attrs = v.obj().attributes()) {
                return Value::from_int(static_cast<std::int64_t>(attrs->size()));
            }
            [[fallthrough]];
        default:
            return invalid(fmt::format("object of type '{}' has no len()", v.type_name()));
    }
}

Result<Value> f_list(Vm&, const Value& v, const Args&) {
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    return Value::seq(std::move(*items));
}

Result<Value> f_map(Vm& vm, const Value& v, const Args& a) {
    // Jinja2 maps over nothing when the input is false (0, "", none).
    auto items = v.truthy() ? iterate(v) : std::vector<Value>{};
    if (!items) {
        return std::unexpected(items.error());
    }
    std::vector<Value> out;
    out.reserve(items->size());
    if (a.positional.empty()) {
        const Value* attribute = nullptr;
        const Value* def = nullptr;
        for (const auto& kw : a.keyword) {
            if (kw.name == "attribute") {
                attribute = kw.value;
            } else if (kw.name == "default") {
                def = kw.value;
            } else {
                return fail(ErrorKind::TooManyArguments,
                            fmt::format("map() got an unexpected keyword argument '{}'", kw.name));
            }
        }
        if (!attribute) {
            return fail(ErrorKind::MissingArgument, "map requires a filter name or an attribute");
        }
        for (const auto& x : *items) {
            Value r = attr_of(x, *attribute);
            out.push_back(r.is_undefined() && def ? *def : r);
        }
        return Value::seq(std::move(out));
    }
    const std::string name = a.positional[0].to_string();
    const Args rest{a.positional.subspan(1), a.keyword};
    for (const auto& x : *items) {
        auto r = vm.apply_filter(name, x, rest);
        if (!r) {
            return r;
        }
        out.push_back(std::move(*r));
    }
    return Value::seq(std::move(out));
}

Result<Value> min_max(const Value& v, const Args& a, bool is_max) {
    BIND(p, a, is_max ? "max" : "min", 0, "case_sensitive", "attribute");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    if (items->empty()) {
        return Value();
    }
    std::size_t best = 0;
    Value best_key = fold_case(p[1] ? attr_of((*items)[0], *p[1]) : (*items)[0], flag(p[0]));
    for (std::size_t i = 1; i < items->size(); ++i) {
        Value k = fold_case(p[1] ? attr_of((*items)[i], *p[1]) : (*items)[i], flag(p[0]));
        auto c = k.compare(best_key);
        if (!c) {
            return std::unexpected(c.error());
        }
        if (is_max ? *c > 0 : *c < 0) {
            best = i;
            best_key = k;
        }
    }
    return (*items)[best];
}

Result<Value> f_max(Vm&, const Value& v, const Args& a) {
    return min_max(v, a, true);
}
Result<Value> f_min(Vm&, const Value& v, const Args& a) {
    return min_max(v, a, false);
}

Result<Value> f_pprint(Vm&, const Value& v, const Args&) {
    std::string out;
    v.write_repr(out);
    return Value::from_string(std::move(out));
}

// select/reject/selectattr/rejectattr share one loop.
Result<Value> select_impl(Vm& vm, const Value& v, const Args& a, bool with_attr, bool keep) {
    auto items = v.truthy() ? iterate(v) : std::vector<Value>{};
    if (!items) {
        return std::unexpected(items.error());
    }
    std::size_t idx = 0;
    const Value* attribute = nullptr;
    if (with_attr) {
        if (a.positional.empty()) {
            return fail(ErrorKind::MissingArgument, "missing attribute");
        }
        attribute = &a.positional[0];
        idx = 1;
    }
    std::string test;
    if (idx < a.positional.size()) {
        test = a.positional[idx].to_string();
        ++idx;
    }
    const Args rest{a.positional.subspan(std::min(idx, a.positional.size())), a.keyword};
    std::vector<Value> out;
    for (const auto& x : *items) {
        const Value subject = attribute ? attr_of(x, *attribute) : x;
        bool ok = false;
        if (test.empty()) {
            ok = subject.truthy();
        } else {
            auto r = vm.apply_test(test, subject, rest);
            if (!r) {
                return std::unexpected(r.error());
            }
            ok = *r;
        }
        if (ok == keep) {
            out.push_back(x);
        }
    }
    return Value::seq(std::move(out));
}

Result<Value> f_select(Vm& vm, const Value& v, const Args& a) {
    return select_impl(vm, v, a, false, true);
}
Result<Value> f_reject(Vm& vm, const Value& v, const Args& a) {
    return select_impl(vm, v, a, false, false);
}
Result<Value> f_selectattr(Vm& vm, const Value& v, const Args& a) {
    return select_impl(vm, v, a, true, true);
}
Result<Value> f_rejectattr(Vm& vm, const Value& v, const Args& a) {
    return select_impl(vm, v, a, true, false);
}

Result<Value> f_replace(Vm& vm, const Value& v, const Args& a) {
    BIND(p, a, "replace", 2, "old", "new", "count");
    auto count = int_arg(p[2], -1, "count");
    if (!count) {
        return std::unexpected(count.error());
    }
    const std::string s = str_of(v);
    std::string old_s = p[0]->to_string();
    std::string new_s = p[1]->to_string();
    const bool markup = v.is_safe() && vm.frame().auto_escape.kind == AutoEscape::Kind::Html;
    if (markup) {
        if (!p[0]->is_safe()) {
            std::string e;
            html_escape(old_s, e);
            old_s = std::move(e);
        }
        if (!p[1]->is_safe()) {
            std::string e;
            html_escape(new_s, e);
            new_s = std::move(e);
        }
    }
    std::string out;
    std::int64_t done = 0;
    if (old_s.empty()) {
        // Python inserts `new` between every character (and at both ends).
        std::size_t pos = 0;
        while (true) {
            if (*count >= 0 && done >= *count) {
                out.append(s, pos);
                break;
            }
            out += new_s;
            ++done;
            if (pos >= s.size()) {
                break;
            }
            const std::size_t start = pos;
            text::next_code_point(s, pos);
            out.append(s, start, pos - start);
            if (out.size() > kMaxSize) {
                return fail(ErrorKind::LimitExceeded, "string too long");
            }
        }
    } else {
        std::size_t pos = 0;
        while (true) {
            const std::size_t hit = s.find(old_s, pos);
            if (hit == std::string::npos || (*count >= 0 && done >= *count)) {
                out.append(s, pos);
                break;
            }
            out.append(s, pos, hit - pos);
            out += new_s;
            ++done;
            pos = hit + old_s.size();
            if (out.size() > kMaxSize) {
                return fail(ErrorKind::LimitExceeded, "string too long");
            }
        }
    }
    return Value::from_string(std::move(out), v.is_safe() && markup);
}

Result<Value> f_reverse(Vm&, const Value& v, const Args&) {
    if (v.is_string()) {
        auto cps = text::code_points(v.str());
        std::string out;
        for (auto it = cps.rbegin(); it != cps.rend(); ++it) {
            text::append_utf8(out, *it);
        }
        return Value::from_string(std::move(out));
    }
    auto items = iterate(v);
    if (!items) {
        return invalid("argument must be iterable");
    }
    std::reverse(items->begin(), items->end());
    return Value::seq(std::move(*items));
}

// Python round(x, ndigits): correctly rounded, ties to even on the exact binary value.
double py_round(double x, std::int64_t nd) {
    if (!std::isfinite(x)) {
        return x;
    }
    if (nd >= 0) {
        if (nd > 300) {
            return x;
        }
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(nd), x);
        return std::strtod(buf, nullptr);
    }
    if (nd < -308) {
        return std::copysign(0.0, x);
    }
    const double pow1 = std::pow(10.0, static_cast<double>(-nd));
    const double y = x / pow1;
    double z = std::nearbyint(y);
    return z * pow1;
}

Result<Value> f_round(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "round", 0, "precision", "method");
    auto prec = int_arg(p[0], 0, "precision");
    if (!prec) {
        return std::unexpected(prec.error());
    }
    const std::string method = p[1] ? p[1]->to_string() : "common";
    if (method != "common" && method != "ceil" && method != "floor") {
        return invalid("method must be 'common', 'ceil' or 'floor'");
    }
    if (v.kind() == Value::Kind::Int && method == "common") {
        if (*prec >= 0) {
            return v;
        }
    }
    if (!v.is_number()) {
        return v.is_undefined()
                   ? Result<Value>(fail(ErrorKind::UndefinedError))
                   : invalid(fmt::format("type {} doesn't define __round__ method", v.type_name()));
    }
    const double x = v.as_float();
    if (method == "common") {
        const double r = py_round(x, *prec);
        if (v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool) {
            return Value::from_int(static_cast<std::int64_t>(r));
        }
        return Value::from_float(r);
    }
    const double scale = std::pow(10.0, static_cast<double>(*prec));
    const double r = (method == "ceil" ? std::ceil(x * scale) : std::floor(x * scale)) / scale;
    return Value::from_float(r);
}

Result<Value> f_safe(Vm&, const Value& v, const Args&) {
    return Value::safe_string(str_of(v));
}

Result<Value> f_slice(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "slice", 1, "slices", "fill_with");
    auto n = int_arg(p[0], 1, "slices");
    if (!n) {
        return std::unexpected(n.error());
    }
    if (*n <= 0) {
        return invalid("slices must be positive");
    }
    if (*n > static_cast<std::int64_t>(kMaxItems)) {
        return fail(ErrorKind::LimitExceeded, "too many slices");
    }
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    const auto slices = static_cast<std::size_t>(*n);
    const std::size_t len = items->size();
    const std::size_t per = len / slices;
    const std::size_t extra = len % slices;
    std::size_t offset = 0;
    std::vector<Value> out;
    for (std::size_t i = 0; i < slices; ++i) {
        const std::size_t start = offset + i * per;
        if (i < extra) {
            ++offset;
        }
        const std::size_t end = offset + (i + 1) * per;
        std::vector<Value> tmp(items->begin() + static_cast<std::ptrdiff_t>(start),
                               items->begin() + static_cast<std::ptrdiff_t>(end));
        if (p[1] && !p[1]->is_none() && i >= extra) {
            tmp.push_back(*p[1]);
        }
        out.push_back(Value::seq(std::move(tmp)));
    }
    return Value::seq(std::move(out));
}

Result<Value> f_sort(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "sort", 0, "reverse", "case_sensitive", "attribute");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    auto r = sorted_by(*items, p[2], flag(p[1]), flag(p[0]));
    if (!r) {
        return std::unexpected(r.error());
    }
    return Value::seq(std::move(*r));
}

Result<Value> f_string(Vm&, const Value& v, const Args&) {
    if (v.is_string()) {
        return v;
    }
    return Value::from_string(v.to_string());
}

Result<Value> f_striptags(Vm&, const Value& v, const Args&) {
    const std::string s = str_of(v);
    std::string noc;
    for (std::size_t i = 0; i < s.size();) {
        if (s.compare(i, 4, "<!--") == 0) {
            const auto e = s.find("-->", i + 4);
            if (e == std::string::npos) {
                noc.append(s, i);
                break;
            }
            i = e + 3;
        } else {
            noc.push_back(s[i++]);
        }
    }
    std::string notags;
    for (std::size_t i = 0; i < noc.size();) {
        if (noc[i] == '<') {
            const auto e = noc.find('>', i + 1);
            if (e != std::string::npos && e > i + 1) {
                i = e + 1;
                continue;
            }
        }
        notags.push_back(noc[i++]);
    }
    // Collapse white space, then unescape entities (markupsafe's order).
    std::string collapsed;
    bool pending = false;
    for (std::size_t pos = 0; pos < notags.size();) {
        const std::size_t start = pos;
        const char32_t cp = text::next_code_point(notags, pos);
        if (text::is_space(cp)) {
            pending = !collapsed.empty();
            continue;
        }
        if (pending) {
            collapsed.push_back(' ');
            pending = false;
        }
        collapsed.append(notags, start, pos - start);
    }
    std::string out;
    for (std::size_t i = 0; i < collapsed.size(); ++i) {
        if (collapsed[i] == '&') {
            static const std::pair<std::string_view, std::string_view> ents[] = {
                {"&amp;", "&"}, {"&lt;", "<"},   {"&gt;", ">"},   {"&quot;", "\""},
                {"&#39;", "'"}, {"&#34;", "\""}, {"&apos;", "'"}, {"&nbsp;", "\xc2\xa0"}};
            bool done = false;
            for (const auto& [e, r] : ents) {
                if (collapsed.compare(i, e.size(), e) == 0) {
                    out += r;
                    i += e.size() - 1;
                    done = true;
                    break;
                }
            }
            if (done) {
                continue;
            }
        }
        out.push_back(collapsed[i]);
    }
    return Value::from_string(std::move(out));
}

Result<Value> f_sum(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "sum", 0, "attribute", "start");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    Value acc = p[1] ? *p[1] : Value::from_int(0);
    for (const auto& x : *items) {
        auto r = binary_op(BinOp::Add, acc, p[0] ? attr_of(x, *p[0]) : x);
        if (!r) {
            return r;
        }
        acc = std::move(*r);
    }
    return acc;
}

Result<Value> f_tojson(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "tojson", 0, "indent");
    JsonStyle style;
    style.python_separators = true;
    style.sort_keys = true;
    style.ensure_ascii = true;
    style.html_safe = true;
    if (p[0] && !p[0]->is_none()) {
        auto n = int_arg(p[0], -1, "indent");
        if (!n) {
            return std::unexpected(n.error());
        }
        style.indent = static_cast<int>(std::clamp<std::int64_t>(*n, 0, 1000));
    }
    std::string out;
    if (auto r = write_json(out, v, style); !r) {
        return std::unexpected(r.error());
    }
    return Value::safe_string(std::move(out));
}

Result<Value> f_trim(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "trim", 0, "chars");
    const std::string s = str_of(v);
    if (p[0] && !p[0]->is_none()) {
        return make_safe_like(v, text::strip_chars(s, p[0]->to_string(), true, true));
    }
    return make_safe_like(v, std::string(text::strip(s, true, true)));
}

Result<Value> f_truncate(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "truncate", 0, "length", "killwords", "end", "leeway");
    if (v.is_number() || v.is_none()) {
        return invalid(fmt::format("object of type '{}' has no len()", v.type_name()));
    }
    auto length = int_arg(p[0], 255, "length");
    auto leeway = int_arg(p[3], 5, "leeway");
    if (!length || !leeway) {
        return std::unexpected(!length ? length.error() : leeway.error());
    }
    const std::string end = p[2] ? p[2]->to_string() : "...";
    const auto cps = text::code_points(str_of(v));
    const auto end_len = static_cast<std::int64_t>(text::length(end));
    if (*length < end_len) {
        return invalid(fmt::format("expected length >= {}, got {}", end_len, *length));
    }
    if (*leeway < 0) {
        return invalid(fmt::format("expected leeway >= 0, got {}", *leeway));
    }
    if (static_cast<std::int64_t>(cps.size()) <= *length + *leeway) {
        return Value::from_string(str_of(v));
    }
    std::string head;
    for (std::int64_t i = 0; i < *length - end_len; ++i) {
        text::append_utf8(head, cps[static_cast<std::size_t>(i)]);
    }
    if (flag(p[1])) {
        return Value::from_string(head + end);
    }
    const auto sp = head.rfind(' ');
    if (sp != std::string::npos) {
        head.resize(sp);
    }
    return Value::from_string(head + end);
}

Result<Value> f_unique(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "unique", 0, "case_sensitive", "attribute");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    std::vector<Value> out;
    std::vector<Value> seen;
    for (const auto& x : *items) {
        const Value k = fold_case(p[1] ? attr_of(x, *p[1]) : x, flag(p[0]));
        bool dup = false;
        for (const auto& s : seen) {
            if (s.equals(k)) {
                dup = true;
                break;
            }
        }
        if (!dup) {
            seen.push_back(k);
            out.push_back(x);
        }
    }
    return Value::seq(std::move(out));
}

void url_quote(std::string& out, std::string_view s, bool for_qs) {
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
            c == '.' || c == '-' || c == '~' || (!for_qs && c == '/')) {
            out.push_back(static_cast<char>(c));
        } else if (for_qs && c == ' ') {
            out.push_back('+');
        } else {
            out += fmt::format("%{:02X}", c);
        }
    }
}

Result<Value> f_urlencode(Vm&, const Value& v, const Args&) {
    std::string out;
    if (v.is_string()) {
        url_quote(out, v.str(), false);
        return Value::from_string(std::move(out));
    }
    std::vector<std::pair<Value, Value>> pairs;
    if (v.kind() == Value::Kind::Map) {
        pairs = v.map_entries().entries();
    } else if (v.is_sequence()) {
        for (const auto& x : v.items()) {
            if (!x.is_sequence() || x.items().size() != 2) {
                return invalid("urlencode expects pairs");
            }
            pairs.emplace_back(x.items()[0], x.items()[1]);
        }
    } else {
        url_quote(out, v.to_string(), false);
        return Value::from_string(std::move(out));
    }
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i) {
            out.push_back('&');
        }
        url_quote(out, pairs[i].first.to_string(), true);
        out.push_back('=');
        url_quote(out, pairs[i].second.to_string(), true);
    }
    return Value::from_string(std::move(out));
}

bool is_word_cp(char32_t cp) {
    return cp == '_' || text::is_alpha_cp(cp) || text::is_numeric_cp(cp);
}

Result<Value> f_wordcount(Vm&, const Value& v, const Args&) {
    const std::string s = str_of(v);
    std::int64_t n = 0;
    bool in_word = false;
    for (std::size_t pos = 0; pos < s.size();) {
        const bool w = is_word_cp(text::next_code_point(s, pos));
        if (w && !in_word) {
            ++n;
        }
        in_word = w;
    }
    return Value::from_int(n);
}

// Python textwrap.wrap with Jinja2's options, per line of the input.
Result<Value> f_wordwrap(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "wordwrap", 0, "width", "break_long_words", "wrapstring", "break_on_hyphens");
    auto width = int_arg(p[0], 79, "width");
    if (!width) {
        return std::unexpected(width.error());
    }
    if (*width <= 0) {
        return invalid(fmt::format("invalid width {} (must be > 0)", *width));
    }
    const bool break_long = flag(p[1], true);
    const std::string wrap = p[2] && !p[2]->is_none() ? p[2]->to_string() : "\n";
    const auto w = static_cast<std::size_t>(*width);
    const std::string s = str_of(v);
    std::vector<std::string> paragraphs;
    {
        std::string cur;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\n' || s[i] == '\r') {
                if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
                    ++i;
                }
                paragraphs.push_back(std::move(cur));
                cur.clear();
            } else {
                cur.push_back(s[i]);
            }
        }
        paragraphs.push_back(std::move(cur));
    }
    std::string out;
    bool first_line = true;
    for (const auto& para : paragraphs) {
        std::vector<std::vector<char32_t>> words;
        std::vector<char32_t> cur;
        for (char32_t cp : text::code_points(para)) {
            if (text::is_space(cp)) {
                if (!cur.empty()) {
                    words.push_back(std::move(cur));
                    cur.clear();
                }
            } else {
                cur.push_back(cp);
            }
        }
        if (!cur.empty()) {
            words.push_back(std::move(cur));
        }
        std::vector<std::vector<char32_t>> lines;
        std::vector<char32_t> line;
        for (auto& word : words) {
            while (true) {
                const std::size_t need = line.empty() ? word.size() : line.size() + 1 + word.size();
                if (need <= w) {
                    if (!line.empty()) {
                        line.push_back(' ');
                    }
                    line.insert(line.end(), word.begin(), word.end());
                    break;
                }
                if (!line.empty()) {
                    lines.push_back(std::move(line));
                    line.clear();
                    continue;
                }
                if (!break_long) {
                    line = word;
                    break;
                }
                lines.emplace_back(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(w));
                word.erase(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(w));
                if (word.empty()) {
                    break;
                }
            }
        }
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        for (const auto& l : lines) {
            if (!first_line) {
                out += wrap;
            }
            first_line = false;
            for (char32_t cp : l) {
                text::append_utf8(out, cp);
            }
        }
    }
    return Value::from_string(std::move(out));
}

Result<Value> f_xmlattr(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "xmlattr", 0, "autospace");
    if (v.kind() != Value::Kind::Map) {
        return invalid("xmlattr expects a mapping");
    }
    std::string out;
    bool first = true;
    for (const auto& [k, x] : v.map_entries().entries()) {
        if (x.is_none() || x.is_undefined()) {
            continue;
        }
        const std::string key = k.to_string();
        if (key.empty() || key.find_first_of(" /=>\t\n\f") != std::string::npos) {
            return invalid(fmt::format("Invalid character in attribute name: '{}'", key));
        }
        if (!first) {
            out.push_back(' ');
        }
        first = false;
        html_escape(key, out);
        out += "=\"";
        if (x.is_safe()) {
            out += x.str();
        } else {
            html_escape(x.to_string(), out);
        }
        out.push_back('"');
    }
    if (!out.empty() && flag(p[0], true)) {
        out.insert(out.begin(), ' ');
    }
    return Value::safe_string(std::move(out));
}

Result<Value> f_format(Vm&, const Value& v, const Args& a) {
    if (!a.keyword.empty()) {
        if (!a.positional.empty()) {
            return invalid("can't handle positional and keyword arguments at the same time");
        }
        ValueMap m;
        for (const auto& kw : a.keyword) {
            m.insert_or_assign(Value::from_string(std::string(kw.name)), *kw.value);
        }
        return percent_format(str_of(v), Value::map(std::move(m)));
    }
    return percent_format(str_of(v),
                          Value::tuple(std::vector<Value>(a.positional.begin(), a.positional.end())));
}

Result<Value> f_groupby(Vm&, const Value& v, const Args& a) {
    BIND(p, a, "groupby", 1, "attribute", "default", "case_sensitive");
    auto items = iterate(v);
    if (!items) {
        return std::unexpected(items.error());
    }
    auto key_of = [&](const Value& x) {
        Value k = attr_of(x, *p[0]);
        if (k.is_undefined() && p[1]) {
            k = *p[1];
        }
        return k;
    };
    std::vector<Value> keys;
    for (const auto& x : *items) {
        keys.push_back(fold_case(key_of(x), flag(p[2])));
    }
    std::vector<std::size_t> order(items->size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (auto r = sort_values(keys, order, false); !r) {
        return std::unexpected(r.error());
    }
    std::vector<Value> out;
    std::vector<Value> group;
    Value group_key;
    Value group_display;
    for (std::size_t n = 0; n < order.size(); ++n) {
        const auto i = order[n];
        if (n > 0 && !keys[i].equals(group_key)) {
            out.push_back(Value::tuple({group_display, Value::seq(std::move(group))}));
            group.clear();
        }
        if (group.empty()) {
            group_key = keys[i];
            group_display = flag(p[2]) ? keys[i] : key_of((*items)[i]);
        }
        group.push_back((*items)[i]);
    }
    if (!group.empty()) {
        out.push_back(Value::tuple({group_display, Value::seq(std::move(group))}));
    }
    return Value::seq(std::move(out));
}

// minijinja additions

Result<Value> f_bool(Vm&, const Value& v, const Args&) {
    return Value::from_bool(v.truthy());
}

Result<Value> f_lines(Vm& vm, const Value& v, const Args& a) {
    bool handled = false;
    return call_builtin_method(vm, Value::from_string(str_of(v)), "splitlines", a, handled);
}

Result<Value> f_split(Vm& vm, const Value& v, const Args& a) {
    bool handled = false;
    return call_builtin_method(vm, Value::from_string(str_of(v)), "split", a, handled);
}

Result<Value> f_chain(Vm&, const Value& v, const Args& a) {
    if (!a.keyword.empty()) {
        return fail(ErrorKind::TooManyArguments, "chain() takes no keyword arguments");
    }
    // Maps chain into one map; anything else into one list.
    if (v.kind() == Value::Kind::Map) {
        ValueMap m = v.map_entries();
        for (const auto& x : a.positional) {
            if (x.kind() != Value::Kind::Map) {
                return invalid("chain of a map expects maps");
            }
            for (const auto& [k, y] : x.map_entries().entries()) {
                m.insert_or_assign(k, y);
            }
        }
        return Value::map(std::move(m));
    }
    auto first = iterate(v);
    if (!first) {
        return std::unexpected(first.error());
    }
    std::vector<Value> out = std::move(*first);
    for (const auto& x : a.positional) {
        auto more = iterate(x);
        if (!more) {
            return std::unexpected(more.error());
        }
        out.insert(out.end(), more->begin(), more->end());
        if (out.size() > kMaxItems) {
            return fail(ErrorKind::LimitExceeded, "sequence too long");
        }
    }
    return Value::seq(std::move(out));
}

Result<Value> f_zip(Vm&, const Value& v, const Args& a) {
    if (!a.keyword.empty()) {
        return fail(ErrorKind::TooManyArguments, "zip() takes no keyword arguments");
    }
    std::vector<std::vector<Value>> lists;
    auto first = iterate(v);
    if (!first) {
        return std::unexpected(first.error());
    }
    lists.push_back(std::move(*first));
    for (const auto& x : a.positional) {
        auto more = iterate(x);
        if (!more) {
            return std::unexpected(more.error());
        }
        lists.push_back(std::move(*more));
    }
    std::size_t n = lists[0].size();
    for (const auto& l : lists) {
        n = std::min(n, l.size());
    }
    std::vector<Value> out;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<Value> row;
        for (const auto& l : lists) {
            row.push_back(l[i]);
        }
        out.push_back(Value::tuple(std::move(row)));
    }
    return Value::seq(std::move(out));
}

const std::unordered_map<std::string_view, BuiltinFilter>& filter_table() {
    static const std::unordered_map<std::string_view, BuiltinFilter> table = {
        {"abs", f_abs},
        {"attr", f_attr},
        {"batch", f_batch},
        {"bool", f_bool},
        {"capitalize", f_capitalize},
        {"center", f_center},
        {"chain", f_chain},
        {"count", f_length},
        {"d", f_default},
        {"default", f_default},
        {"dictsort", f_dictsort},
        {"e", f_escape},
        {"escape", f_escape},
        {"filesizeformat", f_filesizeformat},
        {"first", f_first},
        {"float", f_float},
        {"forceescape", f_forceescape},
        {"format", f_format},
        {"groupby", f_groupby},
        {"indent", f_indent},
        {"int", f_int},
        {"items", f_items},
        {"join", f_join},
        {"last", f_last},
        {"length", f_length},
        {"lines", f_lines},
        {"list", f_list},
        {"lower", f_lower},
        {"map", f_map},
        {"max", f_max},
        {"min", f_min},
        {"pprint", f_pprint},
        {"reject", f_reject},
        {"rejectattr", f_rejectattr},
        {"replace", f_replace},
        {"reverse", f_reverse},
        {"round", f_round},
        {"safe", f_safe},
        {"select", f_select},
        {"selectattr", f_selectattr},
        {"slice", f_slice},
        {"sort", f_sort},
        {"split", f_split},
        {"string", f_string},
        {"striptags", f_striptags},
        {"sum", f_sum},
        {"title", f_title},
        {"tojson", f_tojson},
        {"trim", f_trim},
        {"truncate", f_truncate},
        {"unique", f_unique},
        {"upper", f_upper},
        {"urlencode", f_urlencode},
        {"wordcount", f_wordcount},
        {"wordwrap", f_wordwrap},
        {"xmlattr", f_xmlattr},
        {"zip", f_zip},
    };
    return table;
}

// ---------------------------------------------------------------- tests

Result<const Value*> one_arg(const Args& a, std::string_view test) {
    BIND(p, a, test, 1, "other");
    return p[0];
}

Result<bool> compare_test(const Value& v, const Args& a, std::string_view name, CmpOp op) {
    auto other = one_arg(a, name);
    if (!other) {
        return std::unexpected(other.error());
    }
    if (op == CmpOp::Eq) {
        return v.equals(**other);
    }
    if (op == CmpOp::Ne) {
        return !v.equals(**other);
    }
    if (v.is_undefined() || (*other)->is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    auto c = v.compare(**other);
    if (!c) {
        return std::unexpected(c.error());
    }
    switch (op) {
        case CmpOp::Lt:
            return *c < 0;
        case CmpOp::Le:
            return *c <= 0;
        case CmpOp::Gt:
            return *c > 0;
        default:
            return *c >= 0;
    }
}

bool all_cased(const Value& v, bool upper) {
    if (!v.is_string()) {
        return false;
    }
    bool cased = false;
    const auto& s = v.str();
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = text::next_code_point(s, pos);
        if (upper ? text::is_lower_cp(cp) : text::is_upper_cp(cp)) {
            return false;
        }
        cased |= text::is_cased_cp(cp);
    }
    return cased;
}

Result<bool> divisible(const Value& v, const Args& a) {
    auto other = one_arg(a, "divisibleby");
    if (!other) {
        return std::unexpected(other.error());
    }
    auto r = binary_op(BinOp::Mod, v, **other);
    if (!r) {
        return std::unexpected(r.error());
    }
    return r->equals(Value::from_int(0));
}

Result<bool> parity(const Value& v, bool odd) {
    if (v.kind() != Value::Kind::Int && v.kind() != Value::Kind::Bool) {
        if (v.kind() == Value::Kind::Float) {
            auto r = binary_op(BinOp::Mod, v, Value::from_int(2));
            if (!r) {
                return std::unexpected(r.error());
            }
            return odd ? r->as_float() == 1.0 : r->as_float() == 0.0;
        }
        if (v.is_undefined()) {
            return fail(ErrorKind::UndefinedError);
        }
        return invalid(fmt::format("not all arguments converted during string formatting"));
    }
    const bool is_odd = (v.as_int() % 2) != 0;
    return odd ? is_odd : !is_odd;
}

const std::unordered_map<std::string_view, BuiltinTest>& test_table() {
    static const std::unordered_map<std::string_view, BuiltinTest> table = {
        {"defined", [](Vm&, const Value& v, const Args&) -> Result<bool> { return !v.is_undefined(); }},
        {"undefined", [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.is_undefined(); }},
        {"none", [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.is_none(); }},
        {"boolean",
         [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.kind() == Value::Kind::Bool; }},
        {"false",
         [](Vm&, const Value& v, const Args&) -> Result<bool> {
             return v.kind() == Value::Kind::Bool && !v.as_bool();
         }},
        {"true",
         [](Vm&, const Value& v, const Args&) -> Result<bool> {
             return v.kind() == Value::Kind::Bool && v.as_bool();
         }},
        {"integer",
         [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.kind() == Value::Kind::Int; }},
        {"float",
         [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.kind() == Value::Kind::Float; }},
        {"number", [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.is_number(); }},
        {"string", [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.is_string(); }},
        {"mapping",
         [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.kind() == Value::Kind::Map; }},
        {"iterable",
         [](Vm&, const Value& v, const Args&) -> Result<bool> {
             return v.is_undefined() || v.is_string() || v.is_sequence() || v.kind() == Value::Kind::Map;
         }},
        {"sequence",
         [](Vm&, const Value& v, const Args&) -> Result<bool> {
             return v.is_undefined() || v.is_string() || v.is_sequence() || v.kind() == Value::Kind::Map;
         }},
        {"callable",
         [](Vm&, const Value& v, const Args&) -> Result<bool> {
             if (v.kind() != Value::Kind::Object) {
                 return false;
             }
             const auto t = v.obj().type_name();
             return t == "Macro" || t == "function" || t == "BlockReference" || t == "Joiner" ||
                    t == "LoopContext";
         }},
        {"sameas",
         [](Vm&, const Value& v, const Args& a) -> Result<bool> {
             auto other = one_arg(a, "sameas");
             if (!other) {
                 return std::unexpected(other.error());
             }
             const Value& o = **other;
             if (v.kind() != o.kind()) {
                 return false;
             }
             switch (v.kind()) {
                 case Value::Kind::None:
                 case Value::Kind::Undefined:
                     return true;
                 case Value::Kind::Bool:
                     return v.as_bool() == o.as_bool();
                 case Value::Kind::Object:
                     return v.equals(o);
                 default:
                     return false;
             }
         }},
        {"escaped", [](Vm&, const Value& v, const Args&) -> Result<bool> { return v.is_safe(); }},
        {"lower", [](Vm&, const Value& v, const Args&) -> Result<bool> { return all_cased(v, false); }},
        {"upper", [](Vm&, const Value& v, const Args&) -> Result<bool> { return all_cased(v, true); }},
        {"divisibleby", [](Vm&, const Value& v, const Args& a) { return divisible(v, a); }},
        {"even", [](Vm&, const Value& v, const Args&) { return parity(v, false); }},
        {"odd", [](Vm&, const Value& v, const Args&) { return parity(v, true); }},
        {"eq", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "eq", CmpOp::Eq); }},
        {"equalto",
         [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "equalto", CmpOp::Eq); }},
        {"==", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "==", CmpOp::Eq); }},
        {"ne", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "ne", CmpOp::Ne); }},
        {"!=", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "!=", CmpOp::Ne); }},
        {"lt", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "lt", CmpOp::Lt); }},
        {"lessthan",
         [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "lessthan", CmpOp::Lt); }},
        {"<", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "<", CmpOp::Lt); }},
        {"le", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "le", CmpOp::Le); }},
        {"<=", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "<=", CmpOp::Le); }},
        {"gt", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "gt", CmpOp::Gt); }},
        {"greaterthan",
         [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "greaterthan", CmpOp::Gt); }},
        {">", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, ">", CmpOp::Gt); }},
        {"ge", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, "ge", CmpOp::Ge); }},
        {">=", [](Vm&, const Value& v, const Args& a) { return compare_test(v, a, ">=", CmpOp::Ge); }},
        {"in",
         [](Vm&, const Value& v, const Args& a) -> Result<bool> {
             auto other = one_arg(a, "in");
             if (!other) {
                 return std::unexpected(other.error());
             }
             return contains(**other, v);
         }},
        {"filter",
         [](Vm& vm, const Value& v, const Args&) -> Result<bool> {
             return v.is_string() && (vm.env().find_filter(v.str()) || find_builtin_filter(v.str()));
         }},
        {"test",
         [](Vm& vm, const Value& v, const Args&) -> Result<bool> {
             return v.is_string() && (vm.env().find_test(v.str()) || find_builtin_test(v.str()));
         }},
        {"startingwith",
         [](Vm&, const Value& v, const Args& a) -> Result<bool> {
             auto other = one_arg(a, "startingwith");
             if (!other) {
                 return std::unexpected(other.error());
             }
             return v.is_string() && (*other)->is_string() && v.str().starts_with((*other)->str());
         }},
        {"endingwith",
         [](Vm&, const Value& v, const Args& a) -> Result<bool> {
             auto other = one_arg(a, "endingwith");
             if (!other) {
                 return std::unexpected(other.error());
             }
             return v.is_string() && (*other)->is_string() && v.str().ends_with((*other)->str());
         }},
    };
    return table;
}

// ---------------------------------------------------------------- globals

class Function final : public Object {
  public:
    using Fn = Result<Value> (*)(State&, const Args&);
    Function(std::string_view name, Fn fn) : name_(name), fn_(fn) {}
    std::string_view type_name() const override { return "function"; }
    Result<Value> call(State& state, const Args& args) const override { return fn_(state, args); }
    void write_repr(std::string& out) const override { out += fmt::format("<function {}>", name_); }

  private:
    std::string_view name_;
    Fn fn_;
};

class Namespace final : public Object {
  public:
    std::string_view type_name() const override { return "Namespace"; }
    Value get_attr(std::string_view n) const override {
        for (const auto& [k, v] : attrs_) {
            if (k == n) {
                return v;
            }
        }
        return Value();
    }
    const std::vector<std::pair<std::string, Value>>* attributes() const override { return &attrs_; }
    void write_repr(std::string& out) const override {
        out += "<Namespace {";
        for (std::size_t i = 0; i < attrs_.size(); ++i) {
            if (i) {
                out += ", ";
            }
            text::write_string_repr(out, attrs_[i].first);
            out += ": ";
            attrs_[i].second.write_repr(out);
        }
        out += "}>";
    }
    void clear() const override { attrs_.clear(); }
    mutable std::vector<std::pair<std::string, Value>> attrs_;
};

class Cycler final : public Object {
  public:
    explicit Cycler(std::vector<Value> items) : items_(std::move(items)) {}
    std::string_view type_name() const override { return "Cycler"; }
    Value get_attr(std::string_view n) const override {
        if (n == "current") {
            return items_.empty() ? Value() : items_[pos_];
        }
        return Value();
    }
    Result<Value> call_method(State&, std::string_view n, const Args&) const override {
        if (n == "next" || n == "__next__") {
            if (items_.empty()) {
                return Value();
            }
            Value v = items_[pos_];
            pos_ = (pos_ + 1) % items_.size();
            return v;
        }
        if (n == "reset") {
            pos_ = 0;
            return Value::none();
        }
        return fail(ErrorKind::UnknownMethod, fmt::format("cycler has no method named {}", n));
    }
    void clear() const override { items_.clear(); }

  private:
    mutable std::vector<Value> items_;
    mutable std::size_t pos_ = 0;
};

class Joiner final : public Object {
  public:
    explicit Joiner(Value sep) : sep_(std::move(sep)) {}
    std::string_view type_name() const override { return "Joiner"; }
    Result<Value> call(State&, const Args&) const override {
        if (!used_) {
            used_ = true;
            return Value::from_string("");
        }
        return sep_;
    }

  private:
    Value sep_;
    mutable bool used_ = false;
};

Result<Value> g_range(State& state, const Args& a) {
    if (!a.keyword.empty()) {
        return fail(ErrorKind::TooManyArguments, "range() takes no keyword arguments");
    }
    if (a.positional.empty() || a.positional.size() > 3) {
        return fail(a.positional.empty() ? ErrorKind::MissingArgument : ErrorKind::TooManyArguments,
                    "range expected 1 to 3 arguments");
    }
    std::int64_t v[3] = {0, 0, 1};
    for (std::size_t i = 0; i < a.positional.size(); ++i) {
        const Value& x = a.positional[i];
        if (x.kind() != Value::Kind::Int && x.kind() != Value::Kind::Bool) {
            return invalid(fmt::format("'{}' object cannot be interpreted as an integer", x.type_name()));
        }
    }
    if (a.positional.size() == 1) {
        v[1] = a.positional[0].as_int();
    } else {
        v[0] = a.positional[0].as_int();
        v[1] = a.positional[1].as_int();
        if (a.positional.size() == 3) {
            v[2] = a.positional[2].as_int();
        }
    }
    if (v[2] == 0) {
        return invalid("range() arg 3 must not be zero");
    }
    // Unsigned arithmetic: the distance between two int64 values always fits in uint64.
    std::uint64_t count = 0;
    if (v[2] > 0 && v[1] > v[0]) {
        const std::uint64_t span = static_cast<std::uint64_t>(v[1]) - static_cast<std::uint64_t>(v[0]);
        count = (span - 1) / static_cast<std::uint64_t>(v[2]) + 1;
    } else if (v[2] < 0 && v[0] > v[1]) {
        const std::uint64_t span = static_cast<std::uint64_t>(v[0]) - static_cast<std::uint64_t>(v[1]);
        count = (span - 1) / (0 - static_cast<std::uint64_t>(v[2])) + 1;
    }
    if (count > static_cast<std::uint64_t>(kMaxRange)) {
        return fail(ErrorKind::LimitExceeded,
                    fmt::format("range has too many elements (limit {})", kMaxRange));
    }
    if (auto c = state.vm().charge(count / 64); !c) {
        return std::unexpected(c.error());
    }
    std::vector<Value> out;
    out.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        out.push_back(Value::from_int(static_cast<std::int64_t>(static_cast<std::uint64_t>(v[0]) +
                                                                i * static_cast<std::uint64_t>(v[2]))));
    }
    return Value::seq(std::move(out));
}

Result<Value> g_dict(State&, const Args& a) {
    ValueMap m;
    for (const auto& x : a.positional) {
        if (x.kind() != Value::Kind::Map) {
            return invalid("dict() positional argument must be a mapping");
        }
        for (const auto& [k, v] : x.map_entries().entries()) {
            m.insert_or_assign(k, v);
        }
    }
    for (const auto& kw : a.keyword) {
        m.insert_or_assign(Value::from_string(std::string(kw.name)), *kw.value);
    }
    return Value::map(std::move(m));
}

Result<Value> g_namespace(State& state, const Args& a) {
    auto ns = std::make_shared<Namespace>();
    for (const auto& x : a.positional) {
        if (x.kind() != Value::Kind::Map) {
            return invalid("namespace() positional argument must be a mapping");
        }
        for (const auto& [k, v] : x.map_entries().entries()) {
            ns->attrs_.emplace_back(k.to_string(), v);
        }
    }
    for (const auto& kw : a.keyword) {
        bool found = false;
        for (auto& [k, v] : ns->attrs_) {
            if (k == kw.name) {
                v = *kw.value;
                found = true;
            }
        }
        if (!found) {
            ns->attrs_.emplace_back(std::string(kw.name), *kw.value);
        }
    }
    state.vm().track(ns);
    return Value::object(std::move(ns));
}

Result<Value> g_cycler(State& state, const Args& a) {
    auto c = std::make_shared<Cycler>(std::vector<Value>(a.positional.begin(), a.positional.end()));
    state.vm().track(c);
    return Value::object(std::move(c));
}

Result<Value> g_joiner(State& state, const Args& a) {
    auto p = bind_args(a, {"sep"}, "joiner");
    if (!p) {
        return std::unexpected(p.error());
    }
    auto j = std::make_shared<Joiner>((*p)[0] ? *(*p)[0] : Value::from_string(", "));
    state.vm().track(j);
    return Value::object(std::move(j));
}

}  // namespace

BuiltinFilter find_builtin_filter(std::string_view name) {
    const auto& t = filter_table();
    auto it = t.find(name);
    return it == t.end() ? nullptr : it->second;
}

BuiltinTest find_builtin_test(std::string_view name) {
    const auto& t = test_table();
    auto it = t.find(name);
    return it == t.end() ? nullptr : it->second;
}

const Value* find_builtin_global(std::string_view name) {
    static const std::vector<std::pair<std::string_view, Value>> globals = {
        {"range", Value::object(std::make_shared<Function>("range", g_range))},
        {"dict", Value::object(std::make_shared<Function>("dict", g_dict))},
        {"namespace", Value::object(std::make_shared<Function>("namespace", g_namespace))},
        {"cycler", Value::object(std::make_shared<Function>("cycler", g_cycler))},
        {"joiner", Value::object(std::make_shared<Function>("joiner", g_joiner))},
    };
    for (const auto& [n, v] : globals) {
        if (n == name) {
            return &v;
        }
    }
    return nullptr;
}

}  // namespace zelk::jinja::detail
