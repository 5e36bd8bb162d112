#include "jinja/vm.hpp"

#include <fmt/format.h>

#include <cmath>
#include <optional>

#include "jinja/text.hpp"

namespace zelk::jinja::detail {
namespace {

// Stack a render may use before recursion is refused; generous for real templates, far below
// the 8 MiB main-thread stack even with sanitizer-sized frames.
constexpr std::size_t kStackBudget = 2u * 1024u * 1024u;

std::unexpected<Error> undefined_error() {
    return fail(ErrorKind::UndefinedError);
}

// The real frame address, also under sanitizers that move locals to a fake stack.
inline std::uintptr_t frame_address() {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// `loop` inside a for body.
class LoopObj final : public Object {
  public:
    LoopObj(std::shared_ptr<const std::vector<Value>> items, std::size_t depth0, const Stmt* recursive)
        : items_(std::move(items)), depth0_(depth0), recursive_(recursive) {}
    std::string_view type_name() const override { return "LoopContext"; }

    Value get_attr(std::string_view n) const override {
        const auto len = static_cast<std::int64_t>(items_ ? items_->size() : 0);
        const auto i = static_cast<std::int64_t>(index0_);
        if (n == "index") {
            return Value::from_int(i + 1);
        }
        if (n == "index0") {
            return Value::from_int(i);
        }
        if (n == "revindex") {
            return Value::from_int(len - i);
        }
        if (n == "revindex0") {
            return Value::from_int(len - i - 1);
        }
        if (n == "first") {
            return Value::from_bool(i == 0);
        }
        if (n == "last") {
            return Value::from_bool(i == len - 1);
        }
        if (n == "length") {
            return Value::from_int(len);
        }
        if (n == "depth") {
            return Value::from_int(static_cast<std::int64_t>(depth0_) + 1);
        }
        if (n == "depth0") {
            return Value::from_int(static_cast<std::int64_t>(depth0_));
        }
        if (n == "previtem") {
            return i > 0 && items_ ? (*items_)[index0_ - 1] : Value();
        }
        if (n == "nextitem") {
            return i + 1 < len ? (*items_)[index0_ + 1] : Value();
        }
        return Value();
    }

    Result<Value> call(State& state, const Args& args) const override {
        if (!recursive_) {
            return fail(ErrorKind::InvalidOperation, "cannot call non-recursive loop");
        }
        if (args.positional.size() != 1 || !args.keyword.empty()) {
            return fail(ErrorKind::InvalidOperation, "loop() takes exactly one argument");
        }
        return state.vm().recurse_loop(recursive_, args.positional[0], depth0_ + 1);
    }

    Result<Value> call_method(State&, std::string_view n, const Args& args) const override {
        if (n == "cycle") {
            if (args.positional.empty()) {
                return fail(ErrorKind::InvalidOperation, "no items for cycling given");
            }
            return args.positional[index0_ % args.positional.size()];
        }
        if (n == "changed") {
            std::vector<Value> now(args.positional.begin(), args.positional.end());
            const Value v = Value::tuple(std::move(now));
            if (has_last_ && last_.equals(v)) {
                return Value::from_bool(false);
            }
            last_ = v;
            has_last_ = true;
            return Value::from_bool(true);
        }
        return fail(ErrorKind::UnknownMethod, fmt::format("loop has no method named {}", n));
    }

    void write_repr(std::string& out) const override {
        out += fmt::format("<LoopContext {}/{}>", index0_ + 1, items_ ? items_->size() : 0);
    }
    void clear() const override {
        items_.reset();
        last_ = Value();
    }

    mutable std::shared_ptr<const std::vector<Value>> items_;
    mutable std::size_t index0_ = 0;
    std::size_t depth0_;
    const Stmt* recursive_;
    mutable Value last_;
    mutable bool has_last_ = false;
};

// `super` and `self.name`: renders a block at a level of the inheritance chain.
class BlockFn final : public Object {
  public:
    BlockFn(std::string name, std::size_t level) : name_(std::move(name)), level_(level) {}
    std::string_view type_name() const override { return "BlockReference"; }
    Result<Value> call(State& state, const Args&) const override {
        return state.vm().render_block(name_, level_);
    }
    void write_repr(std::string& out) const override { out += fmt::format("<BlockReference '{}'>", name_); }

  private:
    std::string name_;
    std::size_t level_;
};

class SelfObj final : public Object {
  public:
    std::string_view type_name() const override { return "TemplateReference"; }
    Value get_attr(std::string_view n) const override {
        return Value::object(std::make_shared<BlockFn>(std::string(n), 0));
    }
    void write_repr(std::string& out) const override { out += "<TemplateReference>"; }
};

// What `import` binds: the exported top-level names of a rendered template.
class TemplateModule final : public Object {
  public:
    TemplateModule(std::string name, std::shared_ptr<Module> module, std::string body)
        : name_(std::move(name)), module_(std::move(module)), body_(std::move(body)) {}
    std::string_view type_name() const override { return "TemplateModule"; }
    Value get_attr(std::string_view n) const override {
        if (!module_ || n.starts_with("_")) {
            return Value();
        }
        const Value* v = module_->find(n);
        return v ? *v : Value();
    }
    void write_string(std::string& out) const override { out += body_; }
    void write_repr(std::string& out) const override { out += fmt::format("<TemplateModule '{}'>", name_); }
    void clear() const override { module_.reset(); }

  private:
    std::string name_;
    mutable std::shared_ptr<Module> module_;
    std::string body_;
};

// Lengths differ far more often than contents: compare them first.
inline bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::char_traits<char>::compare(a.data(), b.data(), a.size()) == 0;
}

bool is_namespace(const Value& v) {
    return v.kind() == Value::Kind::Object && v.obj().type_name() == "Namespace";
}

}  // namespace

const Value* Module::find(std::string_view name) const {
    for (const auto& [k, v] : vars) {
        if (same_name(k, name)) {
            return &v;
        }
    }
    return nullptr;
}

void Module::set(std::string_view name, Value value) {
    for (auto& [k, v] : vars) {
        if (k == name) {
            v = std::move(value);
            return;
        }
    }
    vars.emplace_back(std::string(name), std::move(value));
}

Value Macro::get_attr(std::string_view n) const {
    if (n == "name") {
        return Value::from_string(std::string(is_caller_ ? "caller" : def_->text));
    }
    if (n == "arguments") {
        std::vector<Value> names;
        for (const auto& [p, d] : def_->sig.params) {
            names.push_back(Value::from_string(std::string(p)));
        }
        return Value::tuple(std::move(names));
    }
    if (n == "caller") {
        return Value::from_bool(def_->sig.uses_caller);
    }
    return Value();
}

Result<Value> Macro::call(State& state, const Args& args) const {
    return state.vm().call_macro(*this, args);
}

void Macro::write_repr(std::string& out) const {
    out += fmt::format("<Macro '{}'>", is_caller_ ? std::string_view("caller") : def_->text);
}

Vm::Vm(const Environment& env) : env_(env), state_(this) {}

Vm::~Vm() {
    for (const auto& obj : tracked_) {
        obj->clear();
    }
}

Result<void> Vm::charge(std::uint64_t units) {
    fuel_ += units;
    if (fuel_ > kMaxFuel) {
        return fail(ErrorKind::LimitExceeded, "template exceeded its evaluation budget");
    }
    return {};
}

std::size_t Vm::stack_used() const noexcept {
    const auto here = frame_address();
    return here < stack_base_ ? stack_base_ - here : 0;
}

Result<void> Vm::enter() {
    if (++depth_ > kMaxCallDepth || stack_used() > kStackBudget) {
        --depth_;
        return fail(ErrorKind::LimitExceeded, "recursion limit exceeded");
    }
    return {};
}

Error Vm::located(Error e, std::uint32_t line) const {
    if (!e.has_location() && frame_ && frame_->program) {
        e.set_location(frame_->program->name, line);
    }
    return e;
}

Value Vm::markup(std::string text) const {
    const bool safe = frame_ && frame_->auto_escape.kind != AutoEscape::Kind::None;
    return Value::from_string(std::move(text), safe);
}

Result<std::string> Vm::render(const std::shared_ptr<const Program>& program, const Value& context) {
    stack_base_ = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    auto module = std::make_shared<Module>();
    if (context.kind() == Value::Kind::Map) {
        module->context = context;
    } else if (!context.is_undefined() && !context.is_none()) {
        return fail(ErrorKind::InvalidOperation, "the render context must be a map");
    }
    std::string result;
    Output out(&result);
    auto r = run_template(program.get(), std::move(module), out);
    if (!r) {
        return std::unexpected(r.error());
    }
    return result;
}

Result<void> Vm::run_template(const Program* program, std::shared_ptr<Module> module, Output& out) {
    if (auto r = enter(); !r) {
        return r;
    }
    BlockChain chain;
    for (const auto& [name, stmt] : program->blocks) {
        chain.blocks[name].emplace_back(stmt, program);
    }
    Frame f;
    f.program = program;
    f.module = std::move(module);
    f.locals_base = f.scope_base = locals_.size();
    f.auto_escape = program->auto_escape;
    f.chain = &chain;
    f.out = &out;
    Frame* saved = frame_;
    frame_ = &f;
    std::vector<std::shared_ptr<const Program>> parents;
    Result<void> result;
    for (std::size_t levels = 0;; ++levels) {
        auto r = exec_body(f.program->body);
        if (!r) {
            result = std::unexpected(r.error());
            break;
        }
        if (!f.extends_parent) {
            break;
        }
        if (levels >= kMaxCallDepth) {
            result =
                std::unexpected(located(Error(ErrorKind::LimitExceeded, "too many levels of extends"), 1));
            break;
        }
        parents.push_back(f.parent_ref);
        const Program* parent = f.extends_parent;
        for (const auto& [name, stmt] : parent->blocks) {
            chain.blocks[name].emplace_back(stmt, parent);
        }
        f.program = parent;
        f.auto_escape = parent->auto_escape;
        f.extends_parent = nullptr;
        f.parent_ref.reset();
        f.out = &out;
    }
    locals_.resize(f.locals_base);
    frame_ = saved;
    leave();
    return result;
}

const Value* Vm::lookup(std::string_view name) const {
    const Frame& f = *frame_;
    for (std::size_t i = locals_.size(); i > f.locals_base; --i) {
        if (same_name(locals_[i - 1].first, name)) {
            return &locals_[i - 1].second;
        }
    }
    if (f.closure) {
        for (auto it = f.closure->rbegin(); it != f.closure->rend(); ++it) {
            if (same_name(it->first, name)) {
                return &it->second;
            }
        }
    }
    if (const Value* v = f.module->find(name)) {
        return v;
    }
    if (f.module->context.kind() == Value::Kind::Map) {
        if (const Value* v = f.module->context.map_entries().find(name)) {
            return v;
        }
    }
    if (const Value* v = env_.find_global(name)) {
        return v;
    }
    return find_builtin_global(name);
}

void Vm::set_local(std::string_view name, Value value) {
    Frame& f = *frame_;
    if (!f.in_scope) {
        f.module->set(name, std::move(value));
        return;
    }
    for (std::size_t i = locals_.size(); i > f.scope_base; --i) {
        if (same_name(locals_[i - 1].first, name)) {
            locals_[i - 1].second = std::move(value);
            return;
        }
    }
    locals_.emplace_back(name, std::move(value));
}

Result<void> Vm::assign(const Expr* target, const Value& value) {
    if (target->kind == ExprKind::Name) {
        set_local(target->name, value);
        return {};
    }
    if (target->kind == ExprKind::Tuple) {
        auto items = iterate(value);
        if (!items) {
            return fail(ErrorKind::CannotUnpack,
                        fmt::format("cannot unpack non-iterable {} object", value.type_name()));
        }
        if (items->size() != target->args.size()) {
            return fail(ErrorKind::CannotUnpack, fmt::format("expected {} values to unpack, got {}",
                                                             target->args.size(), items->size()));
        }
        for (std::size_t i = 0; i < items->size(); ++i) {
            if (auto r = assign(target->args[i], (*items)[i]); !r) {
                return r;
            }
        }
        return {};
    }
    // namespace attribute
    const Value* ns = lookup(target->a->name);
    if (!ns || !is_namespace(*ns)) {
        return fail(ErrorKind::InvalidOperation, "cannot assign attribute on non-namespace object");
    }
    // Namespaces are the only way to accumulate values across iterations; bounding what they
    // keep bounds the recursion of destroying and printing values.
    if (value.depth() > kMaxValueDepth) {
        return fail(ErrorKind::LimitExceeded, "value nested too deeply");
    }
    auto* attrs = const_cast<std::vector<std::pair<std::string, Value>>*>(ns->obj().attributes());
    for (auto& [k, v] : *attrs) {
        if (k == target->name) {
            v = value;
            return {};
        }
    }
    attrs->emplace_back(std::string(target->name), value);
    return {};
}

ValueMap Vm::flatten_visible() const {
    const Frame& f = *frame_;
    ValueMap m;
    if (f.module->context.kind() == Value::Kind::Map) {
        m = f.module->context.map_entries();
    }
    for (const auto& [k, v] : f.module->vars) {
        m.insert_or_assign(Value::from_string(k), v);
    }
    if (f.closure) {
        for (const auto& [k, v] : *f.closure) {
            m.insert_or_assign(Value::from_string(k), v);
        }
    }
    for (std::size_t i = f.locals_base; i < locals_.size(); ++i) {
        m.insert_or_assign(Value::from_string(std::string(locals_[i].first)), locals_[i].second);
    }
    return m;
}

std::vector<std::pair<std::string, Value>> Vm::snapshot_locals() const {
    const Frame& f = *frame_;
    std::vector<std::pair<std::string, Value>> out;
    if (f.closure) {
        out = *f.closure;
    }
    for (std::size_t i = f.locals_base; i < locals_.size(); ++i) {
        out.emplace_back(std::string(locals_[i].first), locals_[i].second);
    }
    return out;
}

Result<std::shared_ptr<const Program>> Vm::load(const Value& name) {
    if (!name.is_string()) {
        return fail(ErrorKind::InvalidOperation,
                    fmt::format("template name must be a string, got {}", name.type_name()));
    }
    auto p = env_.find_program(name.str());
    if (!p) {
        return fail(ErrorKind::TemplateNotFound, fmt::format("template {} does not exist", name.to_string()));
    }
    return p;
}

Result<std::string> Vm::capture(const std::vector<Stmt*>& body) {
    std::string buf;
    Output out(&buf);
    Output* saved = frame_->out;
    frame_->out = &out;
    auto r = exec_body(body);
    frame_->out = saved;
    if (!r) {
        return std::unexpected(r.error());
    }
    return buf;
}

Result<void> Vm::write_value(const Value& v) {
    if (const auto& fmt = env_.formatter()) {
        return fmt(*frame_->out, state_, v);
    }
    return write_default_formatted(*frame_->out, state_, v);
}

// ---------------------------------------------------------------- statements

Vm::Exec Vm::exec_body(const std::vector<Stmt*>& body) {
    for (const Stmt* s : body) {
        auto r = exec(s);
        if (!r) {
            return r;
        }
        if (*r != Flow::Normal) {
            return r;
        }
    }
    return Flow::Normal;
}

Vm::Exec Vm::exec(const Stmt* s) {
    auto located_fail = [&](Error e) -> Exec { return std::unexpected(located(std::move(e), s->line)); };
    switch (s->kind) {
        case StmtKind::Data:
            if (auto r = frame_->out->write(s->text); !r) {
                return located_fail(r.error());
            }
            return Flow::Normal;
        case StmtKind::Output:
            return exec_output(s);
        case StmtKind::If: {
            auto c = eval(s->expr);
            if (!c) {
                return std::unexpected(c.error());
            }
            return exec_body(c->truthy() ? s->body : s->else_body);
        }
        case StmtKind::For: {
            auto it = eval(s->expr);
            if (!it) {
                return std::unexpected(it.error());
            }
            return exec_for(s, *it, 0);
        }
        case StmtKind::Set: {
            auto v = eval(s->expr);
            if (!v) {
                return std::unexpected(v.error());
            }
            if (auto r = assign(s->target, *v); !r) {
                return located_fail(r.error());
            }
            return Flow::Normal;
        }
        case StmtKind::SetBlock: {
            auto text = capture(s->body);
            if (!text) {
                return std::unexpected(text.error());
            }
            auto v = apply_filter_chain(s->filters, markup(std::move(*text)));
            if (!v) {
                return located_fail(v.error());
            }
            if (auto r = assign(s->target, *v); !r) {
                return located_fail(r.error());
            }
            return Flow::Normal;
        }
        case StmtKind::With: {
            std::vector<Value> values;
            for (const auto& [t, e] : s->assigns) {
                auto v = eval(e);
                if (!v) {
                    return std::unexpected(v.error());
                }
                values.push_back(std::move(*v));
            }
            Frame& f = *frame_;
            const auto saved_base = f.scope_base;
            const auto saved_in = f.in_scope;
            const auto size = locals_.size();
            f.scope_base = size;
            f.in_scope = true;
            Exec r = Flow::Normal;
            for (std::size_t i = 0; i < values.size() && r; ++i) {
                if (auto a = assign(s->assigns[i].first, values[i]); !a) {
                    r = located_fail(a.error());
                }
            }
            if (r) {
                r = exec_body(s->body);
            }
            locals_.resize(size);
            f.scope_base = saved_base;
            f.in_scope = saved_in;
            return r;
        }
        case StmtKind::Macro: {
            auto m = std::make_shared<Macro>(
                frame_->program->shared_from_this(), s, frame_->module,
                frame_->in_scope ? snapshot_locals() : std::vector<std::pair<std::string, Value>>{},
                frame_->auto_escape, false);
            track(m);
            set_local(s->text, Value::object(std::move(m)));
            return Flow::Normal;
        }
        case StmtKind::CallBlock:
            return exec_call_block(s);
        case StmtKind::FilterBlock: {
            auto text = capture(s->body);
            if (!text) {
                return std::unexpected(text.error());
            }
            auto v = apply_filter_chain(s->filters, markup(std::move(*text)));
            if (!v) {
                return located_fail(v.error());
            }
            if (auto r = write_value(*v); !r) {
                return located_fail(r.error());
            }
            return Flow::Normal;
        }
        case StmtKind::Include:
            return exec_include(s);
        case StmtKind::Import:
        case StmtKind::FromImport:
            return exec_import(s);
        case StmtKind::Extends:
            return exec_extends(s);
        case StmtKind::Block:
            return exec_block(s);
        case StmtKind::AutoEscape: {
            auto v = eval(s->expr);
            if (!v) {
                return std::unexpected(v.error());
            }
            AutoEscape ae;
            if (v->kind() == Value::Kind::Bool) {
                ae = v->as_bool() ? AutoEscape::html() : AutoEscape::none();
            } else if (v->is_string() && (v->str() == "html" || v->str() == "json" || v->str() == "none")) {
                ae = v->str() == "html" ? AutoEscape::html()
                                        : (v->str() == "json" ? AutoEscape::json() : AutoEscape::none());
            } else {
                return located_fail(Error(ErrorKind::InvalidOperation, "invalid value for autoescape"));
            }
            AutoEscape saved = frame_->auto_escape;
            frame_->auto_escape = ae;
            auto r = exec_body(s->body);
            frame_->auto_escape = saved;
            return r;
        }
        case StmtKind::Do: {
            auto v = eval(s->expr);
            if (!v) {
                return std::unexpected(v.error());
            }
            return Flow::Normal;
        }
        case StmtKind::Break:
            return Flow::Break;
        case StmtKind::Continue:
            return Flow::Continue;
    }
    return Flow::Normal;
}

Vm::Exec Vm::exec_output(const Stmt* s) {
    auto v = eval(s->expr);
    if (!v) {
        return std::unexpected(v.error());
    }
    if (auto r = write_value(*v); !r) {
        return std::unexpected(located(r.error(), s->line));
    }
    return Flow::Normal;
}

Vm::Exec Vm::exec_for(const Stmt* s, const Value& iterable, std::size_t depth) {
    // Sequences are iterated in place; everything else is materialised first.
    std::shared_ptr<const std::vector<Value>> shared;
    if (iterable.is_sequence() && !s->expr2) {
        shared = iterable.items_ptr();
    } else {
        auto items = iterate(iterable);
        if (!items) {
            return std::unexpected(located(items.error(), s->line));
        }
        shared = std::make_shared<const std::vector<Value>>(std::move(*items));
    }
    Frame& f = *frame_;
    const auto saved_base = f.scope_base;
    const auto saved_in = f.in_scope;
    const auto size = locals_.size();
    f.scope_base = size;
    f.in_scope = true;
    auto restore = [&] {
        locals_.resize(size);
        f.scope_base = saved_base;
        f.in_scope = saved_in;
    };
    if (s->expr2) {
        std::vector<Value> kept;
        for (const auto& item : *shared) {
            locals_.resize(size);
            if (auto a = assign(s->target, item); !a) {
                restore();
                return std::unexpected(located(a.error(), s->line));
            }
            auto c = eval(s->expr2);
            if (!c) {
                restore();
                return std::unexpected(c.error());
            }
            if (c->truthy()) {
                kept.push_back(item);
            }
        }
        shared = std::make_shared<const std::vector<Value>>(std::move(kept));
    }
    if (shared->empty()) {
        restore();
        return exec_body(s->else_body);
    }
    auto loop = std::make_shared<LoopObj>(shared, depth, s->recursive ? s : nullptr);
    track(loop);
    const Value loop_value = Value::object(loop);
    Exec result = Flow::Normal;
    for (std::size_t i = 0; i < shared->size(); ++i) {
        if (auto c = charge(1); !c) {
            result = std::unexpected(located(c.error(), s->line));
            break;
        }
        loop->index0_ = i;
        locals_.resize(size);
        if (auto a = assign(s->target, (*shared)[i]); !a) {
            result = std::unexpected(located(a.error(), s->line));
            break;
        }
        set_local("loop", loop_value);
        auto r = exec_body(s->body);
        if (!r) {
            result = r;
            break;
        }
        if (*r == Flow::Break) {
            break;
        }
    }
    restore();
    return result;
}

Result<Value> Vm::recurse_loop(const Stmt* loop, const Value& iterable, std::size_t depth) {
    if (auto r = enter(); !r) {
        return std::unexpected(r.error());
    }
    std::string buf;
    Output out(&buf);
    Output* saved = frame_->out;
    frame_->out = &out;
    auto r = exec_for(loop, iterable, depth);
    frame_->out = saved;
    leave();
    if (!r) {
        return std::unexpected(r.error());
    }
    return markup(std::move(buf));
}

Vm::Exec Vm::exec_include(const Stmt* s) {
    auto name = eval(s->expr);
    if (!name) {
        return std::unexpected(name.error());
    }
    std::vector<Value> candidates;
    if (name->is_sequence()) {
        candidates = name->items();
    } else {
        candidates.push_back(*name);
    }
    std::shared_ptr<const Program> program;
    for (const auto& c : candidates) {
        if (!c.is_string()) {
            return std::unexpected(
                located(Error(ErrorKind::InvalidOperation,
                              fmt::format("template name must be a string, got {}", c.type_name())),
                        s->line));
        }
        if ((program = env_.find_program(c.str()))) {
            break;
        }
    }
    if (!program) {
        if (s->ignore_missing) {
            return Flow::Normal;
        }
        std::string msg = candidates.size() == 1
                              ? fmt::format("template {} does not exist", candidates[0].to_string())
                              : fmt::format("none of the templates given were found: {}", name->to_string());
        return std::unexpected(located(Error(ErrorKind::TemplateNotFound, std::move(msg)), s->line));
    }
    auto module = std::make_shared<Module>();
    if (s->with_context) {
        module->context = Value::map(flatten_visible());
    }
    auto r = run_template(program.get(), std::move(module), *frame_->out);
    if (!r) {
        return std::unexpected(located(r.error(), s->line));
    }
    return Flow::Normal;
}

Vm::Exec Vm::exec_import(const Stmt* s) {
    auto name = eval(s->expr);
    if (!name) {
        return std::unexpected(name.error());
    }
    auto program = load(*name);
    if (!program) {
        return std::unexpected(located(program.error(), s->line));
    }
    auto module = std::make_shared<Module>();
    if (s->with_context) {
        module->context = Value::map(flatten_visible());
    }
    std::string body;
    Output out(&body);
    if (auto r = run_template(program->get(), module, out); !r) {
        return std::unexpected(located(r.error(), s->line));
    }
    if (s->kind == StmtKind::Import) {
        auto obj = std::make_shared<TemplateModule>((*program)->name, module, std::move(body));
        track(obj);
        set_local(s->text, Value::object(std::move(obj)));
        return Flow::Normal;
    }
    for (const auto& [n, alias] : s->names) {
        const Value* v = module->find(n);
        set_local(alias, v ? *v : Value());
    }
    return Flow::Normal;
}

Vm::Exec Vm::exec_extends(const Stmt* s) {
    if (frame_->extends_parent) {
        return std::unexpected(
            located(Error(ErrorKind::InvalidOperation, "tried to extend a second time"), s->line));
    }
    auto name = eval(s->expr);
    if (!name) {
        return std::unexpected(name.error());
    }
    auto program = load(*name);
    if (!program) {
        return std::unexpected(located(program.error(), s->line));
    }
    static Output discard(nullptr);
    frame_->parent_ref = *program;
    frame_->extends_parent = program->get();
    frame_->out = &discard;
    return Flow::Normal;
}

Vm::Exec Vm::exec_block(const Stmt* s) {
    if (frame_->extends_parent) {
        return Flow::Normal;
    }
    auto v = render_block(s->text, 0);
    if (!v) {
        return std::unexpected(located(v.error(), s->line));
    }
    if (auto r = frame_->out->write(v->str()); !r) {
        return std::unexpected(located(r.error(), s->line));
    }
    return Flow::Normal;
}

Result<Value> Vm::render_block(std::string_view name, std::size_t level) {
    if (!frame_->chain) {
        return fail(ErrorKind::UnknownBlock, fmt::format("block '{}' not found", name));
    }
    auto it = frame_->chain->blocks.find(name);
    if (it == frame_->chain->blocks.end()) {
        return fail(ErrorKind::UnknownBlock, fmt::format("block '{}' not found", name));
    }
    const auto& levels = it->second;
    if (level >= levels.size()) {
        return fail(ErrorKind::UnknownBlock, fmt::format("no parent block exists for '{}'", name));
    }
    const auto [stmt, program] = levels[level];
    if (stmt->required && level == 0 && levels.size() == 1 && frame_->program == program) {
        return fail(ErrorKind::UnknownBlock, fmt::format("required block '{}' not found", name));
    }
    if (auto r = enter(); !r) {
        return std::unexpected(r.error());
    }
    std::string buf;
    Output out(&buf);
    Frame f = *frame_;
    f.program = program;
    f.closure = stmt->scoped ? frame_->closure : nullptr;
    f.locals_base = stmt->scoped ? frame_->locals_base : locals_.size();
    f.scope_base = locals_.size();
    f.in_scope = true;
    f.auto_escape = program->auto_escape;
    f.out = &out;
    f.extends_parent = nullptr;
    f.parent_ref.reset();
    Frame* saved = frame_;
    const auto size = locals_.size();
    frame_ = &f;
    if (level + 1 < levels.size()) {
        set_local("super", Value::object(std::make_shared<BlockFn>(std::string(name), level + 1)));
    }
    auto r = exec_body(stmt->body);
    locals_.resize(size);
    frame_ = saved;
    leave();
    if (!r) {
        return std::unexpected(r.error());
    }
    return markup(std::move(buf));
}

Vm::Exec Vm::exec_call_block(const Stmt* s) {
    auto caller = std::make_shared<Macro>(frame_->program->shared_from_this(), s, frame_->module,
                                          snapshot_locals(), frame_->auto_escape, true);
    track(caller);
    const Value caller_value = Value::object(caller);
    auto v = eval_call(s->expr, &caller_value);
    if (!v) {
        return std::unexpected(located(v.error(), s->line));
    }
    if (auto r = write_value(*v); !r) {
        return std::unexpected(located(r.error(), s->line));
    }
    return Flow::Normal;
}

Result<Value> Vm::call_macro(const Macro& m, const Args& args) {
    if (auto r = enter(); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = charge(1); !r) {
        leave();
        return std::unexpected(r.error());
    }
    const Signature& sig = m.def_->sig;
    const std::string_view macro_name = m.is_caller_ ? std::string_view("caller") : m.def_->text;
    std::string buf;
    Output out(&buf);
    Frame f;
    f.program = m.program_.get();
    f.module = m.module_ ? m.module_ : std::make_shared<Module>();
    f.closure = &m.closure_;
    f.locals_base = f.scope_base = locals_.size();
    f.in_scope = true;
    f.auto_escape = m.auto_escape_;
    f.chain = frame_->chain;
    f.out = &out;
    Frame* saved = frame_;
    const auto size = locals_.size();
    frame_ = &f;
    auto finish = [&](Result<Value> r) {
        locals_.resize(size);
        frame_ = saved;
        leave();
        return r;
    };

    const auto& params = sig.params;
    if (args.positional.size() > params.size() && !sig.uses_varargs) {
        return finish(
            fail(ErrorKind::TooManyArguments,
                 fmt::format("macro '{}' takes not more than {} argument(s)", macro_name, params.size())));
    }
    std::vector<bool> given(params.size(), false);
    std::vector<const Value*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size() && i < args.positional.size(); ++i) {
        values[i] = &args.positional[i];
        given[i] = true;
    }
    ValueMap extra_kwargs;
    Value caller;
    for (const auto& kw : args.keyword) {
        bool matched = false;
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i].first == kw.name) {
                if (given[i]) {
                    return finish(fail(ErrorKind::TooManyArguments,
                                       fmt::format("macro '{}' got multiple values for argument '{}'",
                                                   macro_name, kw.name)));
                }
                values[i] = kw.value;
                given[i] = true;
                matched = true;
                break;
            }
        }
        if (matched) {
            continue;
        }
        if (kw.name == "caller" && sig.uses_caller) {
            caller = *kw.value;
        } else if (sig.uses_kwargs) {
            extra_kwargs.insert_or_assign(Value::from_string(std::string(kw.name)), *kw.value);
        } else {
            return finish(
                fail(ErrorKind::TooManyArguments,
                     fmt::format("macro '{}' takes no keyword argument '{}'", macro_name, kw.name)));
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (values[i]) {
            set_local(params[i].first, *values[i]);
        } else if (params[i].second) {
            auto d = eval(params[i].second);
            if (!d) {
                return finish(std::unexpected(d.error()));
            }
            set_local(params[i].first, std::move(*d));
        } else {
            set_local(params[i].first, Value());
        }
    }
    if (sig.uses_varargs) {
        std::vector<Value> rest;
        for (std::size_t i = params.size(); i < args.positional.size(); ++i) {
            rest.push_back(args.positional[i]);
        }
        set_local("varargs", Value::tuple(std::move(rest)));
    }
    if (sig.uses_kwargs) {
        set_local("kwargs", Value::map(std::move(extra_kwargs)));
    }
    if (sig.uses_caller && !m.is_caller_) {
        set_local("caller", caller);
    }
    auto r = exec_body(m.def_->body);
    if (!r) {
        return finish(std::unexpected(r.error()));
    }
    return finish(Value::from_string(std::move(buf), m.auto_escape_.kind != AutoEscape::Kind::None));
}

