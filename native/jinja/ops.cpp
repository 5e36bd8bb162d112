// Python semantics of the operators, iteration, argument binding, escaping and JSON.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "jinja/text.hpp"
#include "jinja/vm.hpp"

namespace zelk::jinja {

Result<void> Output::write(std::string_view text) {
    if (!target_) {
        return {};
    }
    if (target_->size() + text.size() > kMaxOutput) {
        return fail(ErrorKind::WriteFailure, "output too large");
    }
    target_->append(text);
    return {};
}

const AutoEscape& State::auto_escape() const noexcept {
    return vm_->frame().auto_escape;
}
std::string_view State::template_name() const noexcept {
    return vm_->frame().program->name;
}
const Environment& State::env() const noexcept {
    return vm_->env();
}

void html_escape(std::string_view s, std::string& out) {
    out.reserve(out.size() + s.size());
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&#34;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.push_back(c);
        }
    }
}

Result<void> write_default_formatted(Output& out, const State& state, const Value& value) {
    if (value.is_safe()) {
        return out.write(value.str());
    }
    const AutoEscape& ae = state.auto_escape();
    switch (ae.kind) {
        case AutoEscape::Kind::None:
            if (value.is_string()) {
                return out.write(value.str());
            } else {
                std::string s;
                value.write_string(s);
                return out.write(s);
            }
        case AutoEscape::Kind::Html: {
            std::string s;
            html_escape(value.to_string(), s);
            return out.write(s);
        }
        case AutoEscape::Kind::Json: {
            std::string s;
            if (value.is_undefined()) {
                s = "null";
            } else if (auto r = detail::write_json(s, value, detail::JsonStyle{}); !r) {
                return r;
            }
            return out.write(s);
        }
        case AutoEscape::Kind::Custom:
            return fail(ErrorKind::InvalidOperation,
                        fmt::format("the default formatter cannot escape for '{}'", ae.custom_name));
    }
    return {};
}

namespace detail {

Result<std::vector<const Value*>> bind_args(const Args& args, std::initializer_list<std::string_view> names,
                                            std::string_view function, std::size_t required) {
    std::vector<const Value*> out(names.size(), nullptr);
    if (args.positional.size() > names.size()) {
        return fail(ErrorKind::TooManyArguments,
                    fmt::format("{}() takes at most {} argument(s)", function, names.size()));
    }
    for (std::size_t i = 0; i < args.positional.size(); ++i) {
        out[i] = &args.positional[i];
    }
    for (const auto& kw : args.keyword) {
        std::size_t i = 0;
        for (auto n : names) {
            if (n == kw.name) {
                break;
            }
            ++i;
        }
        if (i == names.size()) {
            return fail(ErrorKind::TooManyArguments,
                        fmt::format("{}() got an unexpected keyword argument '{}'", function, kw.name));
        }
        if (out[i]) {
            return fail(ErrorKind::TooManyArguments,
                        fmt::format("{}() got multiple values for argument '{}'", function, kw.name));
        }
        out[i] = kw.value;
    }
    for (std::size_t i = 0; i < required; ++i) {
        if (!out[i]) {
            return fail(ErrorKind::MissingArgument,
                        fmt::format("{}() missing required argument '{}'", function, *(names.begin() + i)));
        }
    }
    return out;
}

Result<std::vector<Value>> iterate(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Undefined:
            return std::vector<Value>{};
        case Value::Kind::Seq:
        case Value::Kind::Tuple:
            return v.items();
        case Value::Kind::Map: {
            std::vector<Value> keys;
            keys.reserve(v.map_entries().size());
            for (const auto& [k, x] : v.map_entries().entries()) {
                keys.push_back(k);
            }
            return keys;
        }
        case Value::Kind::String: {
            std::vector<Value> chars;
            const auto& s = v.str();
            chars.reserve(s.size());
            for (std::size_t pos = 0; pos < s.size();) {
                const std::size_t start = pos;
                text::next_code_point(s, pos);
                chars.push_back(Value::from_string(s.substr(start, pos - start), v.is_safe()));
            }
            return chars;
        }
        case Value::Kind::Object:
            if (const auto* attrs = v.obj().attributes()) {
                std::vector<Value> keys;
                for (const auto& [k, x] : *attrs) {
                    keys.push_back(Value::from_string(k));
                }
                return keys;
            }
            [[fallthrough]];
        default:
            return fail(ErrorKind::InvalidOperation,
                        fmt::format("'{}' object is not iterable", v.type_name()));
    }
}

