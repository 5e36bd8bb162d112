// The compiled form of a template: expression and statement nodes owned by their program.
// Names view the program's source, so a program is never moved once parsed.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jinja/jinja.hpp"

namespace zelk::jinja::detail {

enum class ExprKind : std::uint8_t {
    Const,
    Name,
    List,
    Tuple,
    Dict,     // args alternate key, value
    GetAttr,  // a.name
    GetItem,  // a[b]
    Slice,    // a[args0:args1:args2], null parts omitted
    Call,     // a(args, kwargs)
    Filter,   // a|name(args, kwargs); a is null inside filter blocks
    Test,     // a is [not] name(args)
    Neg,
    Pos,
    Not,
    Binary,  // a op b
    And,
    Or,
    Compare,  // a (ops[i].first ops[i].second)...
    Cond,     // b if a else c (c may be null)
    Concat,   // args joined with ~
};

class Vm;
// Built-in filters and tests, resolved once at compile time.
using BuiltinFilter = Result<Value> (*)(Vm& vm, const Value& value, const Args& args);
using BuiltinTest = Result<bool> (*)(Vm& vm, const Value& value, const Args& args);

enum class BinOp : std::uint8_t { Add, Sub, Mul, Div, FloorDiv, Mod, Pow };
enum class CmpOp : std::uint8_t { Eq, Ne, Lt, Le, Gt, Ge, In, NotIn };

struct Expr {
    ExprKind kind;
    std::uint8_t op = 0;  // BinOp, or 1 for a negated test
    std::uint32_t line = 0;
    Value value;
    std::string_view name;
    Expr* a = nullptr;
    Expr* b = nullptr;
    Expr* c = nullptr;
    std::vector<Expr*> args;
    std::vector<std::pair<std::string_view, Expr*>> kwargs;
    std::vector<std::pair<CmpOp, Expr*>> ops;
    BuiltinFilter filter_fn = nullptr;  // for Filter nodes not overridden by the environment
    BuiltinTest test_fn = nullptr;      // for Test nodes not overridden by the environment
};

enum class StmtKind : std::uint8_t {
    Data,
    Output,
    If,
    For,
    Set,
    SetBlock,
    With,
    Macro,
    CallBlock,
    FilterBlock,
    Include,
    Import,
    FromImport,
    Extends,
    Block,
    AutoEscape,
    Do,
    Break,
    Continue,
};

struct Stmt;

// A macro or caller signature and what its body uses.
struct Signature {
    std::vector<std::pair<std::string_view, Expr*>> params;  // name, default (null when required)
    bool uses_caller = false;
    bool uses_varargs = false;
    bool uses_kwargs = false;
};

struct Stmt {
    StmtKind kind;
    std::uint32_t line = 0;
    std::string_view text;  // Data text, block or macro name
    Expr* expr = nullptr;   // condition, iterable, value, template name, call
    Expr* expr2 = nullptr;  // loop filter
    Expr* target = nullptr;
    std::vector<Stmt*> body;
    std::vector<Stmt*> else_body;
    std::vector<std::pair<Expr*, Expr*>> assigns;                      // with: target, value
    std::vector<Expr*> filters;                                        // set block / filter block chain
    std::vector<std::pair<std::string_view, std::string_view>> names;  // from-import: name, alias
    Signature sig;
    bool recursive = false;       // for
    bool ignore_missing = false;  // include
    bool with_context = false;    // include / import
    bool scoped = false;          // block
    bool required = false;        // block
};

struct Program : std::enable_shared_from_this<Program> {
    std::string name;
    std::string source;
    AutoEscape auto_escape;
    std::deque<Expr> exprs;
    std::deque<Stmt> stmts;
    std::vector<Stmt*> body;
    std::map<std::string_view, const Stmt*> blocks;
};

// Parses `program.source` into `program` under the environment's syntax and whitespace options.
Result<void> parse_program(Program& program, const Environment& env);

}  // namespace zelk::jinja::detail
