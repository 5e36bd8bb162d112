#include "sha/digest.hpp"

#include <openssl/evp.h>

#include <cstdlib>

namespace zelk::sha {

std::string CompositionSha256::to_hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return text;
}

struct Sha256Hasher::Context {
    EVP_MD_CTX* ctx = nullptr;
};

// The EVP calls only fail on allocation failure or a broken OpenSSL install; neither leaves a
// digest worth returning, and the library treats memory exhaustion as fatal.
static void require(int ok) {
    if (ok != 1) {
        std::abort();
    }
}

Sha256Hasher::Sha256Hasher() : context_(std::make_unique<Context>()) {
    context_->ctx = EVP_MD_CTX_new();
    if (context_->ctx == nullptr) {
        std::abort();
    }
    require(EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr));
}

Sha256Hasher::~Sha256Hasher() {
    EVP_MD_CTX_free(context_->ctx);
}

void Sha256Hasher::update(std::string_view bytes) {
    if (!bytes.empty()) {
        require(EVP_DigestUpdate(context_->ctx, bytes.data(), bytes.size()));
    }
}

CompositionSha256 Sha256Hasher::finish() {
    CompositionSha256 digest;
    unsigned int length = 0;
    require(EVP_DigestFinal_ex(context_->ctx, digest.bytes.data(), &length));
    if (length != digest.bytes.size()) {
        std::abort();
    }
    return digest;
}

CompositionSha256 sha256(std::string_view bytes) {
    Sha256Hasher hasher;
    hasher.update(bytes);
    return hasher.finish();
}

}  // namespace zelk::sha
