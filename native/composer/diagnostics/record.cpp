#include "composer/diagnostics/record.hpp"

#include <fmt/format.h>

#include "composer/utf8.hpp"

namespace zelk::composer {

Diagnostic Diagnostic::create(DiagnosticSeverity severity, DiagnosticCode code, std::string message) {
    Diagnostic d;
    d.severity = severity;
    d.code = code;
    d.message = std::move(message);
    return d;
}

Diagnostic Diagnostic::with_path(std::filesystem::path new_path) && {
    path = std::move(new_path);
    return std::move(*this);
}

Diagnostic Diagnostic::with_path(std::filesystem::path new_path) const& {
    Diagnostic copy = *this;
    return std::move(copy).with_path(std::move(new_path));
}

std::string format_diagnostic_message(const Diagnostic& diagnostic) {
    std::string out = fmt::format("{}: {}", as_str(diagnostic.code), diagnostic.message);
    if (diagnostic.path) {
        out += " | location=";
        out += path_display(*diagnostic.path);
        // A line without a column (or the reverse) is not a usable location; show the bare path.
        if (diagnostic.line && diagnostic.column) {
            out += fmt::format(":{}:{}", *diagnostic.line, *diagnostic.column);
        }
    }
    if (!diagnostic.include_chain.empty()) {
        out += " | include_chain=";
        bool first = true;
        for (const auto& p : diagnostic.include_chain) {
            if (!first) {
                out += " -> ";
            }
            first = false;
            out += path_display(p);
        }
    }
    return out;
}

}  // namespace zelk::composer
