// The evaluator: walks a program's AST with frames of local variables, writing into one
// output buffer per capture. Internal to the engine; embedders see it only through `State`.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jinja/ast.hpp"
#include "jinja/jinja.hpp"

namespace zelk::jinja::detail {

// The top-level variables of one template render (what `import` exports) and its context.
struct Module {
    std::vector<std::pair<std::string, Value>> vars;
    Value context;
    const Value* find(std::string_view name) const;
    void set(std::string_view name, Value value);
};

// Block definitions by name, most derived first, with the program defining each.
struct BlockChain {
    std::map<std::string_view, std::vector<std::pair<const Stmt*, const Program*>>> blocks;
};

struct Frame {
    const Program* program = nullptr;
    std::shared_ptr<Module> module;
    const std::vector<std::pair<std::string, Value>>* closure = nullptr;
    std::size_t locals_base = 0;
    std::size_t scope_base = 0;  // start of the innermost scope in the locals stack
    bool in_scope = false;       // false at template top level: `set` writes the module
    AutoEscape auto_escape;
    BlockChain* chain = nullptr;
    Output* out = nullptr;
    const Program* extends_parent = nullptr;  // set once `extends` ran
    std::shared_ptr<const Program> parent_ref;
};

class Macro;

// Binds call arguments to parameter names (Python rules); missing ones are nullptr.
Result<std::vector<const Value*>> bind_args(const Args& args, std::initializer_list<std::string_view> names,
                                            std::string_view function, std::size_t required = 0);

// The values a `for` loop or filter iterates: items, map keys, characters; undefined is empty.
Result<std::vector<Value>> iterate(const Value& v);

// Python operators.
Result<Value> binary_op(BinOp op, const Value& a, const Value& b);
Result<bool> contains(const Value& container, const Value& item);
// Python printf-style `%` formatting of a string.
Result<Value> percent_format(const std::string& fmt, const Value& args);
// Python `str.format`.
Result<Value> str_format(Vm& vm, const std::string& fmt, const Args& args);

class Vm {
  public:
    explicit Vm(const Environment& env);
    ~Vm();

    // Renders a program with a context (map, undefined or none).
    Result<std::string> render(const std::shared_ptr<const Program>& program, const Value& context);

    const Environment& env() const noexcept { return env_; }
    State& state() noexcept { return state_; }
    const Frame& frame() const noexcept { return *frame_; }

    // Counts work against the per-render budget (loop iterations, calls, large results).
    Result<void> charge(std::uint64_t units);
    // Registers an object whose held values must be released at the end of the render.
    void track(std::shared_ptr<const Object> obj) { tracked_.push_back(std::move(obj)); }

    // Helpers for built-in filters and objects.
    Result<Value> apply_filter(std::string_view name, const Value& value, const Args& args,
                               BuiltinFilter builtin = nullptr);
    Result<bool> apply_test(std::string_view name, const Value& value, const Args& args,
                            BuiltinTest builtin = nullptr);
    Result<Value> call_value(const Value& callee, const Args& args);
    Result<Value> call_macro(const Macro& macro, const Args& args);
    Result<Value> call_method(const Value& receiver, std::string_view name, const Args& args);
    Result<Value> render_block(std::string_view name, std::size_t level);
    Result<Value> recurse_loop(const Stmt* loop, const Value& iterable, std::size_t depth);
    // Wraps rendered text as a string, marked safe when auto-escaping is on.
    Value markup(std::string text) const;

  private:
    enum class Flow { Normal, Break, Continue };
    using Exec = Result<Flow>;

    Result<Value> eval(const Expr* e);
    Result<Value> eval_inner(const Expr* e);
    Result<Value> eval_call(const Expr* e, const Value* caller);
    Result<Value> eval_filter(const Expr* e, const Value& input);
    Result<Value> eval_test(const Expr* e);
    Result<Value> eval_compare(const Expr* e);
    Result<Value> eval_concat(const Expr* e);
    Result<Value> eval_slice(const Expr* e);

