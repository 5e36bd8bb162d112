#include <fmt/format.h>

#include <initializer_list>

#include "jinja/ast.hpp"
#include "jinja/lexer.hpp"

namespace zelk::jinja::detail {
namespace {

std::string describe(const Token& t) {
    switch (t.kind) {
        case Tok::Eof:
            return "end of template";
        case Tok::BlockEnd:
            return "end of statement block";
        case Tok::VarEnd:
            return "end of print statement";
        case Tok::BlockBegin:
            return "begin of statement block";
        case Tok::VarBegin:
            return "begin of print statement";
        case Tok::String:
            return "string";
        case Tok::Int:
            return "integer";
        case Tok::Float:
            return "float";
        case Tok::Data:
            return "template data";
        default:
            return fmt::format("'{}'", t.text);
    }
}

// Recursive descent over the token list, following Jinja2's grammar and precedence.
class Parser {
  public:
    Parser(Program& p, std::vector<Token> tokens) : p_(p), toks_(std::move(tokens)) {}

    Result<void> run() {
        auto body = subparse({});
        if (!body) {
            return std::unexpected(body.error());
        }
        p_.body = std::move(*body);
        return {};
    }

  private:
    using Exp = Result<Expr*>;

    const Token& cur() const { return toks_[i_]; }
    const Token& look(std::size_t n = 1) const { return toks_[std::min(i_ + n, toks_.size() - 1)]; }
    void next() {
        if (i_ + 1 < toks_.size()) {
            ++i_;
        }
    }
    bool is_op(std::string_view op) const { return cur().kind == Tok::Op && cur().text == op; }
    bool is_name(std::string_view n) const { return cur().kind == Tok::Name && cur().text == n; }
    bool skip_op(std::string_view op) {
        if (is_op(op)) {
            next();
            return true;
        }
        return false;
    }
    bool skip_name(std::string_view n) {
        if (is_name(n)) {
            next();
            return true;
        }
        return false;
    }

    std::unexpected<Error> error(std::string msg) const { return error_at(std::move(msg), cur().line); }
    std::unexpected<Error> error_at(std::string msg, std::uint32_t line) const {
        Error e(ErrorKind::SyntaxError, std::move(msg));
        e.set_location(p_.name, line);
        return std::unexpected(e);
    }
    std::unexpected<Error> unexpected(std::string_view expected) const {
        return error(fmt::format("unexpected {}, expected {}", describe(cur()), expected));
    }

    Result<void> expect_op(std::string_view op) {
        if (!skip_op(op)) {
            return unexpected(fmt::format("'{}'", op));
        }
        return {};
    }
    Result<std::string_view> expect_name() {
        if (cur().kind != Tok::Name) {
            return unexpected("name");
        }
        auto n = cur().text;
        next();
        return n;
    }
    Result<void> expect_block_end() {
        if (cur().kind != Tok::BlockEnd) {
            return unexpected("end of statement block");
        }
        next();
        return {};
    }

    // Guards every recursive production: hostile nesting ends in an error, not a stack overflow.
    struct Depth {
        Parser& p;
        explicit Depth(Parser& parser) : p(parser) { ++p.depth_; }
        ~Depth() { --p.depth_; }
        bool too_deep() const { return p.depth_ > kMaxNesting; }
    };
    std::unexpected<Error> too_deep() const {
        Error e(ErrorKind::LimitExceeded, "template nesting too deep");
        e.set_location(p_.name, cur().line);
        return std::unexpected(e);
    }

    Expr* node(ExprKind kind, std::uint32_t line) {
        auto& e = p_.exprs.emplace_back();
        e.kind = kind;
        e.line = line;
        return &e;
    }
    Stmt* stmt(StmtKind kind, std::uint32_t line) {
        auto& s = p_.stmts.emplace_back();
        s.kind = kind;
        s.line = line;
        return &s;
    }

    // Parses template nodes until a block tag whose name is in `ends` (left as current token).
    Result<std::vector<Stmt*>> subparse(std::initializer_list<std::string_view> ends) {
        Depth d(*this);
        if (d.too_deep()) {
            return too_deep();
        }
        std::vector<Stmt*> body;
        while (true) {
            const Token& t = cur();
            switch (t.kind) {
                case Tok::Eof:
                    if (ends.size() != 0) {
                        return error(fmt::format("unexpected end of template, expected '{}'", *ends.begin()));
                    }
                    return body;
                case Tok::Data: {
                    Stmt* s = stmt(StmtKind::Data, t.line);
                    s->text = t.text;
                    body.push_back(s);
                    next();
                    break;
                }
                case Tok::VarBegin: {
                    Stmt* s = stmt(StmtKind::Output, t.line);
                    next();
                    auto e = parse_tuple(true, {}, false);
                    if (!e) {
                        return std::unexpected(e.error());
                    }
                    if (cur().kind != Tok::VarEnd) {
                        return unexpected("end of print statement");
                    }
                    next();
                    s->expr = *e;
                    body.push_back(s);
                    break;
                }
                case Tok::BlockBegin: {
                    const Token& n = look();
                    if (n.kind == Tok::Name) {
                        for (auto end : ends) {
                            if (n.text == end) {
                                next();
                                return body;
                            }
                        }
                    }
                    next();
                    auto s = parse_statement();
                    if (!s) {
                        return std::unexpected(s.error());
                    }
                    if (*s) {
                        body.push_back(*s);
                    }
                    break;
                }
                default:
                    return unexpected("template data");
            }
        }
    }

