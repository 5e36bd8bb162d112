#include "composer/discovery/scope.hpp"

#include "composer/discovery/text.hpp"

namespace zelk::composer::discovery {

void ScopeStack::count(const std::string& name) {
    ++counts_[name];
}

void ScopeStack::uncount(const std::string& name) {
    const auto it = counts_.find(name);
    if (it != counts_.end() && --it->second == 0) {
        counts_.erase(it);
    }
}

void ScopeStack::push(LoopScope scope) {
    for (const std::string& name : scope) {
        count(name);
    }
    scopes_.push_back(std::move(scope));
}

void ScopeStack::pop() {
    if (scopes_.size() <= 1) {
        return;
    }
    for (const std::string& name : scopes_.back()) {
        uncount(name);
    }
    scopes_.pop_back();
}

void ScopeStack::add_to_root(std::string name) {
    if (scopes_.front().insert(name).second) {
        count(name);
    }
}

namespace {

// "for <targets> in <rest>": the targets text and the rest, or nothing.
std::optional<std::pair<std::string_view, std::string_view>> split_for(std::string_view statement) {
    statement = trim(statement);
    if (statement.size() <= 3 || !statement.starts_with("for ")) {
        return std::nullopt;
    }
    const std::size_t in = statement.find(" in ", 4);
    if (in == std::string_view::npos) {
        return std::nullopt;
    }
    return std::pair{statement.substr(4, in - 4), statement.substr(in + 4)};
}

std::string_view trim_parens(std::string_view text) {
    const std::size_t first = text.find_first_not_of("()");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of("()");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<ForLoop> parse_for_loop(std::string_view statement) {
    const auto parts = split_for(statement);
    if (!parts) {
        return std::nullopt;
    }
    ForLoop loop{{}, parts->second};
    std::string_view targets = parts->first;
    while (true) {
        const std::size_t comma = targets.find(',');
        const std::string_view piece = trim_parens(trim(targets.substr(0, comma)));
        if (!piece.empty()) {
            loop.targets.emplace(piece.substr(0, piece.find('.')));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        targets.remove_prefix(comma + 1);
    }
    return loop;
}

std::optional<SetAssignment> parse_set_assignment(std::string_view statement) {
    statement = trim(statement);
    if (statement.size() <= 3 || !statement.starts_with("set ")) {
        return std::nullopt;
    }
    const std::size_t equals = statement.find('=', 4);
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view target = trim(statement.substr(4, equals - 4));
    if (target.empty()) {
        return std::nullopt;
    }
    for (const char c : target) {
        if (!is_ascii_word_char(c)) {
            return std::nullopt;
        }
    }
    return SetAssignment{target, statement.substr(equals + 1)};
}

bool parse_bare_for_loop_over(std::string_view statement, std::string_view name) {
    if (name.empty() || !(is_ascii_letter(name.front()) || name.front() == '_')) {
        return false;
    }
    for (const char c : name) {
        if (!is_ascii_word_char(c)) {
            return false;
        }
    }
    const auto parts = split_for(statement);
    return parts && trim(parts->second) == name;
}

}  // namespace zelk::composer::discovery
