#pragma once
// Expanded templates built in memory for the validation tests, and a one-line form of
// diagnostics so that expected findings read as a table.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "composer/diagnostics/record.hpp"
#include "composer/frontmatter/parser.hpp"
#include "composer/include/expansion.hpp"
#include "composer/types/request.hpp"

namespace zelk::testing {

/// One expanded file: its path, its whole text and, for included files, its include chain.
struct FileSpec {
    std::filesystem::path path;
    std::string text;
    std::vector<std::filesystem::path> chain = {};
};

/// The expansion of `files` (the first is the root template) whose expanded text is `body`, or
/// the root's body when `body` is not given. Include chains default to [root] and [root, file].
inline composer::ExpandedTemplate expanded_from(const std::vector<FileSpec>& files,
                                                std::optional<std::string> body = std::nullopt) {
    composer::ExpandedTemplate expanded;
    for (const FileSpec& file : files) {
        auto parsed = composer::parse_template_document(file.text);
        EXPECT_TRUE(parsed.has_value()) << file.path << ": " << (parsed ? "" : parsed.error().message());
        if (!parsed) {
            continue;
        }
        if (!body) {
            body = parsed->body;
        }
        std::vector<std::filesystem::path> chain = file.chain;
        if (chain.empty()) {
            chain = expanded.resolved_files.empty()
                        ? std::vector<std::filesystem::path>{file.path}
                        : std::vector<std::filesystem::path>{files.front().path, file.path};
        }
        expanded.frontmatters.emplace_back(file.path, parsed->passes);
        expanded.include_chains[file.path] = std::move(chain);
        expanded.file_texts[file.path] = file.text;
        expanded.resolved_files.push_back(file.path);
    }
    expanded.text = body.value_or("");
    return expanded;
}

/// A file-mode request with an empty root.
inline composer::ComposeRequest file_request(const std::filesystem::path& template_path = "root.md") {
    composer::ComposeRequest request;
    request.mode = composer::ComposeMode::file(template_path);
    return request;
}

/// "{severity} {code} {message}", then " @{file name}", ":{line}:{column}" and " chain={a}>{b}"
/// when present.
inline std::string summary(const composer::Diagnostic& diagnostic) {
    std::string text = fmt::format("{} {} {}", composer::as_str(diagnostic.severity),
                                   composer::as_str(diagnostic.code), diagnostic.message);
    if (diagnostic.path) {
        text += " @" + diagnostic.path->filename().string();
    }
    if (diagnostic.line || diagnostic.column) {
        text += fmt::format(":{}:{}", diagnostic.line.value_or(0), diagnostic.column.value_or(0));
    }
    if (!diagnostic.include_chain.empty()) {
        std::string chain;
        for (const auto& file : diagnostic.include_chain) {
            chain += (chain.empty() ? "" : ">") + file.filename().string();
        }
        text += " chain=" + chain;
    }
    return text;
}

/// The summaries of `diagnostics`, in order.
inline std::vector<std::string> summaries(const std::vector<composer::Diagnostic>& diagnostics) {
    std::vector<std::string> out;
    for (const auto& diagnostic : diagnostics) {
        out.push_back(summary(diagnostic));
    }
    return out;
}

}  // namespace zelk::testing
