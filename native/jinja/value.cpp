#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "jinja/jinja.hpp"
#include "jinja/text.hpp"

namespace zelk::jinja {

std::string_view as_str(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::SyntaxError:
            return "syntax error";
        case ErrorKind::UndefinedError:
            return "undefined value";
        case ErrorKind::InvalidOperation:
            return "invalid operation";
        case ErrorKind::NonKey:
            return "not a key type";
        case ErrorKind::TemplateNotFound:
            return "template not found";
        case ErrorKind::TooManyArguments:
            return "too many arguments";
        case ErrorKind::MissingArgument:
            return "missing argument";
        case ErrorKind::UnknownFilter:
            return "unknown filter";
        case ErrorKind::UnknownTest:
            return "unknown test";
        case ErrorKind::UnknownFunction:
            return "unknown function";
        case ErrorKind::UnknownMethod:
            return "unknown method";
        case ErrorKind::BadEscape:
            return "bad string escape";
        case ErrorKind::CannotUnpack:
            return "cannot unpack";
        case ErrorKind::BadSerialization:
            return "could not serialize to value";
        case ErrorKind::InvalidDelimiter:
            return "invalid delimiter";
        case ErrorKind::UnknownBlock:
            return "unknown block";
        case ErrorKind::WriteFailure:
            return "failed during writing output";
        case ErrorKind::LimitExceeded:
            return "limit exceeded";
    }
    return "error";
}

