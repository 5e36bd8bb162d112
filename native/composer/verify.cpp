#include "composer/verify.hpp"

#include <fmt/format.h>
#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <unordered_set>

#include "composer/composer.hpp"
#include "composer/error/config.hpp"
#include "composer/error/recovery.hpp"
#include "composer/fs/confined_read.hpp"
#include "composer/utf8.hpp"

namespace zelk::composer {

namespace {

constexpr std::size_t kContextLines = 3;
constexpr std::string_view kNoNewlineMarker = "\\ No newline at end of file\n";

ComposeError deployed_read_error(const std::filesystem::path& path, std::error_code error) {
    DiagnosticCode code = DiagnosticCode::ErrConfigParse;
    std::string message;
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
        code = DiagnosticCode::ErrResolveNotFound;
        message = fmt::format("deployed file not found: {}", path_display(path));
    } else if (error == std::errc::illegal_byte_sequence) {
        code = DiagnosticCode::ErrConfigRead;
        message = fmt::format("deployed file is not valid UTF-8 text: {}", path_display(path));
    } else {
        message = fmt::format("failed to read deployed file: {}", path_display(path));
    }
    return ConfigError::create(code, std::move(message))
        .with_recovery_hint(RecoveryHint::InspectPath{path})
        .with_source(make_source(error));
}

// Lines for the diff end after LF, after CR LF and after a CR that is not followed by LF; each
// keeps its terminator, and a final unterminated piece is a line of its own.
std::vector<std::string_view> split_diff_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            lines.push_back(text.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

enum class LineTag { Equal, Removed, Added };

struct DiffLine {
    LineTag tag;
    std::string_view text;
};

// The lines of `lines` that also occur in `other`, with their positions in `lines`.
struct SharedLines {
    std::vector<std::string_view> lines;
    std::vector<std::size_t> positions;
};

SharedLines lines_also_in(const std::vector<std::string_view>& lines,
                          const std::vector<std::string_view>& other) {
    const std::unordered_set<std::string_view> present(other.begin(), other.end());
    SharedLines shared;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (present.contains(lines[i])) {
            shared.lines.push_back(lines[i]);
            shared.positions.push_back(i);
        }
    }
    return shared;
}

// The minimal edit script, with every changed stretch written as all removals before all additions.
// A line found on one side only can never pair up, so the search runs on the shared lines alone:
// the script stays minimal, and replacing a file wholesale costs linear time, not quadratic.
std::vector<DiffLine> diff_lines(const std::vector<std::string_view>& old_lines,
                                 const std::vector<std::string_view>& new_lines) {
    const SharedLines old_shared = lines_also_in(old_lines, new_lines);
    const SharedLines new_shared = lines_also_in(new_lines, old_lines);
    std::vector<DiffLine> lines;
    std::vector<DiffLine> added;
    std::size_t next_old = 0;
    std::size_t next_new = 0;
    const auto remove_until = [&](std::size_t end) {
        for (; next_old < end; ++next_old) {
            lines.push_back({LineTag::Removed, old_lines[next_old]});
        }
    };
    const auto add_until = [&](std::size_t end) {
        for (; next_new < end; ++next_new) {
            added.push_back({LineTag::Added, new_lines[next_new]});
        }
    };
    if (!old_shared.lines.empty()) {
        dtl::Diff<std::string_view> diff(old_shared.lines, new_shared.lines);
        diff.compose();
        std::size_t old_index = 0;
        std::size_t new_index = 0;
        for (const auto& [text, info] : diff.getSes().getSequence()) {
            if (info.type == dtl::SES_COMMON) {
                remove_until(old_shared.positions[old_index++]);
                add_until(new_shared.positions[new_index++]);
                lines.insert(lines.end(), added.begin(), added.end());
                added.clear();
                lines.push_back({LineTag::Equal, text});
                ++next_old;
                ++next_new;
            } else if (info.type == dtl::SES_DELETE) {
                remove_until(old_shared.positions[old_index++] + 1);
            } else {
                add_until(new_shared.positions[new_index++] + 1);
            }
        }
    }
    remove_until(old_lines.size());
    add_until(new_lines.size());
    lines.insert(lines.end(), added.begin(), added.end());
    return lines;
}

// "{n}" for one line, "{start},{count}" otherwise; an empty range names the line before it.
std::string hunk_range(std::size_t lines_before, std::size_t count) {
    if (count == 1) {
        return fmt::format("{}", lines_before + 1);
    }
    return fmt::format("{},{}", count == 0 ? lines_before : lines_before + 1, count);
}

void write_hunk(std::string& out, const std::vector<DiffLine>& lines, std::size_t first, std::size_t last) {
    std::size_t old_before = 0;
    std::size_t new_before = 0;
    for (std::size_t i = 0; i < first; ++i) {
        old_before += lines[i].tag != LineTag::Added ? 1 : 0;
        new_before += lines[i].tag != LineTag::Removed ? 1 : 0;
    }
    std::size_t old_count = 0;
    std::size_t new_count = 0;
    for (std::size_t i = first; i <= last; ++i) {
        old_count += lines[i].tag != LineTag::Added ? 1 : 0;
        new_count += lines[i].tag != LineTag::Removed ? 1 : 0;
    }
    out +=
        fmt::format("@@ -{} +{} @@\n", hunk_range(old_before, old_count), hunk_range(new_before, new_count));
    for (std::size_t i = first; i <= last; ++i) {
        const DiffLine& line = lines[i];
        out += line.tag == LineTag::Equal ? ' ' : (line.tag == LineTag::Removed ? '-' : '+');
        out += line.text;
        if (!line.text.ends_with('\n') && !line.text.ends_with('\r')) {
            out += '\n';
            out += kNoNewlineMarker;
        }
    }
}

// The verification proper, between the two verification hooks.
std::expected<VerifyResult, ComposeError> compose_and_compare(const ComposeRequest& request,
                                                              std::filesystem::path deployed_path,
                                                              CompositionObserver& observer) {
    auto composed = compose_with_observer(request, observer);
    if (!composed) {
        return std::unexpected(std::move(composed.error()));
    }
    auto deployed_text = read_deployed_text(deployed_path);
    if (!deployed_text) {
        return std::unexpected(std::move(deployed_text.error()));
    }
    VerifyResult result;
    result.diff = render_diff(deployed_path, composed->resolve_result.resolved_path, *deployed_text,
                              composed->rendered_text);
    result.clean = !result.diff.has_value();
    result.resolved_template_path = std::move(composed->resolve_result.resolved_path);
    result.deployed_path = std::move(deployed_path);
    result.rendered_text = std::move(composed->rendered_text);
    result.deployed_text = std::move(*deployed_text);
    result.warnings = std::move(composed->warnings);
    return result;
}

}  // namespace

