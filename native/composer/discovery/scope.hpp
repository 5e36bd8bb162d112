#pragma once
// The stack of names bound by `for` loops and `set` statements while a template is walked.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::composer::discovery {

/// The names bound by one scope.
using LoopScope = std::set<std::string, std::less<>>;

/// Scopes from the root (never removed) to the innermost open `for`. Membership of the union
/// is kept as counts so that a lookup costs the same however deep the loops nest.
class ScopeStack {
  public:
    ScopeStack() : scopes_(1) {}

    /// Opens a `for` scope.
    void push(LoopScope scope);
    /// Closes the innermost `for` scope; the root scope is never removed.
    void pop();
    /// Binds `name` in the root scope (a `set` target).
    void add_to_root(std::string name);

    /// Whether any open scope binds `name`.
    bool excludes(std::string_view name) const { return counts_.find(name) != counts_.end(); }
    /// Number of scopes, the root included.
    std::size_t depth() const { return scopes_.size(); }

  private:
    void count(const std::string& name);
    void uncount(const std::string& name);

    std::vector<LoopScope> scopes_;
    std::map<std::string, std::size_t, std::less<>> counts_;
};

/// A `for` statement split into its loop variables and the text after the first " in ".
struct ForLoop {
    LoopScope targets;
    std::string_view iterable;
};

/// Recognises "for <targets> in <rest>" (statement already stripped and trimmed).
std::optional<ForLoop> parse_for_loop(std::string_view statement);

/// A `set` statement with a simple target: the target and the text after the first "=".
struct SetAssignment {
    std::string_view target;
    std::string_view value;
};

/// Recognises "set <name> = <value>" where <name> is ASCII letters, digits and '_'.
std::optional<SetAssignment> parse_set_assignment(std::string_view statement);

/// True when `statement` is a `for` loop whose iterable is exactly the bare variable `name`.
bool parse_bare_for_loop_over(std::string_view statement, std::string_view name);

}  // namespace zelk::composer::discovery
