#pragma once
// The one reader for files read on a caller's behalf. Containment is checked on a canonical path;
// this reader then opens exactly that path without following any symbolic link, so a link swapped
// into the path after the check makes the read fail (ELOOP) instead of leaving the roots.

#include <expected>
#include <filesystem>
#include <string>
#include <system_error>

namespace zelk::composer {

/// How the reader resolves the path. `Automatic` uses the kernel's no-symlink resolution (openat2
/// with RESOLVE_NO_SYMLINKS) and falls back to `ComponentWalk` where the kernel lacks it;
/// `ComponentWalk` opens one component at a time with O_NOFOLLOW. Callers use `Automatic`; the other
/// value exists so that both routes can be exercised.
enum class ConfinedOpen { Automatic, ComponentWalk };

/// Reads the whole regular file at `canonical_path` as bytes. The path must be absolute and free of
/// ".", ".." and empty components (a canonical path, no trailing separator); anything else fails with EINVAL.
/// Errors carry errno values in the generic category: ELOOP when any component is a symbolic link, EISDIR for
/// a directory, EINVAL for other non-regular files (FIFOs and devices are never opened for reading, so they
/// cannot block or stream forever), and whatever the open or read reported otherwise.
std::expected<std::string, std::error_code> read_confined_file(const std::filesystem::path& canonical_path,
                                                               ConfinedOpen how = ConfinedOpen::Automatic);

/// Like `read_confined_file`, and the content must be valid UTF-8: otherwise the error is
/// `std::errc::illegal_byte_sequence`.
std::expected<std::string, std::error_code> read_confined_text(const std::filesystem::path& canonical_path,
                                                               ConfinedOpen how = ConfinedOpen::Automatic);

}  // namespace zelk::composer
