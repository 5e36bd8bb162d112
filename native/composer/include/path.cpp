#include "composer/include/path.hpp"

#include <fmt/format.h>

#include <variant>

#include "composer/diagnostics/filesystem.hpp"
#include "composer/path_containment.hpp"
#include "composer/utf8.hpp"

namespace zelk::composer {

namespace {

IncludeError unreadable_error(const Unreadable& unreadable, const std::vector<std::filesystem::path>& chain) {
    const std::string shown = path_display(unreadable.path);
    DiagnosticCode code = DiagnosticCode::ErrIncludeNotFound;
    std::string message;
    switch (classify_filesystem_error(unreadable.path, unreadable.error)) {
        case FilesystemErrorClass::IsADirectory:
            code = DiagnosticCode::ErrIncludeIsADirectory;
            message = fmt::format("include target is a directory, not a file: {}", shown);
            break;
        case FilesystemErrorClass::PermissionDenied:
            code = DiagnosticCode::ErrIncludePermissionDenied;
            message = fmt::format("permission denied resolving include: {}", shown);
            break;
        case FilesystemErrorClass::FilesystemLoop:
            code = DiagnosticCode::ErrIncludeFilesystemLoop;
            message = fmt::format("include path is a filesystem symlink loop: {}", shown);
            break;
        case FilesystemErrorClass::InvalidUtf8:
        case FilesystemErrorClass::Other:
            message = fmt::format("include file not found: {}", shown);
            break;
    }
    return IncludeError::create(code, std::move(message), chain).with_source(make_source(unreadable.error));
}

}  // namespace

std::expected<std::filesystem::path, IncludeError> canonicalize_include(
    const std::filesystem::path& target, const std::filesystem::path& root,
    std::span<const std::filesystem::path> allowed_roots,
    const std::vector<std::filesystem::path>& include_chain) {
    // The OS would cut the path at a NUL byte and resolve a different file than the one named.
    if (target.native().find('\0') != std::string::npos) {
        const std::filesystem::path shown = target.is_absolute() ? target : root / target;
        return std::unexpected(
            IncludeError::create(DiagnosticCode::ErrIncludeNotFound,
                                 fmt::format("include file not found: {}", path_display(shown)),
                                 include_chain)
                .with_source(make_source(std::make_error_code(std::errc::invalid_argument))));
    }
    auto outcome = canonicalize_within_roots(target, root, allowed_roots);
    if (auto* contained = std::get_if<Contained>(&outcome)) {
        return std::move(contained->path);
    }
    if (const auto* escapes = std::get_if<Escapes>(&outcome)) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrIncludeEscape,
            fmt::format("include path escapes confinement root: {}", path_display(escapes->path)),
            include_chain));
    }
    return std::unexpected(unreadable_error(std::get<Unreadable>(outcome), include_chain));
}

}  // namespace zelk::composer
