#include <fmt/format.h>

#include "jinja/ast.hpp"
#include "jinja/vm.hpp"

namespace zelk::jinja {

Environment::Environment() = default;
Environment::~Environment() = default;
Environment::Environment(const Environment&) = default;
Environment& Environment::operator=(const Environment&) = default;
Environment::Environment(Environment&&) noexcept = default;
Environment& Environment::operator=(Environment&&) noexcept = default;

Result<void> Environment::set_syntax(std::string variable_start, std::string variable_end) {
    if (variable_start.empty() || variable_end.empty()) {
        return fail(ErrorKind::InvalidDelimiter, "delimiters must not be empty");
    }
    for (std::string_view fixed : {"{%", "%}", "{#", "#}"}) {
        if (variable_start == fixed || variable_end == fixed) {
            return fail(
                ErrorKind::InvalidDelimiter,
                fmt::format("variable delimiters must differ from the block and comment delimiters, got {}",
                            fixed));
        }
    }
    // A start delimiter that begins a block or comment tag (e.g. "{%x") would never be seen.
    if (variable_start.starts_with("{%") || variable_start.starts_with("{#")) {
        return fail(ErrorKind::InvalidDelimiter,
                    "variable start delimiter clashes with the block or comment start");
    }
    variable_start_ = std::move(variable_start);
    variable_end_ = std::move(variable_end);
    return {};
}

void Environment::add_filter(std::string name, FilterFn filter) {
    filters_[std::move(name)] = std::move(filter);
}
void Environment::add_test(std::string name, TestFn test) {
    tests_[std::move(name)] = std::move(test);
}
void Environment::add_global(std::string name, Value value) {
    globals_[std::move(name)] = std::move(value);
}

const FilterFn* Environment::find_filter(std::string_view name) const {
    auto it = filters_.find(name);
    return it == filters_.end() ? nullptr : &it->second;
}

const TestFn* Environment::find_test(std::string_view name) const {
    auto it = tests_.find(name);
    return it == tests_.end() ? nullptr : &it->second;
}

const Value* Environment::find_global(std::string_view name) const {
    if (globals_.empty()) {
        return nullptr;
    }
    auto it = globals_.find(name);
    return it == globals_.end() ? nullptr : &it->second;
}

std::shared_ptr<const detail::Program> Environment::find_program(std::string_view name) const {
    auto it = templates_.find(name);
    return it == templates_.end() ? nullptr : it->second;
}

AutoEscape Environment::auto_escape_for(std::string_view name) const {
    return auto_escape_ ? auto_escape_(name) : AutoEscape::none();
}

namespace {

// Unknown filters and tests are compile errors, as in Jinja2; built-ins are resolved here once.
Result<void> resolve_names(detail::Program& p, const Environment& env) {
    for (auto& e : p.exprs) {
        if (e.kind == detail::ExprKind::Filter && !env.find_filter(e.name)) {
            e.filter_fn = detail::find_builtin_filter(e.name);
        }
        if (e.kind == detail::ExprKind::Test && !env.find_test(e.name)) {
            e.test_fn = detail::find_builtin_test(e.name);
        }
        if (e.kind == detail::ExprKind::Filter && !env.find_filter(e.name) && !e.filter_fn) {
            Error err(ErrorKind::UnknownFilter, fmt::format("filter {} is unknown", e.name));
            err.set_location(p.name, e.line);
            return std::unexpected(err);
        }
        if (e.kind == detail::ExprKind::Test && !env.find_test(e.name) && !e.test_fn) {
            Error err(ErrorKind::UnknownTest, fmt::format("test {} is unknown", e.name));
            err.set_location(p.name, e.line);
            return std::unexpected(err);
        }
    }
    return {};
}

Result<std::shared_ptr<detail::Program>> compile_program(const Environment& env, std::string name,
                                                         std::string_view source) {
    auto p = std::make_shared<detail::Program>();
    p->name = std::move(name);
    p->source.assign(source);
    p->auto_escape = env.auto_escape_for(p->name);
    if (auto r = detail::parse_program(*p, env); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = resolve_names(*p, env); !r) {
        return std::unexpected(r.error());
    }
    return p;
}

}  // namespace

Result<void> Environment::add_template(std::string name, std::string_view source) {
    auto p = compile_program(*this, name, source);
    if (!p) {
        return std::unexpected(p.error());
    }
    templates_[std::move(name)] = std::move(*p);
    return {};
}

Result<Template> Environment::get_template(std::string_view name) const {
    auto p = find_program(name);
    if (!p) {
        return fail(ErrorKind::TemplateNotFound, fmt::format("template {} does not exist", name));
    }
    return Template(this, std::move(p));
}

Result<Template> Environment::compile(std::string name, std::string_view source) const {
    auto p = compile_program(*this, std::move(name), source);
    if (!p) {
        return std::unexpected(p.error());
    }
    return Template(this, std::move(*p));
}

Result<std::string> Environment::render_named_str(std::string name, std::string_view source,
                                                  const Value& context) const {
    auto t = compile(std::move(name), source);
    if (!t) {
        return std::unexpected(t.error());
    }
    return t->render(context);
}

const std::string& Template::name() const noexcept {
    return program_->name;
}

Result<std::string> Template::render(const Value& context) const {
    detail::Vm vm(*env_);
    return vm.render(program_, context);
}

Result<std::string> to_json(const Value& value) {
    std::string out;
    if (auto r = detail::write_json(out, value.is_undefined() ? Value::none() : value, detail::JsonStyle{});
        !r) {
        return std::unexpected(r.error());
    }
    return out;
}

}  // namespace zelk::jinja