Result<Value> Vm::apply_filter_chain(const std::vector<Expr*>& chain, Value value) {
    for (const Expr* f : chain) {
        auto r = eval_filter(f, value);
        if (!r) {
            return r;
        }
        value = std::move(*r);
    }
    return value;
}

// ---------------------------------------------------------------- expressions

Result<Value> Vm::eval(const Expr* e) {
    // Left-deep chains (a|f|f|f..., 1+1+1...) are not bounded by the parser's nesting limit.
    if (stack_used() > kStackBudget) {
        return std::unexpected(
            located(Error(ErrorKind::LimitExceeded, "expression nesting too deep"), e->line));
    }
    auto r = eval_inner(e);
    if (!r) {
        return std::unexpected(located(std::move(r.error()), e->line));
    }
    return r;
}

namespace {

// Evaluated call arguments with stable addresses for the keyword views.
struct CallArgs {
    std::vector<Value> positional;
    std::vector<Value> kw_values;
    std::vector<Kwarg> keyword;
    Args view() const { return Args{positional, keyword}; }
};

}  // namespace

Result<Value> Vm::eval_inner(const Expr* e) {
    switch (e->kind) {
        case ExprKind::Const:
            return e->value;
        case ExprKind::Name: {
            const Value* v = lookup(e->name);
            if (v) {
                return *v;
            }
            if (e->name == "self" && frame_->chain) {
                auto s = std::make_shared<SelfObj>();
                return Value::object(std::move(s));
            }
            return Value();
        }
        case ExprKind::List:
        case ExprKind::Tuple: {
            std::vector<Value> items;
            items.reserve(e->args.size());
            for (const Expr* x : e->args) {
                auto v = eval(x);
                if (!v) {
                    return v;
                }
                items.push_back(std::move(*v));
            }
            return e->kind == ExprKind::List ? Value::seq(std::move(items)) : Value::tuple(std::move(items));
        }
        case ExprKind::Dict: {
            ValueMap m;
            m.reserve(e->args.size() / 2);
            for (std::size_t i = 0; i + 1 < e->args.size(); i += 2) {
                auto k = eval(e->args[i]);
                if (!k) {
                    return k;
                }
                auto v = eval(e->args[i + 1]);
                if (!v) {
                    return v;
                }
                if (!k->is_hashable()) {
                    return fail(ErrorKind::NonKey, fmt::format("unhashable type: '{}'", k->type_name()));
                }
                m.insert_or_assign(std::move(*k), std::move(*v));
            }
            return Value::map(std::move(m));
        }
        case ExprKind::GetAttr: {
            auto base = eval(e->a);
            if (!base) {
                return base;
            }
            if (base->is_undefined()) {
                return undefined_error();
            }
            return base->get_attr(e->name);
        }
        case ExprKind::GetItem: {
            auto base = eval(e->a);
            if (!base) {
                return base;
            }
            if (base->is_undefined()) {
                return undefined_error();
            }
            auto key = eval(e->b);
            if (!key) {
                return key;
            }
            return base->get_item(*key);
        }
        case ExprKind::Slice:
            return eval_slice(e);
        case ExprKind::Call:
            return eval_call(e, nullptr);
        case ExprKind::Filter: {
            Value input;
            if (e->a) {
                auto v = eval(e->a);
                if (!v) {
                    return v;
                }
                input = std::move(*v);
            }
            return eval_filter(e, input);
        }
        case ExprKind::Test:
            return eval_test(e);
        case ExprKind::Neg:
        case ExprKind::Pos: {
            auto v = eval(e->a);
            if (!v) {
                return v;
            }
            const bool neg = e->kind == ExprKind::Neg;
            switch (v->kind()) {
                case Value::Kind::Bool:
                case Value::Kind::Int:
                    if (neg && v->as_int() == INT64_MIN) {
                        return fail(ErrorKind::InvalidOperation, "integer overflow");
                    }
                    return Value::from_int(neg ? -v->as_int() : v->as_int());
                case Value::Kind::Float:
                    return Value::from_float(neg ? -v->as_float() : v->as_float());
                case Value::Kind::Undefined:
                    return undefined_error();
                default:
                    return fail(
                        ErrorKind::InvalidOperation,
                        fmt::format("bad operand type for unary {}: '{}'", neg ? '-' : '+', v->type_name()));
            }
        }
        case ExprKind::Not: {
            auto v = eval(e->a);
            if (!v) {
                return v;
            }
            return Value::from_bool(!v->truthy());
        }
        case ExprKind::Binary: {
            auto a = eval(e->a);
            if (!a) {
                return a;
            }
            auto b = eval(e->b);
            if (!b) {
                return b;
            }
            auto r = binary_op(static_cast<BinOp>(e->op), *a, *b);
            if (r && r->is_string() && r->str().size() > 4096) {
                if (auto c = charge(r->str().size() / 4096); !c) {
                    return std::unexpected(c.error());
                }
            }
            return r;
        }
        case ExprKind::And:
        case ExprKind::Or: {
            auto a = eval(e->a);
            if (!a) {
                return a;
            }
            if (a->truthy() == (e->kind == ExprKind::Or)) {
                return a;
            }
            return eval(e->b);
        }
        case ExprKind::Compare:
            return eval_compare(e);
        case ExprKind::Cond: {
            auto c = eval(e->a);
            if (!c) {
                return c;
            }
            if (c->truthy()) {
                return eval(e->b);
            }
            return e->c ? eval(e->c) : Value();
        }
        case ExprKind::Concat:
            return eval_concat(e);
    }
    return Value();
}

