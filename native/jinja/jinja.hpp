// zelk::jinja — a Jinja-syntax template engine with the semantics of Python Jinja2 3.1.
//
// Design note for embedders (the renderer is the main one):
//
//   Environment env;                               // everything off, "{{" "}}" delimiters
//   env.set_trim_blocks(true); env.set_lstrip_blocks(true);
//   env.set_syntax("{{{", "}}}");                  // variable delimiters only; errors on clashes
//   env.set_auto_escape_callback([](std::string_view name) { return AutoEscape::custom("x"); });
//   env.set_formatter(fn);                         // replaces the formatting of every {{ ... }}
//   env.add_filter("name", fn);                    // filters receive (state, value, args)
//   env.set_unknown_method_callback(fn);           // methods the engine does not resolve (map `get`)
//   env.add_template("a.j2", source);              // named templates include/import/extend each other
//   env.render_named_str("x.json.j2", source, ctx) // compile for one call without storing
//
// The formatter receives the escaping selection of the template being rendered through
// `State::auto_escape()`; `write_default_formatted` gives it the engine's own behaviour for the
// selections it does not handle. Errors are values (`std::expected<T, Error>`); nothing is thrown.
// Templates are compiled once into an AST; rendering never re-parses. Rendering does not change
// the environment, so one environment can serve renders from several threads.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelk::jinja {

// What went wrong; the display text of each kind is fixed (see `as_str`).
enum class ErrorKind : std::uint8_t {
    SyntaxError,
    UndefinedError,
    InvalidOperation,
    NonKey,
    TemplateNotFound,
    TooManyArguments,
    MissingArgument,
    UnknownFilter,
    UnknownTest,
    UnknownFunction,
    UnknownMethod,
    BadEscape,
    CannotUnpack,
    BadSerialization,
    InvalidDelimiter,
    UnknownBlock,
    WriteFailure,
    LimitExceeded,
};

// The display text of an error kind, e.g. "undefined value".
std::string_view as_str(ErrorKind kind);

// An engine error: kind, optional detail, and the template name and line where it happened.
class Error {
  public:
    // An error of `kind` with an optional detail message; no location yet.
    explicit Error(ErrorKind kind, std::string detail = {});

    ErrorKind kind() const noexcept { return kind_; }
    const std::string& detail() const noexcept { return detail_; }
    const std::string& template_name() const noexcept { return name_; }
    // Line of the failing construct, 1-based; 0 when unknown.
    std::uint32_t line() const noexcept { return line_; }
    bool has_location() const noexcept { return line_ != 0 || !name_.empty(); }
    // Records where the error happened unless a location is already known (innermost wins).
    void set_location(std::string_view name, std::uint32_t line);
    // "kind: detail (in name:line)", parts omitted when absent, e.g. "undefined value (in inline:3)".
    std::string display() const;

  private:
    ErrorKind kind_;
    std::string detail_;
    std::string name_;
    std::uint32_t line_ = 0;
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for `std::unexpected(Error(kind, detail))`.
inline std::unexpected<Error> fail(ErrorKind kind, std::string detail = {}) {
    return std::unexpected(Error(kind, std::move(detail)));
}

class Value;
class ValueMap;
namespace detail {
class Vm;
}
class Object;
class State;
class Output;
class Environment;

// A keyword argument of a call; names view the template's source and live as long as the call.
struct Kwarg {
    std::string_view name;
    const Value* value;
};

// The arguments of a call: positional values, then keyword arguments in written order.
struct Args {
    std::span<const Value> positional;
    std::span<const Kwarg> keyword;
};

// A template value. Scalars are stored inline; strings, sequences, maps and objects are
// shared and immutable (objects manage their own state), so copying a value is cheap.
class Value {
  public:
    enum class Kind : std::uint8_t { Undefined, None, Bool, Int, Float, String, Seq, Tuple, Map, Object };

    // The undefined value.
    Value() noexcept : i_(0) {}
    static Value none() noexcept;
    static Value from_bool(bool b) noexcept;
    static Value from_int(std::int64_t i) noexcept;
    static Value from_float(double f) noexcept;
    // A string value; `safe` marks text that must not be escaped again.
    static Value from_string(std::string s, bool safe = false);
    static Value safe_string(std::string s) { return from_string(std::move(s), true); }
    static Value seq(std::vector<Value> items);
    static Value tuple(std::vector<Value> items);
    static Value map(ValueMap entries);
    static Value object(std::shared_ptr<const Object> obj);

