#pragma once
// A scratch directory tree for file-system tests, removed afterwards, and a way to run a check
// without root's permission bypass.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>

namespace zelk::testing {

/// A fresh canonical directory per test under the system temp directory.
class ScratchTree : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = std::filesystem::canonical(std::filesystem::temp_directory_path()) /
                ("zelk-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(base_);
        std::filesystem::create_directories(base_);
    }

    void TearDown() override {
        // Restore access to anything a test locked so that the tree can be removed.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 base_, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(base_, ignored);
    }

    /// Writes `text` to `path`, creating its parent directories.
    static void write(const std::filesystem::path& path, std::string_view text = "x") {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    std::filesystem::path base_;
};

/// Runs `check` as an unprivileged user and returns its result. Root passes every permission
/// check, so when running as root the process forks and the child drops to "nobody" first.
/// Returns -1 when privileges cannot be dropped.
inline int run_unprivileged(const std::function<int()>& check) {
    if (::geteuid() != 0) {
        return check();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(255);
        }
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 254;
    return code == 255 ? -1 : code;
}

/// Makes `path` and its ancestors up to `base` traversable by everyone, then locks `locked`.
inline void lock_directory(const std::filesystem::path& base, const std::filesystem::path& locked) {
    for (auto dir = locked.parent_path(); dir.string().starts_with(base.string()); dir = dir.parent_path()) {
        std::filesystem::permissions(dir, std::filesystem::perms::all, std::filesystem::perm_options::add);
        if (dir == base) {
            break;
        }
    }
    std::filesystem::permissions(locked, std::filesystem::perms::none);
}

}  // namespace zelk::testing