Result<Value> Vm::eval_concat(const Expr* e) {
    std::vector<Value> parts;
    parts.reserve(e->args.size());
    bool any_safe = false;
    for (const Expr* x : e->args) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        any_safe |= v->is_safe();
        parts.push_back(std::move(*v));
    }
    // Under HTML auto-escaping a safe operand makes the join escape the others (markupsafe).
    const bool markup_join = any_safe && frame_->auto_escape.kind == AutoEscape::Kind::Html;
    std::string out;
    for (const auto& p : parts) {
        if (markup_join && !p.is_safe()) {
            html_escape(p.to_string(), out);
        } else {
            p.write_string(out);
        }
        if (out.size() > kMaxSize) {
            return fail(ErrorKind::LimitExceeded, "string too long");
        }
    }
    if (out.size() > 4096) {
        if (auto c = charge(out.size() / 4096); !c) {
            return std::unexpected(c.error());
        }
    }
    return Value::from_string(std::move(out), markup_join);
}

Result<Value> Vm::eval_compare(const Expr* e) {
    auto left = eval(e->a);
    if (!left) {
        return left;
    }
    Value l = std::move(*left);
    for (const auto& [op, rhs] : e->ops) {
        auto right = eval(rhs);
        if (!right) {
            return right;
        }
        bool ok = false;
        switch (op) {
            case CmpOp::Eq:
                ok = l.equals(*right);
                break;
            case CmpOp::Ne:
                ok = !l.equals(*right);
                break;
            case CmpOp::In:
            case CmpOp::NotIn: {
                auto c = contains(*right, l);
                if (!c) {
                    return std::unexpected(c.error());
                }
                ok = op == CmpOp::In ? *c : !*c;
                break;
            }
            default: {
                if (l.is_undefined() || right->is_undefined()) {
                    return undefined_error();
                }
                auto c = l.compare(*right);
                if (!c) {
                    return std::unexpected(c.error());
                }
                ok = op == CmpOp::Lt   ? *c < 0
                     : op == CmpOp::Le ? *c <= 0
                     : op == CmpOp::Gt ? *c > 0
                                       : *c >= 0;
            }
        }
        if (!ok) {
            return Value::from_bool(false);
        }
        l = std::move(*right);
    }
    return Value::from_bool(true);
}