namespace {

std::unexpected<Error> unsupported(std::string_view op, const Value& a, const Value& b) {
    return fail(ErrorKind::InvalidOperation, fmt::format("unsupported operand type(s) for {}: '{}' and '{}'",
                                                         op, a.type_name(), b.type_name()));
}

std::unexpected<Error> overflow() {
    return fail(ErrorKind::InvalidOperation, "integer overflow");
}

bool is_int(const Value& v) {
    return v.kind() == Value::Kind::Int || v.kind() == Value::Kind::Bool;
}

// CPython's float divmod.
void float_divmod(double vx, double wx, double& floordiv, double& mod) {
    mod = std::fmod(vx, wx);
    double div = (vx - mod) / wx;
    if (mod != 0.0) {
        if ((wx < 0) != (mod < 0)) {
            mod += wx;
            div -= 1.0;
        }
    } else {
        mod = std::copysign(0.0, wx);
    }
    if (div != 0.0) {
        floordiv = std::floor(div);
        if (div - floordiv > 0.5) {
            floordiv += 1.0;
        }
    } else {
        floordiv = std::copysign(0.0, vx / wx);
    }
}

Result<Value> repeat(const Value& seq, std::int64_t n) {
    if (n <= 0) {
        return seq.is_string() ? Value::from_string("", seq.is_safe())
                               : (seq.kind() == Value::Kind::Tuple ? Value::tuple({}) : Value::seq({}));
    }
    const std::size_t unit = seq.is_string() ? seq.str().size() : seq.items().size();
    const std::size_t limit = seq.is_string() ? kMaxSize : kMaxItems;
    if (unit != 0 && static_cast<std::uint64_t>(n) > limit / unit) {
        return fail(ErrorKind::LimitExceeded, "repetition result too large");
    }
    if (seq.is_string()) {
        std::string out;
        out.reserve(unit * static_cast<std::size_t>(n));
        for (std::int64_t i = 0; i < n; ++i) {
            out += seq.str();
        }
        return Value::from_string(std::move(out), seq.is_safe());
    }
    std::vector<Value> out;
    out.reserve(unit * static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        out.insert(out.end(), seq.items().begin(), seq.items().end());
    }
    return seq.kind() == Value::Kind::Tuple ? Value::tuple(std::move(out)) : Value::seq(std::move(out));
}

Result<Value> int_pow(std::int64_t base, std::int64_t exp) {
    if (exp < 0) {
        if (base == 0) {
            return fail(ErrorKind::InvalidOperation, "0.0 cannot be raised to a negative power");
        }
        return Value::from_float(std::pow(static_cast<double>(base), static_cast<double>(exp)));
    }
    std::int64_t result = 1;
    std::int64_t b = base;
    while (exp > 0) {
        if (exp & 1) {
            if (__builtin_mul_overflow(result, b, &result)) {
                return overflow();
            }
        }
        exp >>= 1;
        if (exp > 0 && __builtin_mul_overflow(b, b, &b)) {
            return overflow();
        }
    }
    return Value::from_int(result);
}

}  // namespace

