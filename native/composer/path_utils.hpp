#pragma once
// The portable forward-slash text of operating-system paths.

#include <filesystem>
#include <string>

namespace zelk::composer {

/// The portable text of `path` stored in results, include chains and hash inputs: the lossy UTF-8
/// text with one leading extended-length prefix ("\\?\") removed and every backslash turned into
/// "/". Nothing else changes: no normalisation, trailing separators are kept.
std::string to_forward_slash(const std::filesystem::path& path);

}  // namespace zelk::composer