std::expected<VerifyResult, ComposeError> verify_with_observer(const ComposeRequest& request,
                                                               std::filesystem::path deployed_path,
                                                               CompositionObserver& observer) {
    observer.on_verify_start(true);
    auto result = compose_and_compare(request, std::move(deployed_path), observer);
    observer.on_verify_end(true);
    return result;
}

std::expected<VerifyResult, ComposeError> verify(const ComposeRequest& request,
                                                 std::filesystem::path deployed_path) {
    NoopObserver observer;
    return verify_with_observer(request, std::move(deployed_path), observer);
}

std::expected<std::string, ComposeError> read_deployed_text(const std::filesystem::path& path) {
    // The confined reader opens exactly the resolved path and refuses FIFOs and devices, so a
    // deployed path naming one cannot block or stream forever.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (error) {
        return std::unexpected(deployed_read_error(path, error));
    }
    auto text = read_confined_text(resolved);
    if (!text) {
        return std::unexpected(deployed_read_error(path, text.error()));
    }
    return std::move(*text);
}

std::string normalize_text_for_compare(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        const bool last = newline == std::string_view::npos;
        std::string_view line = text.substr(start, last ? std::string_view::npos : newline - start);
        if (!last && line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (start != 0) {
            out += '\n';
        }
        out += line;
        if (last) {
            break;
        }
        start = newline + 1;
    }
    return out;
}

std::optional<std::string> render_diff(const std::filesystem::path& deployed_path,
                                       const std::filesystem::path& template_path,
                                       std::string_view deployed_text, std::string_view rendered_text) {
    const std::string old_text = normalize_text_for_compare(deployed_text);
    const std::string new_text = normalize_text_for_compare(rendered_text);
    if (old_text == new_text) {
        return std::nullopt;
    }
    const std::vector<DiffLine> lines = diff_lines(split_diff_lines(old_text), split_diff_lines(new_text));

    std::string out =
        fmt::format("--- {}\n+++ rendered({})\n", path_display(deployed_path), path_display(template_path));
    // A hunk runs from 3 lines before its first change to 3 lines after its last; an equal run of
    // more than twice the context between two changes splits it.
    std::optional<std::size_t> hunk_first;
    std::size_t last_change = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].tag == LineTag::Equal) {
            continue;
        }
        if (hunk_first && i - last_change - 1 > 2 * kContextLines) {
            write_hunk(out, lines, *hunk_first, last_change + kContextLines);
            hunk_first.reset();
        }
        if (!hunk_first) {
            hunk_first = i >= kContextLines ? i - kContextLines : 0;
        }
        last_change = i;
    }
    write_hunk(out, lines, *hunk_first, std::min(last_change + kContextLines, lines.size() - 1));
    return out;
}

}  // namespace zelk::composer