Result<Value> Vm::eval_slice(const Expr* e) {
    auto base = eval(e->a);
    if (!base) {
        return base;
    }
    if (base->is_undefined()) {
        return undefined_error();
    }
    std::optional<std::int64_t> parts[3];
    for (int i = 0; i < 3; ++i) {
        if (!e->args[i]) {
            continue;
        }
        auto v = eval(e->args[i]);
        if (!v) {
            return v;
        }
        if (v->is_none()) {
            continue;
        }
        if (v->kind() != Value::Kind::Int && v->kind() != Value::Kind::Bool) {
            return fail(ErrorKind::InvalidOperation, "slice indices must be integers or None");
        }
        parts[i] = v->as_int();
    }
    const std::int64_t step = parts[2].value_or(1);
    if (step == 0) {
        return fail(ErrorKind::InvalidOperation, "slice step cannot be zero");
    }
    std::vector<char32_t> cps;
    const std::vector<Value>* items = nullptr;
    std::int64_t len = 0;
    if (base->is_string()) {
        cps = text::code_points(base->str());
        len = static_cast<std::int64_t>(cps.size());
    } else if (base->is_sequence()) {
        items = &base->items();
        len = static_cast<std::int64_t>(items->size());
    } else {
        return Value();
    }
    // Python's slice.indices
    auto clamp = [&](std::optional<std::int64_t> v, std::int64_t def) {
        if (!v) {
            return def;
        }
        std::int64_t x = *v;
        if (x < 0) {
            x += len;
            if (x < 0) {
                x = step < 0 ? -1 : 0;
            }
        } else if (x >= len) {
            x = step < 0 ? len - 1 : len;
        }
        return x;
    };
    const std::int64_t start = clamp(parts[0], step < 0 ? len - 1 : 0);
    const std::int64_t stop = clamp(parts[1], step < 0 ? -1 : len);
    std::vector<std::size_t> picks;
    for (std::int64_t i = start; step > 0 ? i < stop : i > stop; i += step) {
        picks.push_back(static_cast<std::size_t>(i));
    }
    if (items) {
        std::vector<Value> out;
        out.reserve(picks.size());
        for (auto i : picks) {
            out.push_back((*items)[i]);
        }
        return base->kind() == Value::Kind::Tuple ? Value::tuple(std::move(out)) : Value::seq(std::move(out));
    }
    std::string out;
    for (auto i : picks) {
        text::append_utf8(out, cps[i]);
    }
    return Value::from_string(std::move(out), base->is_safe());
}