Error::Error(ErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

void Error::set_location(std::string_view name, std::uint32_t line) {
    if (!has_location()) {
        name_ = std::string(name);
        line_ = line;
    }
}

std::string Error::display() const {
    std::string out(as_str(kind_));
    if (!detail_.empty()) {
        out += ": ";
        out += detail_;
    }
    if (has_location()) {
        out += fmt::format(" (in {}:{})", name_, line_);
    }
    return out;
}

Value Value::none() noexcept {
    Value v;
    v.kind_ = Kind::None;
    return v;
}

Value Value::from_bool(bool b) noexcept {
    Value v;
    v.kind_ = Kind::Bool;
    v.i_ = 0;
    v.b_ = b;
    return v;
}

Value Value::from_int(std::int64_t i) noexcept {
    Value v;
    v.kind_ = Kind::Int;
    v.i_ = i;
    return v;
}

Value Value::from_float(double f) noexcept {
    Value v;
    v.kind_ = Kind::Float;
    v.f_ = f;
    return v;
}

Value Value::from_string(std::string s, bool safe) {
    Value v;
    v.kind_ = Kind::String;
    v.safe_ = safe;
    v.ptr_ = std::make_shared<const std::string>(std::move(s));
    return v;
}

namespace {
std::uint16_t nesting_of(const std::vector<Value>& items) {
    std::uint16_t d = 0;
    for (const auto& x : items) {
        d = std::max(d, x.depth());
    }
    return d == UINT16_MAX ? d : static_cast<std::uint16_t>(d + 1);
}
}  // namespace

Value Value::seq(std::vector<Value> items) {
    Value v;
    v.depth_ = nesting_of(items);
    v.kind_ = Kind::Seq;
    v.ptr_ = std::make_shared<const std::vector<Value>>(std::move(items));
    return v;
}

Value Value::tuple(std::vector<Value> items) {
    Value v;
    v.depth_ = nesting_of(items);
    v.kind_ = Kind::Tuple;
    v.ptr_ = std::make_shared<const std::vector<Value>>(std::move(items));
    return v;
}

Value Value::map(ValueMap entries) {
    Value v;
    std::uint16_t d = 0;
    for (const auto& [k, x] : entries.entries()) {
        d = std::max({d, k.depth(), x.depth()});
    }
    v.depth_ = d == UINT16_MAX ? d : static_cast<std::uint16_t>(d + 1);
    v.kind_ = Kind::Map;
    v.ptr_ = std::make_shared<const ValueMap>(std::move(entries));
    return v;
}

Value Value::object(std::shared_ptr<const Object> obj) {
    Value v;
    v.kind_ = Kind::Object;
    v.ptr_ = std::move(obj);
    return v;
}

double Value::as_float() const noexcept {
    switch (kind_) {
        case Kind::Float:
            return f_;
        case Kind::Int:
            return static_cast<double>(i_);
        case Kind::Bool:
            return b_ ? 1.0 : 0.0;
        default:
            return 0.0;
    }
}

bool Value::truthy() const noexcept {
    switch (kind_) {
        case Kind::Undefined:
        case Kind::None:
            return false;
        case Kind::Bool:
            return b_;
        case Kind::Int:
            return i_ != 0;
        case Kind::Float:
            return f_ != 0.0;
        case Kind::String:
            return !str().empty();
        case Kind::Seq:
        case Kind::Tuple:
            return !items().empty();
        case Kind::Map:
            return !map_entries().empty();
        case Kind::Object:
            return true;
    }
    return false;
}

std::string Value::to_string() const {
    if (kind_ == Kind::String) {
        return str();
    }
    std::string out;
    write_string(out);
    return out;
}

void Value::write_string(std::string& out) const {
    switch (kind_) {
        case Kind::Undefined:
            return;
        case Kind::String:
            out += str();
            return;
        case Kind::Object:
            obj().write_string(out);
            return;
        default:
            write_repr(out);
            return;
    }
}

void Value::write_repr(std::string& out) const {
    switch (kind_) {
        case Kind::Undefined:
            out += "Undefined";
            return;
        case Kind::None:
            out += "None";
            return;
        case Kind::Bool:
            out += b_ ? "True" : "False";
            return;
        case Kind::Int:
            out += std::to_string(i_);
            return;
        case Kind::Float:
            text::write_float_repr(out, f_);
            return;
        case Kind::String:
            if (safe_) {
                out += "Markup(";
                text::write_string_repr(out, str());
                out += ")";
            } else {
                text::write_string_repr(out, str());
            }
            return;
        case Kind::Seq:
        case Kind::Tuple: {
            const bool tup = kind_ == Kind::Tuple;
            out.push_back(tup ? '(' : '[');
            const auto& xs = items();
            for (std::size_t i = 0; i < xs.size(); ++i) {
                if (i) {
                    out += ", ";
                }
                xs[i].write_repr(out);
            }
            if (tup && xs.size() == 1) {
                out.push_back(',');
            }
            out.push_back(tup ? ')' : ']');
            return;
        }
        case Kind::Map: {
            out.push_back('{');
            bool first = true;
            for (const auto& [k, v] : map_entries().entries()) {
                if (!first) {
                    out += ", ";
                }
                first = false;
                k.write_repr(out);
                out += ": ";
                v.write_repr(out);
            }
            out.push_back('}');
            return;
        }
        case Kind::Object:
            obj().write_repr(out);
            return;
    }
}

bool Value::equals(const Value& other) const noexcept {
    if (is_number() && other.is_number()) {
        if (kind_ == Kind::Float || other.kind_ == Kind::Float) {
            return as_float() == other.as_float();
        }
        return as_int() == other.as_int();
    }
    if (kind_ != other.kind_) {
        return false;
    }
    switch (kind_) {
        case Kind::Undefined:
        case Kind::None:
            return true;
        case Kind::String:
            return str() == other.str();
        case Kind::Seq:
        case Kind::Tuple: {
            const auto& a = items();
            const auto& b = other.items();
            if (a.size() != b.size()) {
                return false;
            }
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (!a[i].equals(b[i])) {
                    return false;
                }
            }
            return true;
        }
        case Kind::Map: {
            const auto& a = map_entries();
            const auto& b = other.map_entries();
            if (a.size() != b.size()) {
                return false;
            }
            for (const auto& [k, v] : a.entries()) {
                const Value* w = b.find(k);
                if (!w || !v.equals(*w)) {
                    return false;
                }
            }
            return true;
        }
        case Kind::Object:
            return ptr_ == other.ptr_;
        default:
            return false;
    }
}