    // Parses a body up to one of `ends`; consumes the end tag's name and, if `drop`, the rest.
    Result<std::vector<Stmt*>> statements(std::initializer_list<std::string_view> ends, bool drop) {
        auto body = subparse(ends);
        if (!body) {
            return body;
        }
        // current token is the end name
        if (drop) {
            next();
            if (auto r = expect_block_end(); !r) {
                return std::unexpected(r.error());
            }
        }
        return body;
    }

    Result<Stmt*> parse_statement() {
        const Token& t = cur();
        if (t.kind != Tok::Name) {
            return error("tag name expected");
        }
        const auto name = t.text;
        const auto line = t.line;
        if (name == "for") {
            return parse_for(line);
        }
        if (name == "if") {
            return parse_if(line);
        }
        if (name == "set") {
            return parse_set(line);
        }
        if (name == "macro") {
            return parse_macro(line);
        }
        if (name == "call") {
            return parse_call_block(line);
        }
        if (name == "filter") {
            return parse_filter_block(line);
        }
        if (name == "with") {
            return parse_with(line);
        }
        if (name == "include") {
            return parse_include(line);
        }
        if (name == "import") {
            return parse_import(line);
        }
        if (name == "from") {
            return parse_from(line);
        }
        if (name == "extends") {
            next();
            Stmt* s = stmt(StmtKind::Extends, line);
            auto e = parse_expression(true);
            if (!e) {
                return std::unexpected(e.error());
            }
            s->expr = *e;
            return finish(s);
        }
        if (name == "block") {
            return parse_block(line);
        }
        if (name == "autoescape") {
            next();
            Stmt* s = stmt(StmtKind::AutoEscape, line);
            auto e = parse_expression(true);
            if (!e) {
                return std::unexpected(e.error());
            }
            s->expr = *e;
            return finish_body(s, {"endautoescape"});
        }
        if (name == "do" || name == "print") {
            next();
            Stmt* s = stmt(name == "do" ? StmtKind::Do : StmtKind::Output, line);
            auto e = parse_tuple(true, {}, false);
            if (!e) {
                return std::unexpected(e.error());
            }
            s->expr = *e;
            return finish(s);
        }
        if (name == "break" || name == "continue") {
            if (loop_depth_ == 0) {
                return error(fmt::format("'{}' outside of a loop", name));
            }
            next();
            return finish(stmt(name == "break" ? StmtKind::Break : StmtKind::Continue, line));
        }
        return error(fmt::format("unknown statement {}", name));
    }

    Result<Stmt*> finish(Stmt* s) {
        if (auto r = expect_block_end(); !r) {
            return std::unexpected(r.error());
        }
        return s;
    }

    Result<Stmt*> finish_body(Stmt* s, std::initializer_list<std::string_view> end) {
        if (auto r = expect_block_end(); !r) {
            return std::unexpected(r.error());
        }
        auto body = statements(end, true);
        if (!body) {
            return std::unexpected(body.error());
        }
        s->body = std::move(*body);
        return s;
    }

    Result<Stmt*> parse_for(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::For, line);
        auto target = parse_assign_target(true, false, {"in"});
        if (!target) {
            return std::unexpected(target.error());
        }
        s->target = *target;
        if (!skip_name("in")) {
            return unexpected("'in'");
        }
        auto iter = parse_tuple(false, {"recursive"}, false);
        if (!iter) {
            return std::unexpected(iter.error());
        }
        s->expr = *iter;
        if (skip_name("if")) {
            auto cond = parse_expression(true);
            if (!cond) {
                return std::unexpected(cond.error());
            }
            s->expr2 = *cond;
        }
        s->recursive = skip_name("recursive");
        if (auto r = expect_block_end(); !r) {
            return std::unexpected(r.error());
        }
        ++loop_depth_;
        auto body = statements({"endfor", "else"}, false);
        --loop_depth_;
        if (!body) {
            return std::unexpected(body.error());
        }
        s->body = std::move(*body);
        if (skip_name("else")) {
            if (auto r = expect_block_end(); !r) {
                return std::unexpected(r.error());
            }
            auto els = statements({"endfor"}, true);
            if (!els) {
                return std::unexpected(els.error());
            }
            s->else_body = std::move(*els);
        } else {
            next();
            if (auto r = expect_block_end(); !r) {
                return std::unexpected(r.error());
            }
        }
        return s;
    }