Result<Value> binary_op(BinOp op, const Value& a, const Value& b) {
    if (a.is_undefined() || b.is_undefined()) {
        return fail(ErrorKind::UndefinedError);
    }
    const bool ints = is_int(a) && is_int(b);
    const bool nums = a.is_number() && b.is_number();
    switch (op) {
        case BinOp::Add:
            if (ints) {
                std::int64_t r;
                if (__builtin_add_overflow(a.as_int(), b.as_int(), &r)) {
                    return overflow();
                }
                return Value::from_int(r);
            }
            if (nums) {
                return Value::from_float(a.as_float() + b.as_float());
            }
            if (a.is_string() && b.is_string()) {
                if (a.str().size() + b.str().size() > kMaxSize) {
                    return fail(ErrorKind::LimitExceeded, "string too long");
                }
                // markupsafe: adding to a safe string escapes the other operand.
                if (a.is_safe() || b.is_safe()) {
                    std::string out;
                    if (a.is_safe()) {
                        out = a.str();
                    } else {
                        html_escape(a.str(), out);
                    }
                    if (b.is_safe()) {
                        out += b.str();
                    } else {
                        html_escape(b.str(), out);
                    }
                    return Value::safe_string(std::move(out));
                }
                return Value::from_string(a.str() + b.str());
            }
            if (a.is_sequence() && a.kind() == b.kind()) {
                if (a.items().size() + b.items().size() > kMaxItems) {
                    return fail(ErrorKind::LimitExceeded, "sequence too long");
                }
                std::vector<Value> out = a.items();
                out.insert(out.end(), b.items().begin(), b.items().end());
                return a.kind() == Value::Kind::Tuple ? Value::tuple(std::move(out))
                                                      : Value::seq(std::move(out));
            }
            return unsupported("+", a, b);
        case BinOp::Sub:
            if (ints) {
                std::int64_t r;
                if (__builtin_sub_overflow(a.as_int(), b.as_int(), &r)) {
                    return overflow();
                }
                return Value::from_int(r);
            }
            if (nums) {
                return Value::from_float(a.as_float() - b.as_float());
            }
            return unsupported("-", a, b);
        case BinOp::Mul:
            if (ints) {
                std::int64_t r;
                if (__builtin_mul_overflow(a.as_int(), b.as_int(), &r)) {
                    return overflow();
                }
                return Value::from_int(r);
            }
            if (nums) {
                return Value::from_float(a.as_float() * b.as_float());
            }
            if ((a.is_string() || a.is_sequence()) && is_int(b)) {
                return repeat(a, b.as_int());
            }
            if (is_int(a) && (b.is_string() || b.is_sequence())) {
                return repeat(b, a.as_int());
            }
            return unsupported("*", a, b);
        case BinOp::Div:
            if (nums) {
                if (b.as_float() == 0.0) {
                    return fail(ErrorKind::InvalidOperation, "division by zero");
                }
                return Value::from_float(a.as_float() / b.as_float());
            }
            return unsupported("/", a, b);
        case BinOp::FloorDiv:
        case BinOp::Mod: {
            const bool floordiv = op == BinOp::FloorDiv;
            if (ints) {
                const std::int64_t x = a.as_int();
                const std::int64_t y = b.as_int();
                if (y == 0) {
                    return fail(ErrorKind::InvalidOperation, "integer division or modulo by zero");
                }
                if (x == INT64_MIN && y == -1) {
                    return floordiv ? Result<Value>(overflow()) : Value::from_int(0);
                }
                std::int64_t q = x / y;
                std::int64_t r = x % y;
                if (r != 0 && ((r < 0) != (y < 0))) {
                    q -= 1;
                    r += y;
                }
                return Value::from_int(floordiv ? q : r);
            }
            if (nums) {
                if (b.as_float() == 0.0) {
                    return fail(ErrorKind::InvalidOperation, "float divmod()");
                }
                double q = 0;
                double r = 0;
                float_divmod(a.as_float(), b.as_float(), q, r);
                return Value::from_float(floordiv ? q : r);
            }
            if (!floordiv && a.is_string()) {
                return percent_format(a.str(), b);
            }
            return unsupported(floordiv ? "//" : "%", a, b);
        }
        case BinOp::Pow:
            if (ints) {
                return int_pow(a.as_int(), b.as_int());
            }
            if (nums) {
                const double x = a.as_float();
                const double y = b.as_float();
                if (x == 0.0 && y < 0) {
                    return fail(ErrorKind::InvalidOperation, "0.0 cannot be raised to a negative power");
                }
                if (x < 0 && y != std::floor(y)) {
                    return fail(ErrorKind::InvalidOperation, "complex results are not supported");
                }
                const double r = std::pow(x, y);
                if (std::isinf(r) && std::isfinite(x) && std::isfinite(y)) {
                    return fail(ErrorKind::InvalidOperation, "numerical result out of range");
                }
                return Value::from_float(r);
            }
            return unsupported("** or pow()", a, b);
    }
    return unsupported("?", a, b);
}

Result<bool> contains(const Value& container, const Value& item) {
    switch (container.kind()) {
        case Value::Kind::Undefined:
            return false;
        case Value::Kind::String:
            if (!item.is_string()) {
                return fail(
                    ErrorKind::InvalidOperation,
                    fmt::format("'in <string>' requires string as left operand, not {}", item.type_name()));
            }
            return container.str().find(item.str()) != std::string::npos;
        case Value::Kind::Seq:
        case Value::Kind::Tuple:
            for (const auto& x : container.items()) {
                if (x.equals(item)) {
                    return true;
                }
            }
            return false;
        case Value::Kind::Map:
            if (!item.is_hashable()) {
                return fail(ErrorKind::NonKey, fmt::format("unhashable type: '{}'", item.type_name()));
            }
            return container.map_entries().find(item) != nullptr;
        case Value::Kind::Object:
            if (const auto* attrs = container.obj().attributes()) {
                for (const auto& [k, v] : *attrs) {
                    if (item.is_string() && k == item.str()) {
                        return true;
                    }
                }
                return false;
            }
            [[fallthrough]];
        default:
            return fail(ErrorKind::InvalidOperation,
                        fmt::format("argument of type '{}' is not iterable", container.type_name()));
    }
}