Result<Value> Vm::eval_call(const Expr* e, const Value* caller) {
    CallArgs ca;
    ca.positional.reserve(e->args.size());
    for (const Expr* x : e->args) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.positional.push_back(std::move(*v));
    }
    ca.kw_values.reserve(e->kwargs.size() + 1);
    for (const auto& [k, x] : e->kwargs) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.kw_values.push_back(std::move(*v));
    }
    if (caller) {
        ca.kw_values.push_back(*caller);
    }
    for (std::size_t i = 0; i < e->kwargs.size(); ++i) {
        ca.keyword.push_back(Kwarg{e->kwargs[i].first, &ca.kw_values[i]});
    }
    if (caller) {
        ca.keyword.push_back(Kwarg{"caller", &ca.kw_values.back()});
    }
    const Args args = ca.view();
    if (e->a->kind == ExprKind::GetAttr) {
        auto receiver = eval(e->a->a);
        if (!receiver) {
            return receiver;
        }
        if (receiver->is_undefined()) {
            return undefined_error();
        }
        return call_method(*receiver, e->a->name, args);
    }
    auto callee = eval(e->a);
    if (!callee) {
        return callee;
    }
    if (callee->is_undefined()) {
        return undefined_error();
    }
    return call_value(*callee, args);
}

Result<Value> Vm::call_value(const Value& callee, const Args& args) {
    if (callee.kind() == Value::Kind::Object) {
        return callee.obj().call(state_, args);
    }
    return fail(ErrorKind::InvalidOperation, fmt::format("'{}' object is not callable", callee.type_name()));
}

