// The file hash: SHA-256 of a template's text with its line endings normalised.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "sha/digest.hpp"

namespace zelk::sha {

/// Failure of the file hash. The only case is content that is not valid UTF-8.
struct ShaError {
    /// Returns "text-file bytes are not valid UTF-8; encode the source as UTF-8 before hashing".
    std::string display() const;
};

/// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

/// Hashes one file's bytes: they must be valid UTF-8; every CR LF and every lone CR count as one LF,
/// so a file saved with Windows line endings hashes like its Unix twin. Nothing else is changed.
std::expected<CompositionSha256, ShaError> calculate_hash(std::string_view bytes);

}  // namespace zelk::sha