    Exec exec_body(const std::vector<Stmt*>& body);
    Exec exec(const Stmt* s);
    Exec exec_for(const Stmt* s, const Value& iterable, std::size_t depth);
    Exec exec_output(const Stmt* s);
    Exec exec_include(const Stmt* s);
    Exec exec_import(const Stmt* s);
    Exec exec_block(const Stmt* s);
    Exec exec_extends(const Stmt* s);
    Exec exec_call_block(const Stmt* s);

    // Renders a template body at top level into `out`, following `extends`.
    Result<void> run_template(const Program* program, std::shared_ptr<Module> module, Output& out);
    Result<std::shared_ptr<const Program>> load(const Value& name);
    Result<std::string> capture(const std::vector<Stmt*>& body);
    Result<Value> apply_filter_chain(const std::vector<Expr*>& chain, Value value);

    const Value* lookup(std::string_view name) const;
    Result<void> assign(const Expr* target, const Value& value);
    void set_local(std::string_view name, Value value);
    ValueMap flatten_visible() const;
    std::vector<std::pair<std::string, Value>> snapshot_locals() const;
    Result<void> write_value(const Value& v);

    Error located(Error e, std::uint32_t line) const;
    Result<void> enter();
    std::size_t stack_used() const noexcept;
    void leave() { --depth_; }

    const Environment& env_;
    State state_;
    Frame* frame_ = nullptr;
    std::vector<std::pair<std::string_view, Value>> locals_;
    std::vector<std::shared_ptr<const Object>> tracked_;
    std::uint64_t fuel_ = 0;
    std::size_t depth_ = 0;
    std::uintptr_t stack_base_ = 0;
    friend class Macro;
};

// A macro (or the body of a call block, as `caller`).
class Macro final : public Object {
  public:
    Macro(std::shared_ptr<const Program> program, const Stmt* def, std::shared_ptr<Module> module,
          std::vector<std::pair<std::string, Value>> closure, AutoEscape auto_escape, bool is_caller)
        : program_(std::move(program)),
          def_(def),
          module_(std::move(module)),
          closure_(std::move(closure)),
          auto_escape_(std::move(auto_escape)),
          is_caller_(is_caller) {}
    std::string_view type_name() const override { return "Macro"; }
    Value get_attr(std::string_view name) const override;
    Result<Value> call(State& state, const Args& args) const override;
    void write_repr(std::string& out) const override;
    void clear() const override {
        closure_.clear();
        module_.reset();
    }

    std::shared_ptr<const Program> program_;
    const Stmt* def_;
    mutable std::shared_ptr<Module> module_;
    mutable std::vector<std::pair<std::string, Value>> closure_;
    AutoEscape auto_escape_;
    bool is_caller_;
};

// Built-ins implemented in builtins.cpp and methods.cpp.
BuiltinFilter find_builtin_filter(std::string_view name);
BuiltinTest find_builtin_test(std::string_view name);
const Value* find_builtin_global(std::string_view name);
// Methods resolved by the engine itself; `handled` is false when the method is not one of them.
Result<Value> call_builtin_method(Vm& vm, const Value& receiver, std::string_view name, const Args& args,
                                  bool& handled);
// How JSON text is written: `tojson` follows Python's json.dumps with sorted keys and
// HTML-safe escapes; JSON auto-escaping writes compact JSON in map order.
struct JsonStyle {
    bool python_separators = false;  // ", " and ": " (or "," and ": " when indenting)
    bool sort_keys = false;
    bool ensure_ascii = false;
    bool html_safe = false;  // < > & ' as \u escapes
    int indent = -1;         // < 0: single line
};
Result<void> write_json(std::string& out, const Value& v, const JsonStyle& style, int level = 0);

}  // namespace zelk::jinja::detail
