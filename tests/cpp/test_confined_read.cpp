#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include "composer/fs/confined_read.hpp"
#include "composer/path_containment.hpp"

namespace fs = std::filesystem;
using zelk::composer::ConfinedOpen;
using zelk::composer::read_confined_file;
using zelk::composer::read_confined_text;

namespace {

void write_file(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A workspace with one file inside and one "secret" outside it.
class ConfinedRead : public testing::TestWithParam<ConfinedOpen> {
  protected:
    void SetUp() override {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        base_ = fs::canonical(fs::temp_directory_path()) /
                ("zelk-confined-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(base_);
        root_ = base_ / "root";
        write_file(root_ / "docs" / "a.md", "inside\r\n");
        write_file(base_ / "outside" / "a.md", "secret");
    }
    void TearDown() override { fs::remove_all(base_); }

    std::error_code read_error(const fs::path& path) {
        auto result = read_confined_file(path, GetParam());
        EXPECT_FALSE(result.has_value()) << path;
        return result ? std::error_code() : result.error();
    }

    fs::path base_, root_;
};

}  // namespace

TEST_P(ConfinedRead, ReadsRegularFilesWhole) {
    EXPECT_EQ(read_confined_file(root_ / "docs" / "a.md", GetParam()).value(), "inside\r\n");
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    write_file(root_ / "big.md", big);
    EXPECT_EQ(read_confined_file(root_ / "big.md", GetParam()).value(), big);
    write_file(root_ / "empty.md", "");
    EXPECT_EQ(read_confined_file(root_ / "empty.md", GetParam()).value(), "");
}

TEST_P(ConfinedRead, RefusesSymlinksAnywhereInThePath) {
    fs::create_symlink(base_ / "outside" / "a.md", root_ / "leaf.md");
    fs::create_directory_symlink(base_ / "outside", root_ / "linked");
    fs::create_symlink(root_ / "docs" / "a.md", root_ / "inner.md");  // even a link that stays inside
    EXPECT_EQ(read_error(root_ / "leaf.md"), std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(read_error(root_ / "linked" / "a.md"), std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(read_error(root_ / "inner.md"), std::errc::too_many_symbolic_link_levels);
}

TEST_P(ConfinedRead, SymlinkSwappedInAfterTheContainmentCheckIsNotFollowed) {
    const auto outcome = zelk::composer::canonicalize_within_roots("docs/a.md", root_, {});
    ASSERT_TRUE(std::holds_alternative<zelk::composer::Contained>(outcome));
    const fs::path checked = std::get<zelk::composer::Contained>(outcome).path;

    fs::rename(root_ / "docs", root_ / "docs-old");
    fs::create_directory_symlink(base_ / "outside", root_ / "docs");

    const auto result = read_confined_file(checked, GetParam());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), std::errc::too_many_symbolic_link_levels);
}

TEST_P(ConfinedRead, ReportsWhatCannotBeRead) {
    ASSERT_EQ(::mkfifo((root_ / "pipe").c_str(), 0600), 0);
    struct Case {
        fs::path path;
        std::errc expected;
    };
    const Case cases[] = {
        {root_ / "docs", std::errc::is_a_directory},
        {root_ / "missing.md", std::errc::no_such_file_or_directory},
        {root_ / "docs" / "a.md" / "x", std::errc::not_a_directory},
        {root_ / "pipe", std::errc::invalid_argument},  // must not block waiting for a writer
        {"docs/a.md", std::errc::invalid_argument},
        {root_ / "docs" / ".." / "docs" / "a.md", std::errc::invalid_argument},
        {root_ / "docs" / "", std::errc::invalid_argument},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_error(c.path), c.expected) << c.path;
    }
}

TEST_P(ConfinedRead, TextReadsRequireUtf8) {
    write_file(root_ / "bad.md", "ok \xff\xfe");
    const auto result = read_confined_text(root_ / "bad.md", GetParam());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), std::errc::illegal_byte_sequence);
    EXPECT_EQ(read_confined_file(root_ / "bad.md", GetParam()).value(), "ok \xff\xfe");
    EXPECT_EQ(read_confined_text(root_ / "docs" / "a.md", GetParam()).value(), "inside\r\n");
}

INSTANTIATE_TEST_SUITE_P(Routes, ConfinedRead,
                         testing::Values(ConfinedOpen::Automatic, ConfinedOpen::ComponentWalk),
                         [](const auto& info) {
                             return info.param == ConfinedOpen::Automatic ? "Automatic" : "ComponentWalk";
                         });