Result<int> Value::compare(const Value& other) const {
    if (is_number() && other.is_number()) {
        if (kind_ == Kind::Float || other.kind_ == Kind::Float) {
            const double a = as_float();
            const double b = other.as_float();
            return a < b ? -1 : (a > b ? 1 : 0);
        }
        const auto a = as_int();
        const auto b = other.as_int();
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    if (kind_ == Kind::String && other.kind_ == Kind::String) {
        const int c = str().compare(other.str());
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (is_sequence() && kind_ == other.kind_) {
        const auto& a = items();
        const auto& b = other.items();
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if (a[i].equals(b[i])) {
                continue;
            }
            return a[i].compare(b[i]);
        }
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    return fail(
        ErrorKind::InvalidOperation,
        fmt::format("'<' not supported between instances of '{}' and '{}'", type_name(), other.type_name()));
}

namespace {

// Resolves a Python index (negative counts from the end) against a length.
bool resolve_index(const Value& key, std::size_t len, std::size_t& out) {
    if (key.kind() != Value::Kind::Int && key.kind() != Value::Kind::Bool) {
        return false;
    }
    std::int64_t i = key.as_int();
    if (i < 0) {
        i += static_cast<std::int64_t>(len);
    }
    if (i < 0 || static_cast<std::uint64_t>(i) >= len) {
        return false;
    }
    out = static_cast<std::size_t>(i);
    return true;
}

}  // namespace

Result<Value> Value::get_item(const Value& key) const {
    switch (kind_) {
        case Kind::Undefined:
            return fail(ErrorKind::UndefinedError);
        case Kind::Map: {
            const Value* v = map_entries().find(key);
            return v ? *v : Value();
        }
        case Kind::Seq:
        case Kind::Tuple: {
            std::size_t i = 0;
            if (resolve_index(key, items().size(), i)) {
                return items()[i];
            }
            return Value();
        }
        case Kind::String: {
            if (key.kind() != Kind::Int && key.kind() != Kind::Bool) {
                return Value();
            }
            const auto cps = text::code_points(str());
            std::size_t i = 0;
            if (!resolve_index(key, cps.size(), i)) {
                return Value();
            }
            std::string out;
            text::append_utf8(out, cps[i]);
            return Value::from_string(std::move(out));
        }
        case Kind::Object:
            if (key.kind() == Kind::String) {
                return obj().get_attr(key.str());
            }
            return Value();
        default:
            return Value();
    }
}

Value Value::get_attr(std::string_view name) const {
    switch (kind_) {
        case Kind::Map: {
            const Value* v = map_entries().find(name);
            return v ? *v : Value();
        }
        case Kind::Object:
            return obj().get_attr(name);
        case Kind::Tuple:
            // `groupby` yields (grouper, list) pairs that also answer to these names.
            if (items().size() == 2 && (name == "grouper" || name == "list")) {
                return items()[name == "grouper" ? 0 : 1];
            }
            return Value();
        default:
            return Value();
    }
}

std::string_view Value::type_name() const noexcept {
    switch (kind_) {
        case Kind::Undefined:
            return "Undefined";
        case Kind::None:
            return "NoneType";
        case Kind::Bool:
            return "bool";
        case Kind::Int:
            return "int";
        case Kind::Float:
            return "float";
        case Kind::String:
            return "str";
        case Kind::Seq:
            return "list";
        case Kind::Tuple:
            return "tuple";
        case Kind::Map:
            return "dict";
        case Kind::Object:
            return obj().type_name();
    }
    return "object";
}

bool Value::is_hashable() const noexcept {
    switch (kind_) {
        case Kind::Seq:
        case Kind::Map:
            return false;
        case Kind::Tuple:
            for (const auto& x : items()) {
                if (!x.is_hashable()) {
                    return false;
                }
            }
            return true;
        default:
            return true;
    }
}

std::size_t Value::hash() const noexcept {
    switch (kind_) {
        case Kind::Undefined:
            return 0x9e37;
        case Kind::None:
            return 0x51ed;
        case Kind::Bool:
        case Kind::Int:
            return std::hash<std::int64_t>{}(as_int());
        case Kind::Float: {
            const double f = f_;
            if (std::isfinite(f) && f == std::floor(f) && std::fabs(f) < 9.2e18) {
                return std::hash<std::int64_t>{}(static_cast<std::int64_t>(f));
            }
            return std::hash<double>{}(f);
        }
        case Kind::String:
            return std::hash<std::string_view>{}(str());
        case Kind::Tuple: {
            std::size_t h = 0x345678;
            for (const auto& x : items()) {
                h = h * 1000003u ^ x.hash();
            }
            return h;
        }
        case Kind::Object:
            return std::hash<const void*>{}(ptr_.get());
        default:
            return 0;
    }
}

namespace {
constexpr std::size_t kIndexThreshold = 8;
}

std::size_t ValueMap::find_pos(const Value& key) const {
    constexpr auto npos = static_cast<std::size_t>(-1);
    if (!key.is_hashable()) {
        return npos;
    }
    if (index_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].first.equals(key)) {
                return i;
            }
        }
        return npos;
    }
    auto [lo, hi] = index_.equal_range(key.hash());
    for (auto it = lo; it != hi; ++it) {
        if (entries_[it->second].first.equals(key)) {
            return it->second;
        }
    }
    return npos;
}

