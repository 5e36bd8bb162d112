#pragma once
// Classification of file-system failures into the few kinds that get their own codes.

#include <filesystem>
#include <system_error>

namespace zelk::composer {

enum class FilesystemErrorClass { InvalidUtf8, PermissionDenied, IsADirectory, FilesystemLoop, Other };

/// Classifies a failure to read `path`. `error` carries an errno value (generic or system
/// category); our readers report content that is not UTF-8 as `std::errc::illegal_byte_sequence`.
/// An existing directory at `path` wins over whatever the error says.
FilesystemErrorClass classify_filesystem_error(const std::filesystem::path& path, std::error_code error);

}  // namespace zelk::composer