Result<Value> Vm::call_method(const Value& receiver, std::string_view name, const Args& args) {
    if (receiver.kind() == Value::Kind::Object) {
        const Value attr = receiver.obj().get_attr(name);
        if (attr.kind() == Value::Kind::Object) {
            return attr.obj().call(state_, args);
        }
        auto r = receiver.obj().call_method(state_, name, args);
        if (r || r.error().kind() != ErrorKind::UnknownMethod || !env_.unknown_method_callback()) {
            return r;
        }
        return env_.unknown_method_callback()(state_, receiver, name, args);
    }
    if (receiver.kind() == Value::Kind::Map) {
        const Value* v = receiver.map_entries().find(name);
        if (v && v->kind() == Value::Kind::Object) {
            return v->obj().call(state_, args);
        }
    }
    bool handled = false;
    auto r = call_builtin_method(*this, receiver, name, args, handled);
    if (handled) {
        return r;
    }
    if (const auto& cb = env_.unknown_method_callback()) {
        return cb(state_, receiver, name, args);
    }
    return fail(ErrorKind::UnknownMethod,
                fmt::format("{} has no method named {}", receiver.type_name(), name));
}

Result<Value> Vm::eval_filter(const Expr* e, const Value& input) {
    CallArgs ca;
    ca.positional.reserve(e->args.size());
    for (const Expr* x : e->args) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.positional.push_back(std::move(*v));
    }
    ca.kw_values.reserve(e->kwargs.size());
    for (const auto& [k, x] : e->kwargs) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.kw_values.push_back(std::move(*v));
    }
    for (std::size_t i = 0; i < e->kwargs.size(); ++i) {
        ca.keyword.push_back(Kwarg{e->kwargs[i].first, &ca.kw_values[i]});
    }
    return apply_filter(e->name, input, ca.view(), e->filter_fn);
}

