#pragma once
// UTF-8 helpers for showing bytes (file names, file contents) as text.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelk::composer {

/// `bytes` as valid UTF-8: each maximal ill-formed subsequence becomes one U+FFFD,
/// following the Unicode "maximal subpart" practice, so results are stable across tools.
std::string utf8_lossy(std::string_view bytes);

/// Offset of the first byte that does not start a well-formed UTF-8 sequence, or nullopt
/// when all of `bytes` is valid UTF-8.
std::optional<std::size_t> utf8_first_invalid(std::string_view bytes);

/// The platform display form of a path: its native bytes, lossily decoded, separators unchanged.
std::string path_display(const std::filesystem::path& path);

}  // namespace zelk::composer
