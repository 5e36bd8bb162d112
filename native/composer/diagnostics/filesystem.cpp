#include "composer/diagnostics/filesystem.hpp"

namespace zelk::composer {

FilesystemErrorClass classify_filesystem_error(const std::filesystem::path& path, std::error_code error) {
    std::error_code probe;
    if (std::filesystem::is_directory(path, probe)) {
        return FilesystemErrorClass::IsADirectory;
    }
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
        return FilesystemErrorClass::PermissionDenied;
    }
    if (error == std::errc::is_a_directory) {
        return FilesystemErrorClass::IsADirectory;
    }
    if (error == std::errc::illegal_byte_sequence) {
        return FilesystemErrorClass::InvalidUtf8;
    }
    if (error == std::errc::too_many_symbolic_link_levels) {
        return FilesystemErrorClass::FilesystemLoop;
    }
    return FilesystemErrorClass::Other;
}

}  // namespace zelk::composer
