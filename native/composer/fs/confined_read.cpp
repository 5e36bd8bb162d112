#include "composer/fs/confined_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "composer/utf8.hpp"

#if defined(__linux__)
#include <linux/openat2.h>
#endif

namespace zelk::composer {

namespace {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

std::error_code errno_code(int value) {
    return {value, std::generic_category()};
}

// O_NONBLOCK keeps a FIFO from blocking the open; such files are refused right after it.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

bool is_canonical_form(const std::filesystem::path& path) {
    if (!path.is_absolute()) {
        return false;
    }
    for (const auto& component : path.relative_path()) {
        if (component.empty() || component == "." || component == "..") {
            return false;
        }
    }
    return true;
}

enum class KernelOpen { Opened, Failed, Unsupported };

#if defined(__linux__) && defined(SYS_openat2)
std::pair<KernelOpen, UniqueFd> open_with_openat2(const std::filesystem::path& path, std::error_code& error) {
    open_how how{};
    how.flags = kReadFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    while (true) {
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
        if (fd >= 0) {
            return {KernelOpen::Opened, UniqueFd(static_cast<int>(fd))};
        }
        const int saved = errno;
        if (saved == EINTR || saved == EAGAIN) {
            continue;
        }
        // Old kernels (ENOSYS, or EINVAL/E2BIG for unknown fields) and sandboxes that filter the
        // call (EPERM) get the portable walk instead.
        if (saved == ENOSYS || saved == EPERM || saved == EINVAL || saved == E2BIG) {
            return {KernelOpen::Unsupported, UniqueFd()};
        }
        error = errno_code(saved);
        return {KernelOpen::Failed, UniqueFd()};
    }
}
#else
std::pair<KernelOpen, UniqueFd> open_with_openat2(const std::filesystem::path&, std::error_code&) {
    return {KernelOpen::Unsupported, UniqueFd()};
}
#endif

int openat_retrying(int dir, const char* name, int flags) {
    int fd;
    do {
        fd = ::openat(dir, name, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens every directory on the way with O_PATH|O_NOFOLLOW and checks it really is a directory, so
// a symbolic link anywhere in the path is refused rather than followed.
std::expected<UniqueFd, std::error_code> open_component_walk(const std::filesystem::path& path) {
    UniqueFd dir(openat_retrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return std::unexpected(errno_code(errno));
    }
    const std::filesystem::path relative = path.relative_path();
    auto it = relative.begin();
    if (it == relative.end()) {
        return std::unexpected(errno_code(EISDIR));  // the file-system root itself
    }
    while (true) {
        const std::string name = it->native();
        if (++it == relative.end()) {
            const int fd = openat_retrying(dir.get(), name.c_str(), kReadFlags | O_NOFOLLOW);
            if (fd < 0) {
                return std::unexpected(errno_code(errno));
            }
            return UniqueFd(fd);
        }
        UniqueFd next(openat_retrying(dir.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            return std::unexpected(errno_code(errno));
        }
        struct stat info {};
        if (::fstat(next.get(), &info) != 0) {
            return std::unexpected(errno_code(errno));
        }
        if (S_ISLNK(info.st_mode)) {
            return std::unexpected(errno_code(ELOOP));
        }
        if (!S_ISDIR(info.st_mode)) {
            return std::unexpected(errno_code(ENOTDIR));
        }
        dir = std::move(next);
    }
}

std::expected<std::string, std::error_code> read_all(const UniqueFd& fd) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return std::unexpected(errno_code(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return std::unexpected(errno_code(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return std::unexpected(errno_code(EINVAL));
    }
    std::string bytes;
    // The size is a hint only: the file may change while it is read.
    std::size_t capacity = static_cast<std::size_t>(info.st_size) + 1;
    std::size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) {
            bytes.resize(std::max(capacity, bytes.size() * 2));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(errno_code(errno));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

std::expected<std::string, std::error_code> read_confined_file(const std::filesystem::path& canonical_path,
                                                               ConfinedOpen how) {
    if (!is_canonical_form(canonical_path)) {
        return std::unexpected(errno_code(EINVAL));
    }
    if (how == ConfinedOpen::Automatic) {
        std::error_code error;
        auto [outcome, fd] = open_with_openat2(canonical_path, error);
        if (outcome == KernelOpen::Opened) {
            return read_all(fd);
        }
        if (outcome == KernelOpen::Failed) {
            return std::unexpected(error);
        }
    }
    auto fd = open_component_walk(canonical_path);
    if (!fd) {
        return std::unexpected(fd.error());
    }
    return read_all(*fd);
}

std::expected<std::string, std::error_code> read_confined_text(const std::filesystem::path& canonical_path,
                                                               ConfinedOpen how) {
    auto bytes = read_confined_file(canonical_path, how);
    if (bytes && utf8_first_invalid(*bytes).has_value()) {
        return std::unexpected(std::make_error_code(std::errc::illegal_byte_sequence));
    }
    return bytes;
}

}  // namespace zelk::composer