    Kind kind() const noexcept { return kind_; }
    bool is_undefined() const noexcept { return kind_ == Kind::Undefined; }
    bool is_none() const noexcept { return kind_ == Kind::None; }
    bool is_string() const noexcept { return kind_ == Kind::String; }
    bool is_number() const noexcept {
        return kind_ == Kind::Int || kind_ == Kind::Float || kind_ == Kind::Bool;
    }
    bool is_safe() const noexcept { return kind_ == Kind::String && safe_; }
    bool is_sequence() const noexcept { return kind_ == Kind::Seq || kind_ == Kind::Tuple; }

    bool as_bool() const noexcept { return b_; }
    std::int64_t as_int() const noexcept { return kind_ == Kind::Bool ? (b_ ? 1 : 0) : i_; }
    // Numeric value as a double (ints and bools converted).
    double as_float() const noexcept;
    // Preconditions: the value has the corresponding kind.
    const std::string& str() const noexcept { return *static_cast<const std::string*>(ptr_.get()); }
    const std::vector<Value>& items() const noexcept {
        return *static_cast<const std::vector<Value>*>(ptr_.get());
    }
    std::shared_ptr<const std::vector<Value>> items_ptr() const noexcept {
        return std::static_pointer_cast<const std::vector<Value>>(ptr_);
    }
    const ValueMap& map_entries() const noexcept { return *static_cast<const ValueMap*>(ptr_.get()); }
    const Object& obj() const noexcept { return *static_cast<const Object*>(ptr_.get()); }
    std::shared_ptr<const Object> obj_ptr() const noexcept {
        return std::static_pointer_cast<const Object>(ptr_);
    }

    // Python truthiness (undefined is false).
    bool truthy() const noexcept;
    // Python `str()` of the value, as Jinja2 prints it ("True", "None", "[1, 'a']", undefined "").
    std::string to_string() const;
    void write_string(std::string& out) const;
    // Python `repr()` of the value.
    void write_repr(std::string& out) const;
    // Python `==`.
    bool equals(const Value& other) const noexcept;
    // Python ordering (`<`): numbers, strings, sequences of the same kind; else an error.
    Result<int> compare(const Value& other) const;
    // Item lookup as `x[key]`: maps by key, sequences and strings by (negative) index.
    // Absent keys and out-of-range indexes give undefined; unhashable keys are an error.
    Result<Value> get_item(const Value& key) const;
    // Attribute lookup as `x.name`: map keys, then object attributes; undefined when absent.
    Value get_attr(std::string_view name) const;
    // The Python type name used in messages ("str", "int", "list", ...).
    std::string_view type_name() const noexcept;
    // Whether the value can be a map key (Python hashability).
    bool is_hashable() const noexcept;
    std::size_t hash() const noexcept;
    // Nesting of containers (0 for scalars and objects), saturating.
    std::uint16_t depth() const noexcept { return depth_; }

  private:
    Kind kind_ = Kind::Undefined;
    bool safe_ = false;
    std::uint16_t depth_ = 0;
    union {
        bool b_;
        std::int64_t i_;
        double f_;
    };
    std::shared_ptr<const void> ptr_;
};

// A map in insertion order; keys compare with Python equality (1 == 1.0 == True).
class ValueMap {
  public:
    using Entry = std::pair<Value, Value>;

    // The stored value for `key`, or nullptr when absent (or the key is unhashable).
    const Value* find(const Value& key) const;
    const Value* find(std::string_view key) const;
    // Inserts or replaces, keeping the first insertion position of a key.
    void insert_or_assign(Value key, Value value);
    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    const std::vector<Entry>& entries() const noexcept { return entries_; }
    void reserve(std::size_t n) { entries_.reserve(n); }

