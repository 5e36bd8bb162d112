// SHA-256 digests and the incremental hasher behind every hash of this library.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zelk::sha {

/// A 32-byte SHA-256 digest: the hash of one file or of a whole composition.
struct CompositionSha256 {
    std::array<std::uint8_t, 32> bytes{};

    /// Returns the digest as 64 lower-case hexadecimal digits, two per byte, in byte order.
    std::string to_hex() const;

    bool operator==(const CompositionSha256&) const = default;
};

/// Incremental SHA-256 over OpenSSL's EVP interface. Feed bytes with `update`, then call `finish` once.
class Sha256Hasher {
  public:
    /// Starts a fresh digest computation.
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    /// Appends bytes to the message being hashed.
    void update(std::string_view bytes);
    /// Completes the computation and returns the digest; the hasher must not be used afterwards.
    CompositionSha256 finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

/// Returns the SHA-256 of `bytes` in one call.
CompositionSha256 sha256(std::string_view bytes);

}  // namespace zelk::sha
