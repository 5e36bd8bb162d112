#pragma once
// A read-only window on the stages of resolution, validation, composition and verification.
// Hooks only receive information: none returns anything or can change an outcome.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/diagnostics/schema.hpp"

namespace zelk::composer {

/// The pass a pass hook concerns.
struct PassEvent {
    std::uint8_t pass_number = 0;
    bool operator==(const PassEvent&) const = default;
};

/// What a resolution tried and found: on success the resolved path and no code, on failure the
/// error's attempted paths and code.
struct ResolveOutcomeEvent {
    std::vector<std::filesystem::path> attempted_paths;
    std::optional<std::filesystem::path> resolved_path;
    std::optional<DiagnosticCode> code;
    bool operator==(const ResolveOutcomeEvent&) const = default;
};

/// The outcome of include expansion: the resolved files on success, the include chain and code of
/// the error on failure.
struct IncludeOutcomeEvent {
    std::vector<std::filesystem::path> resolved_files;
    std::vector<std::filesystem::path> include_chain;
    std::optional<DiagnosticCode> code;
    bool operator==(const IncludeOutcomeEvent&) const = default;
};

/// The diagnostics of a validation, borrowed for the duration of the hook call.
struct ValidationEndEvent {
    std::span<const Diagnostic> warnings;
    std::span<const Diagnostic> errors;
};

/// The outcome of rendering: the byte length of the text on success; on failure the render
/// error's code, which is absent for errors of the template engine.
struct RenderOutcomeEvent {
    std::optional<std::size_t> rendered_len;
    std::optional<DiagnosticCode> code;
    bool operator==(const RenderOutcomeEvent&) const = default;
};

/// Observer of the stages of an operation. Every hook does nothing by default, so an observer
/// overrides only what it needs. Arguments are valid only for the duration of the call; hooks run
/// synchronously on the calling thread and the library keeps no reference to the observer.
class CompositionObserver {
  public:
    virtual ~CompositionObserver() = default;

    /// Before a pass of a multi-pass rendering is rendered.
    virtual void on_pass_start(const PassEvent& /*event*/) {}
    /// After a pass of a multi-pass rendering rendered successfully.
    virtual void on_pass_end(const PassEvent& /*event*/) {}
    /// Before verification composes; the flag is always true.
    virtual void on_verify_start(bool /*started*/) {}
    /// At the end of verification, whatever the outcome; the flag is always true.
    virtual void on_verify_end(bool /*finished*/) {}
    /// Before resolution, with a text naming what is resolved (for example "Skill:pdf").
    virtual void on_resolve_start(std::string_view /*target*/) {}
    /// After resolution succeeded or failed with a resolve error.
    virtual void on_resolve_outcome(const ResolveOutcomeEvent& /*event*/) {}
    /// After include expansion.
    virtual void on_include_outcome(const IncludeOutcomeEvent& /*event*/) {}
    /// After the validation checks.
    virtual void on_validation_end(const ValidationEndEvent& /*event*/) {}
    /// After rendering.
    virtual void on_render_outcome(const RenderOutcomeEvent& /*event*/) {}
};

/// An observer that keeps every default hook; what the plain forms of operations pass.
class NoopObserver final : public CompositionObserver {};

}  // namespace zelk::composer