  private:
    std::size_t find_pos(const Value& key) const;
    void rebuild_index();
    std::vector<Entry> entries_;
    // Hash -> position, built once the map grows past a few entries; small maps are scanned.
    std::unordered_multimap<std::size_t, std::size_t> index_;
};
// A dynamic value with behaviour (macros, the loop object, namespaces, engine functions).
// Implementations are immutable to the outside; mutable state is their own business.
class Object {
  public:
    virtual ~Object() = default;
    // The name shown in messages.
    virtual std::string_view type_name() const = 0;
    // `obj.name`; undefined when absent.
    virtual Value get_attr(std::string_view name) const;
    // `obj(...)`; by default an error, the object is not callable.
    virtual Result<Value> call(State& state, const Args& args) const;
    // `obj.name(...)`; by default the attribute called, if any.
    virtual Result<Value> call_method(State& state, std::string_view name, const Args& args) const;
    // Python `str()`; defaults to `repr`.
    virtual void write_string(std::string& out) const;
    virtual void write_repr(std::string& out) const;
    // Attribute names and values, when the object behaves like a map (namespaces).
    virtual const std::vector<std::pair<std::string, Value>>* attributes() const { return nullptr; }
    // Breaks reference cycles at the end of a render (objects that hold values mutably).
    virtual void clear() const {}
};

// The escaping selection of a template, chosen by the auto-escape callback from its name.
struct AutoEscape {
    enum class Kind : std::uint8_t { None, Html, Json, Custom };
    Kind kind = Kind::None;
    std::string custom_name;  // for `Custom`

    static AutoEscape none() { return {}; }
    static AutoEscape html() { return {Kind::Html, {}}; }
    static AutoEscape json() { return {Kind::Json, {}}; }
    static AutoEscape custom(std::string name) { return {Kind::Custom, std::move(name)}; }
    bool operator==(const AutoEscape&) const = default;
};

// The output sink of a render; writes beyond the engine's output limit fail.
class Output {
  public:
    // Appends text; fails with `WriteFailure` when the output would grow past the limit.
    Result<void> write(std::string_view text);

  private:
    friend class detail::Vm;
    explicit Output(std::string* target) : target_(target) {}
    std::string* target_;  // nullptr discards (output after `extends`)
};

// The state of a running render, handed to formatters, filters and callbacks.
class State {
  public:
    // The escaping selection in effect where the current expression is written.
    const AutoEscape& auto_escape() const noexcept;
    // Name of the template being rendered.
    std::string_view template_name() const noexcept;
    const Environment& env() const noexcept;
    detail::Vm& vm() const noexcept { return *vm_; }

  private:
    friend class detail::Vm;
    explicit State(detail::Vm* vm) : vm_(vm) {}
    detail::Vm* vm_;
};

// Writes `value` the way the engine does without a custom formatter: safe strings unchanged,
// otherwise plain text (none), HTML-escaped text (html) or JSON text (json). A custom selection
// is an error: only a custom formatter knows it.
Result<void> write_default_formatted(Output& out, const State& state, const Value& value);

// HTML escaping as Jinja2 (markupsafe) does it: & < > " ' become entities.
void html_escape(std::string_view text, std::string& out);

// Compact JSON text of a value, maps in their order (what JSON auto-escaping writes); undefined
// is null. Fails for values JSON cannot hold (macros, loop objects).
Result<std::string> to_json(const Value& value);

using AutoEscapeCallback = std::function<AutoEscape(std::string_view template_name)>;
using Formatter = std::function<Result<void>(Output& out, const State& state, const Value& value)>;
using FilterFn = std::function<Result<Value>(State& state, const Value& value, const Args& args)>;
using TestFn = std::function<Result<bool>(State& state, const Value& value, const Args& args)>;
using UnknownMethodCallback = std::function<Result<Value>(State& state, const Value& receiver,
                                                          std::string_view method, const Args& args)>;

namespace detail {
struct Program;
}

// A compiled template, bound to the environment that compiled it (which must outlive it).
class Template {
  public:
    const std::string& name() const noexcept;
    // Renders with `context` (a map, or undefined/none for an empty context).
    Result<std::string> render(const Value& context) const;

  private:
    friend class Environment;
    Template(const Environment* env, std::shared_ptr<const detail::Program> program)
        : env_(env), program_(std::move(program)) {}
    const Environment* env_;
    std::shared_ptr<const detail::Program> program_;
};

// Engine settings, templates and extension hooks. Configure first, then compile and render.
class Environment {
  public:
    Environment();
    ~Environment();
    Environment(const Environment&);
    Environment& operator=(const Environment&);
    Environment(Environment&&) noexcept;
    Environment& operator=(Environment&&) noexcept;