    Result<Stmt*> parse_if(std::uint32_t line) {
        next();
        Stmt* root = stmt(StmtKind::If, line);
        Stmt* s = root;
        while (true) {
            auto cond = parse_tuple(false, {}, false);
            if (!cond) {
                return std::unexpected(cond.error());
            }
            s->expr = *cond;
            if (auto r = expect_block_end(); !r) {
                return std::unexpected(r.error());
            }
            auto body = statements({"elif", "else", "endif"}, false);
            if (!body) {
                return std::unexpected(body.error());
            }
            s->body = std::move(*body);
            if (is_name("elif")) {
                Stmt* elif = stmt(StmtKind::If, cur().line);
                next();
                s->else_body.push_back(elif);
                s = elif;
                continue;
            }
            if (skip_name("else")) {
                if (auto r = expect_block_end(); !r) {
                    return std::unexpected(r.error());
                }
                auto els = statements({"endif"}, true);
                if (!els) {
                    return std::unexpected(els.error());
                }
                s->else_body = std::move(*els);
            } else {
                next();
                if (auto r = expect_block_end(); !r) {
                    return std::unexpected(r.error());
                }
            }
            return root;
        }
    }

    Result<Stmt*> parse_set(std::uint32_t line) {
        next();
        Expr* target = nullptr;
        if (cur().kind == Tok::Name && look().kind == Tok::Op && look().text == ".") {
            target = node(ExprKind::GetAttr, cur().line);
            Expr* base = node(ExprKind::Name, cur().line);
            base->name = cur().text;
            next();
            next();
            auto attr = expect_name();
            if (!attr) {
                return std::unexpected(attr.error());
            }
            target->a = base;
            target->name = *attr;
        } else {
            auto t = parse_assign_target(true, false, {});
            if (!t) {
                return std::unexpected(t.error());
            }
            target = *t;
        }
        if (skip_op("=")) {
            Stmt* s = stmt(StmtKind::Set, line);
            s->target = target;
            auto e = parse_tuple(true, {}, false);
            if (!e) {
                return std::unexpected(e.error());
            }
            s->expr = *e;
            return finish(s);
        }
        Stmt* s = stmt(StmtKind::SetBlock, line);
        s->target = target;
        if (is_op("|")) {
            next();
            if (auto r = parse_filter_chain(s->filters); !r) {
                return std::unexpected(r.error());
            }
        }
        return finish_body(s, {"endset"});
    }

    // `name(args)|name2...` after a leading pipe (or at the start of a filter block).
    Result<void> parse_filter_chain(std::vector<Expr*>& chain) {
        while (true) {
            auto f = parse_one_filter(nullptr);
            if (!f) {
                return std::unexpected(f.error());
            }
            chain.push_back(*f);
            if (!skip_op("|")) {
                return {};
            }
        }
    }

    Result<Stmt*> parse_signature(Signature& sig) {
        if (auto r = expect_op("("); !r) {
            return std::unexpected(r.error());
        }
        bool seen_default = false;
        while (!is_op(")")) {
            if (!sig.params.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
                if (is_op(")")) {
                    break;
                }
            }
            auto n = expect_name();
            if (!n) {
                return std::unexpected(n.error());
            }
            Expr* def = nullptr;
            if (skip_op("=")) {
                auto e = parse_expression(true);
                if (!e) {
                    return std::unexpected(e.error());
                }
                def = *e;
                seen_default = true;
            } else if (seen_default) {
                return error("non-default argument follows default argument");
            }
            sig.params.emplace_back(*n, def);
        }
        next();
        return nullptr;
    }

    // Records whether a body refers to `caller`, `varargs` or `kwargs` (outside nested macros).
    static void scan_uses(const Expr* e, Signature& sig) {
        if (!e) {
            return;
        }
        if (e->kind == ExprKind::Name) {
            sig.uses_caller |= e->name == "caller";
            sig.uses_varargs |= e->name == "varargs";
            sig.uses_kwargs |= e->name == "kwargs";
        }
        scan_uses(e->a, sig);
        scan_uses(e->b, sig);
        scan_uses(e->c, sig);
        for (auto* x : e->args) {
            scan_uses(x, sig);
        }
        for (auto& [k, x] : e->kwargs) {
            scan_uses(x, sig);
        }
        for (auto& [k, x] : e->ops) {
            scan_uses(x, sig);
        }
    }
    static void scan_uses(const std::vector<Stmt*>& body, Signature& sig) {
        for (const Stmt* s : body) {
            if (s->kind == StmtKind::Macro) {
                continue;
            }
            scan_uses(s->expr, sig);
            scan_uses(s->expr2, sig);
            for (auto& [t, v] : s->assigns) {
                scan_uses(v, sig);
            }
            for (auto* f : s->filters) {
                scan_uses(f, sig);
            }
            for (auto& [n, d] : s->sig.params) {
                scan_uses(d, sig);
            }
            scan_uses(s->body, sig);
            scan_uses(s->else_body, sig);
        }
    }

