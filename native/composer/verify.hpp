#pragma once
// Verification: does a deployed file still equal what its template composes to today? The texts
// are compared after line-ending normalisation and a unified diff shows how they differ.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/error/compose.hpp"
#include "composer/observer.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// The outcome of one verification.
struct VerifyResult {
    /// The normalised texts are equal; then `diff` is absent.
    bool clean = false;
    /// The resolved template of the composition.
    std::filesystem::path resolved_template_path;
    /// Exactly as the caller gave it: neither canonicalised nor confined.
    std::filesystem::path deployed_path;
    /// The composition's text, not normalised.
    std::string rendered_text;
    /// The deployed file's text, not normalised.
    std::string deployed_text;
    /// The unified diff from the deployed text to the rendering; present exactly when not clean.
    std::optional<std::string> diff;
    /// The composition's warnings.
    std::vector<Diagnostic> warnings;

    bool operator==(const VerifyResult&) const = default;
};

/// Composes `request` afresh (the observer sees every hook of the composition between
/// `on_verify_start` and `on_verify_end`), reads the deployed file and diffs the two. A failed
/// composition is returned before the deployed file is read; `on_verify_end` runs on every path.
std::expected<VerifyResult, ComposeError> verify_with_observer(const ComposeRequest& request,
                                                               std::filesystem::path deployed_path,
                                                               CompositionObserver& observer);

/// `verify_with_observer` with an observer that does nothing.
std::expected<VerifyResult, ComposeError> verify(const ComposeRequest& request,
                                                 std::filesystem::path deployed_path);

/// Reads the whole file at `path` as UTF-8, unchanged (no byte order mark removed, no line ending
/// touched). Failures are config errors with one `InspectPath` hint and the I/O error as source:
/// a missing file `ERR_RESOLVE_NOT_FOUND`, invalid UTF-8 `ERR_CONFIG_READ`, anything else
/// (a directory, no permission, a FIFO or device, an I/O error) `ERR_CONFIG_PARSE`.
std::expected<std::string, ComposeError> read_deployed_text(const std::filesystem::path& path);

/// `text` with CR LF turned into LF and one final line ending (LF or CR LF) dropped. A lone CR stays,
/// further trailing empty lines stay, and the empty text stays empty.
std::string normalize_text_for_compare(std::string_view text);

/// The unified diff (3 lines of context) from the normalised `deployed_text` to the normalised
/// `rendered_text`, labelled with the deployed path and "rendered({template path})"; absent when
/// the normalised texts are equal.
std::optional<std::string> render_diff(const std::filesystem::path& deployed_path,
                                       const std::filesystem::path& template_path,
                                       std::string_view deployed_text, std::string_view rendered_text);

}  // namespace zelk::composer