    // Remove the first line break after a block or comment tag.
    void set_trim_blocks(bool on) { trim_blocks_ = on; }
    // Remove spaces and tabs between the start of a line and a block or comment tag.
    void set_lstrip_blocks(bool on) { lstrip_blocks_ = on; }
    // Keep the final line break of a source (otherwise one is dropped).
    void set_keep_trailing_newline(bool on) { keep_trailing_newline_ = on; }
    bool trim_blocks() const noexcept { return trim_blocks_; }
    bool lstrip_blocks() const noexcept { return lstrip_blocks_; }
    bool keep_trailing_newline() const noexcept { return keep_trailing_newline_; }

    // Sets the variable delimiters (block "{%" "%}" and comment "{#" "#}" stay). Fails with
    // `InvalidDelimiter` for an empty delimiter or one that clashes with the block or comment
    // delimiters; the previous syntax is kept then.
    Result<void> set_syntax(std::string variable_start, std::string variable_end);
    const std::string& variable_start() const noexcept { return variable_start_; }
    const std::string& variable_end() const noexcept { return variable_end_; }

    // Chooses the escaping of every template compiled afterwards from its name.
    void set_auto_escape_callback(AutoEscapeCallback callback) { auto_escape_ = std::move(callback); }
    // Replaces the formatting of every expression output.
    void set_formatter(Formatter formatter) { formatter_ = std::move(formatter); }
    // Registers (or replaces) a filter; registered filters take precedence over built-ins.
    void add_filter(std::string name, FilterFn filter);
    // Registers (or replaces) a test.
    void add_test(std::string name, TestFn test);
    // Adds a global variable visible to every template.
    void add_global(std::string name, Value value);
    // Handles method calls the engine does not resolve itself.
    void set_unknown_method_callback(UnknownMethodCallback callback) {
        unknown_method_ = std::move(callback);
    }

    // Compiles and stores a named template, replacing one of the same name.
    Result<void> add_template(std::string name, std::string_view source);
    // A stored template by name (`TemplateNotFound` otherwise).
    Result<Template> get_template(std::string_view name) const;
    // Compiles a source under `name` without storing it.
    Result<Template> compile(std::string name, std::string_view source) const;
    // Compiles `source` under `name` for this one call and renders it.
    Result<std::string> render_named_str(std::string name, std::string_view source,
                                         const Value& context) const;

    // Internal access for the engine.
    const Formatter& formatter() const noexcept { return formatter_; }
    const UnknownMethodCallback& unknown_method_callback() const noexcept { return unknown_method_; }
    const FilterFn* find_filter(std::string_view name) const;
    const TestFn* find_test(std::string_view name) const;
    const Value* find_global(std::string_view name) const;
    std::shared_ptr<const detail::Program> find_program(std::string_view name) const;
    AutoEscape auto_escape_for(std::string_view name) const;

  private:
    bool trim_blocks_ = false;
    bool lstrip_blocks_ = false;
    bool keep_trailing_newline_ = false;
    std::string variable_start_ = "{{";
    std::string variable_end_ = "}}";
    AutoEscapeCallback auto_escape_;
    Formatter formatter_;
    UnknownMethodCallback unknown_method_;
    std::map<std::string, FilterFn, std::less<>> filters_;
    std::map<std::string, TestFn, std::less<>> tests_;
    std::map<std::string, Value, std::less<>> globals_;
    std::map<std::string, std::shared_ptr<const detail::Program>, std::less<>> templates_;
};

// Engine limits: hostile templates end in `LimitExceeded` instead of exhausting the machine.
inline constexpr std::size_t kMaxNesting = 200;                  // parser nesting of brackets and blocks
inline constexpr std::size_t kMaxCallDepth = 400;                // macros, includes, extends, recursive loops
inline constexpr std::size_t kMaxSize = 64u * 1024u * 1024u;     // bytes of a string
inline constexpr std::size_t kMaxItems = 1'000'000;              // items of a sequence built by an operator
inline constexpr std::size_t kMaxValueDepth = 1000;              // nesting of values kept in namespaces
inline constexpr std::size_t kMaxOutput = 256u * 1024u * 1024u;  // bytes written by one render
inline constexpr std::int64_t kMaxRange = 1'000'000;             // items of one `range`
inline constexpr std::uint64_t kMaxFuel = 20'000'000;            // loop iterations and calls per render

}  // namespace zelk::jinja