namespace {

void json_string(std::string& out, std::string_view s, const JsonStyle& style) {
    out.push_back('"');
    for (std::size_t pos = 0; pos < s.size();) {
        const char32_t cp = text::next_code_point(s, pos);
        switch (cp) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\b':
                out += "\\b";
                continue;
            case '\f':
                out += "\\f";
                continue;
            default:
                break;
        }
        const bool html = style.html_safe && (cp == '<' || cp == '>' || cp == '&' || cp == '\'');
        if (cp < 0x20 || html || (style.ensure_ascii && cp >= 0x7F)) {
            auto hex = [&](unsigned u) { out += fmt::format("\\u{:04x}", u); };
            if (cp >= 0x10000) {
                const auto v = static_cast<unsigned>(cp - 0x10000);
                hex(0xD800 + (v >> 10));
                hex(0xDC00 + (v & 0x3FF));
            } else {
                hex(static_cast<unsigned>(cp));
            }
            continue;
        }
        text::append_utf8(out, cp);
    }
    out.push_back('"');
}

void newline_indent(std::string& out, const JsonStyle& style, int level) {
    out.push_back('\n');
    out.append(static_cast<std::size_t>(style.indent * level), ' ');
}

}  // namespace

Result<void> write_json(std::string& out, const Value& v, const JsonStyle& style, int level) {
    if (level > static_cast<int>(kMaxNesting)) {
        return fail(ErrorKind::BadSerialization, "value nested too deeply");
    }
    const char* item_sep = style.python_separators ? (style.indent >= 0 ? "," : ", ") : ",";
    const char* key_sep = style.python_separators ? ": " : ":";
    switch (v.kind()) {
        case Value::Kind::None:
            out += "null";
            return {};
        case Value::Kind::Bool:
            out += v.as_bool() ? "true" : "false";
            return {};
        case Value::Kind::Int:
            out += std::to_string(v.as_int());
            return {};
        case Value::Kind::Float: {
            const double f = v.as_float();
            if (std::isnan(f)) {
                out += "NaN";
            } else if (std::isinf(f)) {
                out += f < 0 ? "-Infinity" : "Infinity";
            } else {
                text::write_float_repr(out, f);
            }
            return {};
        }
        case Value::Kind::String:
            json_string(out, v.str(), style);
            return {};
        case Value::Kind::Seq:
        case Value::Kind::Tuple: {
            const auto& xs = v.items();
            out.push_back('[');
            for (std::size_t i = 0; i < xs.size(); ++i) {
                if (i) {
                    out += item_sep;
                }
                if (style.indent >= 0) {
                    newline_indent(out, style, level + 1);
                }
                if (auto r = write_json(out, xs[i], style, level + 1); !r) {
                    return r;
                }
            }
            if (style.indent >= 0 && !xs.empty()) {
                newline_indent(out, style, level);
            }
            out.push_back(']');
            return {};
        }
        case Value::Kind::Map:
        case Value::Kind::Object: {
            std::vector<std::pair<Value, Value>> entries;
            if (v.kind() == Value::Kind::Map) {
                entries = v.map_entries().entries();
            } else if (const auto* attrs = v.obj().attributes()) {
                for (const auto& [k, x] : *attrs) {
                    entries.emplace_back(Value::from_string(k), x);
                }
            } else {
                return fail(ErrorKind::BadSerialization,
                            fmt::format("object of type {} is not JSON serializable", v.type_name()));
            }
            // JSON keys are strings; Python converts numbers, booleans and None.
            for (auto& [k, x] : entries) {
                if (k.is_string()) {
                    continue;
                }
                if (k.kind() == Value::Kind::Bool) {
                    k = Value::from_string(k.as_bool() ? "true" : "false");
                } else if (k.is_none()) {
                    k = Value::from_string("null");
                } else if (k.is_number()) {
                    k = Value::from_string(k.to_string());
                } else {
                    return fail(
                        ErrorKind::BadSerialization,
                        fmt::format("keys must be str, int, float, bool or None, not {}", k.type_name()));
                }
            }
            if (style.sort_keys) {
                std::sort(entries.begin(), entries.end(),
                          [](const auto& a, const auto& b) { return a.first.str() < b.first.str(); });
            }
            out.push_back('{');
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (i) {
                    out += item_sep;
                }
                if (style.indent >= 0) {
                    newline_indent(out, style, level + 1);
                }
                json_string(out, entries[i].first.str(), style);
                out += key_sep;
                if (auto r = write_json(out, entries[i].second, style, level + 1); !r) {
                    return r;
                }
            }
            if (style.indent >= 0 && !entries.empty()) {
                newline_indent(out, style, level);
            }
            out.push_back('}');
            return {};
        }
        case Value::Kind::Undefined:
            return fail(ErrorKind::BadSerialization, "object of type Undefined is not JSON serializable");
    }
    return {};
}

}  // namespace detail
}  // namespace zelk::jinja