const Value* ValueMap::find(const Value& key) const {
    const auto pos = find_pos(key);
    return pos == static_cast<std::size_t>(-1) ? nullptr : &entries_[pos].second;
}

const Value* ValueMap::find(std::string_view key) const {
    if (index_.empty()) {
        for (const auto& e : entries_) {
            if (e.first.is_string() && e.first.str().size() == key.size() && e.first.str() == key) {
                return &e.second;
            }
        }
        return nullptr;
    }
    auto [lo, hi] = index_.equal_range(std::hash<std::string_view>{}(key));
    for (auto it = lo; it != hi; ++it) {
        const auto& e = entries_[it->second];
        if (e.first.is_string() && e.first.str() == key) {
            return &e.second;
        }
    }
    return nullptr;
}

void ValueMap::insert_or_assign(Value key, Value value) {
    if (const auto pos = find_pos(key); pos != static_cast<std::size_t>(-1)) {
        entries_[pos].second = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
    if (!index_.empty()) {
        index_.emplace(entries_.back().first.hash(), entries_.size() - 1);
    } else if (entries_.size() > kIndexThreshold) {
        rebuild_index();
    }
}

void ValueMap::rebuild_index() {
    index_.clear();
    index_.reserve(entries_.size() * 2);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        index_.emplace(entries_[i].first.hash(), i);
    }
}

Value Object::get_attr(std::string_view) const {
    return Value();
}

Result<Value> Object::call(State&, const Args&) const {
    return fail(ErrorKind::InvalidOperation, fmt::format("'{}' object is not callable", type_name()));
}

Result<Value> Object::call_method(State& state, std::string_view name, const Args& args) const {
    const Value attr = get_attr(name);
    if (attr.kind() == Value::Kind::Object) {
        return attr.obj().call(state, args);
    }
    return fail(ErrorKind::UnknownMethod, fmt::format("{} has no method named {}", type_name(), name));
}

void Object::write_string(std::string& out) const {
    write_repr(out);
}

void Object::write_repr(std::string& out) const {
    out += fmt::format("<{} object>", type_name());
}

}  // namespace zelk::jinja