Result<Value> Vm::apply_filter(std::string_view name, const Value& value, const Args& args,
                               BuiltinFilter builtin) {
    if (builtin) {
        return builtin(*this, value, args);
    }
    if (const FilterFn* f = env_.find_filter(name)) {
        return (*f)(state_, value, args);
    }
    if (BuiltinFilter f = find_builtin_filter(name)) {
        return f(*this, value, args);
    }
    return fail(ErrorKind::UnknownFilter, fmt::format("filter {} is unknown", name));
}

Result<bool> Vm::apply_test(std::string_view name, const Value& value, const Args& args,
                            BuiltinTest builtin) {
    if (builtin) {
        return builtin(*this, value, args);
    }
    if (const TestFn* t = env_.find_test(name)) {
        return (*t)(state_, value, args);
    }
    if (BuiltinTest t = find_builtin_test(name)) {
        return t(*this, value, args);
    }
    return fail(ErrorKind::UnknownTest, fmt::format("test {} is unknown", name));
}

Result<Value> Vm::eval_test(const Expr* e) {
    auto input = eval(e->a);
    if (!input) {
        return input;
    }
    CallArgs ca;
    for (const Expr* x : e->args) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.positional.push_back(std::move(*v));
    }
    ca.kw_values.reserve(e->kwargs.size());
    for (const auto& [k, x] : e->kwargs) {
        auto v = eval(x);
        if (!v) {
            return v;
        }
        ca.kw_values.push_back(std::move(*v));
    }
    for (std::size_t i = 0; i < e->kwargs.size(); ++i) {
        ca.keyword.push_back(Kwarg{e->kwargs[i].first, &ca.kw_values[i]});
    }
    auto r = apply_test(e->name, *input, ca.view(), e->test_fn);
    if (!r) {
        return std::unexpected(r.error());
    }
    return Value::from_bool(e->op ? !*r : *r);
}

}  // namespace zelk::jinja::detail