    Result<Stmt*> parse_macro(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::Macro, line);
        auto n = expect_name();
        if (!n) {
            return std::unexpected(n.error());
        }
        s->text = *n;
        if (auto r = parse_signature(s->sig); !r) {
            return std::unexpected(r.error());
        }
        const auto saved = loop_depth_;
        loop_depth_ = 0;
        auto r = finish_body(s, {"endmacro"});
        loop_depth_ = saved;
        if (r) {
            scan_uses(s->body, s->sig);
        }
        return r;
    }

    Result<Stmt*> parse_call_block(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::CallBlock, line);
        if (is_op("(")) {
            if (auto r = parse_signature(s->sig); !r) {
                return std::unexpected(r.error());
            }
        }
        auto call = parse_expression(true);
        if (!call) {
            return std::unexpected(call.error());
        }
        if ((*call)->kind != ExprKind::Call) {
            return error_at("expected call", line);
        }
        s->expr = *call;
        const auto saved = loop_depth_;
        loop_depth_ = 0;
        auto r = finish_body(s, {"endcall"});
        loop_depth_ = saved;
        if (r) {
            scan_uses(s->body, s->sig);
        }
        return r;
    }

    Result<Stmt*> parse_filter_block(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::FilterBlock, line);
        if (auto r = parse_filter_chain(s->filters); !r) {
            return std::unexpected(r.error());
        }
        return finish_body(s, {"endfilter"});
    }

    Result<Stmt*> parse_with(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::With, line);
        while (cur().kind != Tok::BlockEnd) {
            if (!s->assigns.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
            }
            auto t = parse_assign_target(true, false, {});
            if (!t) {
                return std::unexpected(t.error());
            }
            if (auto r = expect_op("="); !r) {
                return std::unexpected(r.error());
            }
            auto v = parse_expression(true);
            if (!v) {
                return std::unexpected(v.error());
            }
            s->assigns.emplace_back(*t, *v);
        }
        return finish_body(s, {"endwith"});
    }

    // `with context` / `without context`; returns whether one was present.
    bool parse_context(Stmt* s) {
        if ((is_name("with") || is_name("without")) && look().kind == Tok::Name && look().text == "context") {
            s->with_context = is_name("with");
            next();
            next();
            return true;
        }
        return false;
    }

    Result<Stmt*> parse_include(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::Include, line);
        auto e = parse_expression(true);
        if (!e) {
            return std::unexpected(e.error());
        }
        s->expr = *e;
        if (is_name("ignore") && look().kind == Tok::Name && look().text == "missing") {
            next();
            next();
            s->ignore_missing = true;
        }
        s->with_context = true;
        parse_context(s);
        return finish(s);
    }

    Result<Stmt*> parse_import(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::Import, line);
        auto e = parse_expression(true);
        if (!e) {
            return std::unexpected(e.error());
        }
        s->expr = *e;
        if (!skip_name("as")) {
            return unexpected("'as'");
        }
        auto n = expect_name();
        if (!n) {
            return std::unexpected(n.error());
        }
        s->text = *n;
        parse_context(s);
        return finish(s);
    }

    Result<Stmt*> parse_from(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::FromImport, line);
        auto e = parse_expression(true);
        if (!e) {
            return std::unexpected(e.error());
        }
        s->expr = *e;
        if (!skip_name("import")) {
            return unexpected("'import'");
        }
        while (true) {
            if (!s->names.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
            }
            if (cur().kind != Tok::Name) {
                return unexpected("name");
            }
            if (parse_context(s)) {
                break;
            }
            auto n = expect_name();
            if (!n) {
                return std::unexpected(n.error());
            }
            if (n->starts_with("_")) {
                return error("names starting with an underline can not be imported");
            }
            std::string_view alias = *n;
            if (skip_name("as")) {
                auto a = expect_name();
                if (!a) {
                    return std::unexpected(a.error());
                }
                alias = *a;
            }
            s->names.emplace_back(*n, alias);
            if (parse_context(s) || !is_op(",")) {
                break;
            }
        }
        return finish(s);
    }

    Result<Stmt*> parse_block(std::uint32_t line) {
        next();
        Stmt* s = stmt(StmtKind::Block, line);
        auto n = expect_name();
        if (!n) {
            return std::unexpected(n.error());
        }
        s->text = *n;
        while (true) {
            if (skip_name("scoped")) {
                s->scoped = true;
            } else if (skip_name("required")) {
                s->required = true;
            } else {
                break;
            }
        }
        if (auto r = expect_block_end(); !r) {
            return std::unexpected(r.error());
        }
        const auto saved = loop_depth_;
        loop_depth_ = 0;
        auto body = subparse({"endblock"});
        loop_depth_ = saved;
        if (!body) {
            return std::unexpected(body.error());
        }
        next();
        if (cur().kind == Tok::Name) {
            if (cur().text != s->text) {
                return error(fmt::format("mismatching name of endblock: expected '{}'", s->text));
            }
            next();
        }
        if (auto r = expect_block_end(); !r) {
            return std::unexpected(r.error());
        }
        s->body = std::move(*body);
        if (!p_.blocks.emplace(s->text, s).second) {
            return error_at(fmt::format("block '{}' defined twice", s->text), line);
        }
        return s;
    }

    // Assignment targets: names, tuples of names (optionally parenthesised).
    Exp parse_assign_target(bool with_tuple, bool name_only,
                            std::initializer_list<std::string_view> extra_end) {
        if (name_only || !with_tuple) {
            auto n = expect_name();
            if (!n) {
                return std::unexpected(n.error());
            }
            Expr* e = node(ExprKind::Name, cur().line);
            e->name = *n;
            return e;
        }
        auto t = parse_tuple(false, extra_end, false, true);
        if (!t) {
            return t;
        }
        if (!can_assign(*t)) {
            return error("can't assign to this expression");
        }
        return t;
    }

    static bool can_assign(const Expr* e) {
        if (e->kind == ExprKind::Name) {
            return e->name != "true" && e->name != "false" && e->name != "none" && e->name != "True" &&
                   e->name != "False" && e->name != "None";
        }
        if (e->kind == ExprKind::Tuple) {
            for (auto* x : e->args) {
                if (!can_assign(x)) {
                    return false;
                }
            }
            return true;
        }
        return false;
    }

    bool is_tuple_end(std::initializer_list<std::string_view> extra_end) const {
        const Token& t = cur();
        if (t.kind == Tok::VarEnd || t.kind == Tok::BlockEnd || t.kind == Tok::Eof) {
            return true;
        }
        if (t.kind == Tok::Op && t.text == ")") {
            return true;
        }
        if (t.kind == Tok::Name) {
            for (auto n : extra_end) {
                if (t.text == n) {
                    return true;
                }
            }
        }
        return false;
    }

    Exp parse_tuple(bool with_condexpr, std::initializer_list<std::string_view> extra_end,
                    bool explicit_parens, bool simplified = false) {
        const auto line = cur().line;
        std::vector<Expr*> items;
        bool is_tuple = false;
        while (true) {
            if (!items.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
            }
            if (is_tuple_end(extra_end)) {
                break;
            }
            Exp e = simplified ? parse_primary() : parse_expression(with_condexpr);
            if (!e) {
                return e;
            }
            items.push_back(*e);
            if (is_op(",")) {
                is_tuple = true;
            } else {
                break;
            }
        }
        if (!is_tuple) {
            if (!items.empty()) {
                return items[0];
            }
            if (!explicit_parens) {
                return error(fmt::format("expected an expression, got {}", describe(cur())));
            }
        }
        Expr* t = node(ExprKind::Tuple, line);
        t->args = std::move(items);
        return t;
    }

    Exp parse_expression(bool with_condexpr) {
        Depth d(*this);
        if (d.too_deep()) {
            return too_deep();
        }
        return with_condexpr ? parse_condexpr() : parse_or();
    }

    Exp parse_condexpr() {
        auto e1 = parse_or();
        if (!e1) {
            return e1;
        }
        Expr* left = *e1;
        while (is_name("if")) {
            const auto line = cur().line;
            next();
            auto cond = parse_or();
            if (!cond) {
                return cond;
            }
            Expr* c = node(ExprKind::Cond, line);
            c->a = *cond;
            c->b = left;
            if (skip_name("else")) {
                Depth d(*this);
                if (d.too_deep()) {
                    return too_deep();
                }
                auto other = parse_condexpr();
                if (!other) {
                    return other;
                }
                c->c = *other;
            }
            left = c;
        }
        return left;
    }

    Exp parse_or() {
        auto left = parse_and();
        if (!left) {
            return left;
        }
        while (is_name("or")) {
            const auto line = cur().line;
            next();
            auto right = parse_and();
            if (!right) {
                return right;
            }
            Expr* e = node(ExprKind::Or, line);
            e->a = *left;
            e->b = *right;
            left = e;
        }
        return left;
    }

    Exp parse_and() {
        auto left = parse_not();
        if (!left) {
            return left;
        }
        while (is_name("and")) {
            const auto line = cur().line;
            next();
            auto right = parse_not();
            if (!right) {
                return right;
            }
            Expr* e = node(ExprKind::And, line);
            e->a = *left;
            e->b = *right;
            left = e;
        }
        return left;
    }

    Exp parse_not() {
        if (is_name("not")) {
            const auto line = cur().line;
            next();
            Depth d(*this);
            if (d.too_deep()) {
                return too_deep();
            }
            auto inner = parse_not();
            if (!inner) {
                return inner;
            }
            Expr* e = node(ExprKind::Not, line);
            e->a = *inner;
            return e;
        }
        return parse_compare();
    }

    Exp parse_compare() {
        const auto line = cur().line;
        auto first = parse_math1();
        if (!first) {
            return first;
        }
        std::vector<std::pair<CmpOp, Expr*>> ops;
        while (true) {
            CmpOp op;
            if (is_op("==")) {
                op = CmpOp::Eq;
            } else if (is_op("!=")) {
                op = CmpOp::Ne;
            } else if (is_op("<")) {
                op = CmpOp::Lt;
            } else if (is_op("<=")) {
                op = CmpOp::Le;
            } else if (is_op(">")) {
                op = CmpOp::Gt;
            } else if (is_op(">=")) {
                op = CmpOp::Ge;
            } else if (is_name("in")) {
                op = CmpOp::In;
            } else if (is_name("not") && look().kind == Tok::Name && look().text == "in") {
                next();
                op = CmpOp::NotIn;
            } else {
                break;
            }
            next();
            auto right = parse_math1();
            if (!right) {
                return right;
            }
            ops.emplace_back(op, *right);
        }
        if (ops.empty()) {
            return first;
        }
        Expr* e = node(ExprKind::Compare, line);
        e->a = *first;
        e->ops = std::move(ops);
        return e;
    }

    Expr* binary(BinOp op, Expr* l, Expr* r, std::uint32_t line) {
        Expr* e = node(ExprKind::Binary, line);
        e->op = static_cast<std::uint8_t>(op);
        e->a = l;
        e->b = r;
        return e;
    }

    Exp parse_math1() {
        auto left = parse_concat();
        if (!left) {
            return left;
        }
        while (is_op("+") || is_op("-")) {
            const BinOp op = is_op("+") ? BinOp::Add : BinOp::Sub;
            const auto line = cur().line;
            next();
            auto right = parse_concat();
            if (!right) {
                return right;
            }
            left = binary(op, *left, *right, line);
        }
        return left;
    }

    Exp parse_concat() {
        const auto line = cur().line;
        auto first = parse_math2();
        if (!first) {
            return first;
        }
        if (!is_op("~")) {
            return first;
        }
        Expr* e = node(ExprKind::Concat, line);
        e->args.push_back(*first);
        while (skip_op("~")) {
            auto right = parse_math2();
            if (!right) {
                return right;
            }
            e->args.push_back(*right);
        }
        return e;
    }

    Exp parse_math2() {
        auto left = parse_pow();
        if (!left) {
            return left;
        }
        while (true) {
            BinOp op;
            if (is_op("*")) {
                op = BinOp::Mul;
            } else if (is_op("/")) {
                op = BinOp::Div;
            } else if (is_op("//")) {
                op = BinOp::FloorDiv;
            } else if (is_op("%")) {
                op = BinOp::Mod;
            } else {
                break;
            }
            const auto line = cur().line;
            next();
            auto right = parse_pow();
            if (!right) {
                return right;
            }
            left = binary(op, *left, *right, line);
        }
        return left;
    }

    Exp parse_pow() {
        auto left = parse_unary(true);
        if (!left) {
            return left;
        }
        while (is_op("**")) {
            const auto line = cur().line;
            next();
            auto right = parse_unary(true);
            if (!right) {
                return right;
            }
            left = binary(BinOp::Pow, *left, *right, line);
        }
        return left;
    }

    Exp parse_unary(bool with_filter) {
        Depth d(*this);
        if (d.too_deep()) {
            return too_deep();
        }
        const auto line = cur().line;
        Exp e;
        if (is_op("-") || is_op("+")) {
            const bool neg = is_op("-");
            next();
            auto inner = parse_unary(false);
            if (!inner) {
                return inner;
            }
            Expr* n = node(neg ? ExprKind::Neg : ExprKind::Pos, line);
            n->a = *inner;
            e = n;
        } else {
            e = parse_primary();
        }
        if (!e) {
            return e;
        }
        e = parse_postfix(*e);
        if (e && with_filter) {
            e = parse_filter_expr(*e);
        }
        return e;
    }

    Exp parse_primary() {
        Depth d(*this);
        if (d.too_deep()) {
            return too_deep();
        }
        const Token& t = cur();
        const auto line = t.line;
        switch (t.kind) {
            case Tok::Name: {
                Expr* e = node(ExprKind::Const, line);
                if (t.text == "true" || t.text == "True") {
                    e->value = Value::from_bool(true);
                } else if (t.text == "false" || t.text == "False") {
                    e->value = Value::from_bool(false);
                } else if (t.text == "none" || t.text == "None") {
                    e->value = Value::none();
                } else {
                    e->kind = ExprKind::Name;
                    e->name = t.text;
                }
                next();
                return e;
            }
            case Tok::String: {
                std::string s = t.str;
                next();
                while (cur().kind == Tok::String) {
                    s += cur().str;
                    next();
                }
                Expr* e = node(ExprKind::Const, line);
                e->value = Value::from_string(std::move(s));
                return e;
            }
            case Tok::Int: {
                Expr* e = node(ExprKind::Const, line);
                e->value = Value::from_int(t.i);
                next();
                return e;
            }
            case Tok::Float: {
                Expr* e = node(ExprKind::Const, line);
                e->value = Value::from_float(t.f);
                next();
                return e;
            }
            case Tok::Op:
                if (t.text == "(") {
                    next();
                    auto e = parse_tuple(true, {}, true);
                    if (!e) {
                        return e;
                    }
                    if (auto r = expect_op(")"); !r) {
                        return std::unexpected(r.error());
                    }
                    return e;
                }
                if (t.text == "[") {
                    return parse_list();
                }
                if (t.text == "{") {
                    return parse_dict();
                }
                break;
            default:
                break;
        }
        return error(fmt::format("unexpected {}", describe(t)));
    }

    Exp parse_list() {
        Expr* e = node(ExprKind::List, cur().line);
        next();
        while (!is_op("]")) {
            if (!e->args.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
                if (is_op("]")) {
                    break;
                }
            }
            auto item = parse_expression(true);
            if (!item) {
                return item;
            }
            e->args.push_back(*item);
        }
        next();
        return e;
    }

    Exp parse_dict() {
        Expr* e = node(ExprKind::Dict, cur().line);
        next();
        while (!is_op("}")) {
            if (!e->args.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
                if (is_op("}")) {
                    break;
                }
            }
            auto key = parse_expression(true);
            if (!key) {
                return key;
            }
            if (auto r = expect_op(":"); !r) {
                return std::unexpected(r.error());
            }
            auto value = parse_expression(true);
            if (!value) {
                return value;
            }
            e->args.push_back(*key);
            e->args.push_back(*value);
        }
        next();
        return e;
    }

    Exp parse_postfix(Expr* e) {
        while (true) {
            if (is_op(".") || is_op("[")) {
                auto r = parse_subscript(e);
                if (!r) {
                    return r;
                }
                e = *r;
            } else if (is_op("(")) {
                auto r = parse_call(e);
                if (!r) {
                    return r;
                }
                e = *r;
            } else {
                return e;
            }
        }
    }

    Exp parse_filter_expr(Expr* e) {
        while (true) {
            if (is_op("|")) {
                next();
                auto r = parse_one_filter(e);
                if (!r) {
                    return r;
                }
                e = *r;
            } else if (is_name("is")) {
                auto r = parse_test(e);
                if (!r) {
                    return r;
                }
                e = *r;
            } else if (is_op("(")) {
                auto r = parse_call(e);
                if (!r) {
                    return r;
                }
                e = *r;
            } else {
                return e;
            }
        }
    }

    Exp parse_subscript(Expr* base) {
        const auto line = cur().line;
        if (skip_op(".")) {
            const Token& t = cur();
            if (t.kind == Tok::Name) {
                Expr* e = node(ExprKind::GetAttr, line);
                e->a = base;
                e->name = t.text;
                next();
                return e;
            }
            if (t.kind == Tok::Int) {
                Expr* key = node(ExprKind::Const, line);
                key->value = Value::from_int(t.i);
                next();
                Expr* e = node(ExprKind::GetItem, line);
                e->a = base;
                e->b = key;
                return e;
            }
            return error("expected name or number");
        }
        next();  // [
        std::vector<Expr*> parts;
        while (!is_op("]")) {
            if (!parts.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
            }
            auto p = parse_subscribed();
            if (!p) {
                return p;
            }
            parts.push_back(*p);
        }
        next();
        if (parts.size() == 1 && parts[0]->kind == ExprKind::Slice) {
            parts[0]->a = base;
            return parts[0];
        }
        Expr* e = node(ExprKind::GetItem, line);
        e->a = base;
        if (parts.size() == 1) {
            e->b = parts[0];
        } else {
            Expr* t = node(ExprKind::Tuple, line);
            t->args = std::move(parts);
            e->b = t;
        }
        return e;
    }

    Exp parse_subscribed() {
        const auto line = cur().line;
        Expr* start = nullptr;
        if (!is_op(":")) {
            auto e = parse_expression(true);
            if (!e) {
                return e;
            }
            if (!is_op(":")) {
                return e;
            }
            start = *e;
        }
        next();  // :
        Expr* s = node(ExprKind::Slice, line);
        s->args = {start, nullptr, nullptr};
        if (!is_op(":") && !is_op("]") && !is_op(",")) {
            auto stop = parse_expression(true);
            if (!stop) {
                return stop;
            }
            s->args[1] = *stop;
        }
        if (skip_op(":")) {
            if (!is_op("]") && !is_op(",")) {
                auto step = parse_expression(true);
                if (!step) {
                    return step;
                }
                s->args[2] = *step;
            }
        }
        return s;
    }

    Result<void> parse_call_args(Expr* e) {
        next();  // (
        while (!is_op(")")) {
            if (!e->args.empty() || !e->kwargs.empty()) {
                if (auto r = expect_op(","); !r) {
                    return std::unexpected(r.error());
                }
                if (is_op(")")) {
                    break;
                }
            }
            if (cur().kind == Tok::Name && look().kind == Tok::Op && look().text == "=") {
                const auto key = cur().text;
                next();
                next();
                auto v = parse_expression(true);
                if (!v) {
                    return std::unexpected(v.error());
                }
                e->kwargs.emplace_back(key, *v);
            } else {
                if (!e->kwargs.empty()) {
                    return error("invalid syntax for function call expression");
                }
                auto v = parse_expression(true);
                if (!v) {
                    return std::unexpected(v.error());
                }
                e->args.push_back(*v);
            }
        }
        next();
        return {};
    }

    Exp parse_call(Expr* callee) {
        Expr* e = node(ExprKind::Call, cur().line);
        e->a = callee;
        if (auto r = parse_call_args(e); !r) {
            return std::unexpected(r.error());
        }
        return e;
    }

    Exp parse_one_filter(Expr* input) {
        const auto line = cur().line;
        auto n = expect_name();
        if (!n) {
            return std::unexpected(n.error());
        }
        Expr* e = node(ExprKind::Filter, line);
        e->a = input;
        e->name = *n;
        if (is_op("(")) {
            if (auto r = parse_call_args(e); !r) {
                return std::unexpected(r.error());
            }
        }
        return e;
    }

    Exp parse_test(Expr* input) {
        const auto line = cur().line;
        next();  // is
        Expr* e = node(ExprKind::Test, line);
        e->a = input;
        if (skip_name("not")) {
            e->op = 1;
        }
        auto n = expect_name();
        if (!n) {
            return std::unexpected(n.error());
        }
        e->name = *n;
        const Token& t = cur();
        if (is_op("(")) {
            if (auto r = parse_call_args(e); !r) {
                return std::unexpected(r.error());
            }
        } else if ((t.kind == Tok::Name || t.kind == Tok::String || t.kind == Tok::Int ||
                    t.kind == Tok::Float || is_op("[") || is_op("{")) &&
                   !is_name("else") && !is_name("or") && !is_name("and")) {
            if (is_name("is")) {
                return error("You cannot chain multiple tests with is");
            }
            auto arg = parse_primary();
            if (!arg) {
                return arg;
            }
            auto post = parse_postfix(*arg);
            if (!post) {
                return post;
            }
            e->args.push_back(*post);
        }
        return e;
    }

    Program& p_;
    std::vector<Token> toks_;
    std::size_t i_ = 0;
    std::size_t depth_ = 0;
    std::size_t loop_depth_ = 0;
};

}  // namespace

Result<void> parse_program(Program& program, const Environment& env) {
    std::string_view src = program.source;
    if (!env.keep_trailing_newline()) {
        if (src.ends_with("\r\n")) {
            src.remove_suffix(2);
        } else if (src.ends_with('\n') || src.ends_with('\r')) {
            src.remove_suffix(1);
        }
    }
    LexerConfig cfg{env.variable_start(), env.variable_end(), env.trim_blocks(), env.lstrip_blocks()};
    auto tokens = tokenize(src, cfg);
    if (!tokens) {
        Error e = tokens.error();
        Error located(e.kind(), e.detail());
        located.set_location(program.name, e.line());
        return std::unexpected(located);
    }
    return Parser(program, std::move(*tokens)).run();
}

}  // namespace zelk::jinja::detail
