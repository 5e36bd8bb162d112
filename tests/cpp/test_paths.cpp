// Path primitives: lexical normalisation, containment, confined canonicalisation, path texts and
// template suffixes. The confinement cases run against a real directory tree with symbolic links.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "composer/path_containment.hpp"
#include "composer/path_utils.hpp"
#include "composer/template_ext.hpp"
#include "scratch_tree.hpp"

namespace fs = std::filesystem;
using namespace zelk::composer;

namespace {

struct PathCase {
    const char* input;
    const char* expected;
};

TEST(NormalizePath, ResolvesDotsLexically) {
    const std::vector<PathCase> cases = {
        {"/a/b/../c", "/a/c"}, {"/a/./b", "/a/b"},       {"/..", "/"},
        {"a/../../b", "b"},    {"/a/b/..", "/a"},        {"../x", "x"},
        {"/a/b/", "/a/b"},     {"/w/link/../x", "/w/x"}, {"", ""},
        {"./a/./b/.", "a/b"},  {"/a//b", "/a/b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_path(c.input), fs::path(c.expected)) << c.input;
    }
}

TEST(IsWithinAny, ComparesWholeComponents) {
    const std::vector<fs::path> roots = {"/w", "/other/root/"};
    struct Case {
        const char* path;
        bool within;
    };
    const std::vector<Case> cases = {
        {"/w", true},      {"/w/docs", true},       {"/w/", true},           {"/w2/x", false},
        {"/W/x", false},   {"/other/root/a", true}, {"/other/rootx", false}, {"/", false},
        {"w/docs", false}, {"/w/./docs", true},     {"/other//root", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_within_any(c.path, roots), c.within) << c.path;
    }
    EXPECT_FALSE(is_within_any("/w/x", {}));
    EXPECT_FALSE(is_within_any("/w/x", std::vector<fs::path>{""}))
        << "an empty root must not contain everything";
    EXPECT_TRUE(is_within_any("w/x", std::vector<fs::path>{"w"}));
}

TEST(ToForwardSlash, ConvertsSeparatorsOnly) {
    const std::vector<PathCase> cases = {
        {R"(\\?\D:\a\b)", "D:/a/b"}, {"a/b/", "a/b/"},          {R"(a\b\)", "a/b/"},
        {"./x/../y", "./x/../y"},    {R"(\\?\\\?\x)", "//?/x"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_forward_slash(c.input), c.expected) << c.input;
    }
    EXPECT_EQ(to_forward_slash(fs::path(std::string("a/\xff\xfe.md"))), "a/\xEF\xBF\xBD\xEF\xBF\xBD.md");
}

TEST(TemplateSuffixes, StripsEveryTrailingSuffix) {
    const std::vector<PathCase> cases = {
        {"prompt.md.j2", "prompt.md"},
        {"notes.J2.jinja", "notes"},
        {"a.json.JINJA2.j2", "a.json"},
        {".j2", ""},
        {"x.j2.jinja2.jinja", "x"},
        {"x.jinja2x", "x.jinja2x"},
        {"plain", "plain"},
        {"x.Jinja", "x"},
        {"j2", "j2"},
        {"caf\xc3\xa9.j2", "caf\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strip_all_template_suffixes(c.input), c.expected) << c.input;
    }
    const std::string text = "a.md.j2";
    EXPECT_EQ(strip_all_template_suffixes(text).data(), text.data()) << "result must be a prefix view";
}

TEST(TemplateSuffixes, RecognisesJsonTemplates) {
    struct Case {
        std::string path;
        bool json;
    };
    const std::vector<Case> cases = {
        {"config.json.j2", true},
        {"CONFIG.JSON", true},
        {"dir/a.json.jinja", true},
        {"a.json/", true},
        {"data.json.tmpl", false},
        {".json.j2", false},
        {"json", false},
        {"a.jsonx", false},
        {"/", false},
        {"a/..", false},
        {"", false},
        {"x.md.j2", false},
        {"bad\xff.json", false},
        {"..json", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_json_template_path(c.path), c.json) << c.path;
    }
}

// <base>/w is the workspace root, <base>/out lies outside it, <base>/extra is a further root.
class Confinement : public zelk::testing::ScratchTree {
  protected:
    void SetUp() override {
        ScratchTree::SetUp();
        write(root() / "docs" / "a.md");
        write(base_ / "out" / "secret.md");
        write(base_ / "out" / "dir" / "secret.md");
        write(base_ / "extra" / "e.md");
    }

    fs::path root() const { return base_ / "w"; }

    ContainmentOutcome confine(const fs::path& candidate, std::vector<fs::path> further = {}) const {
        return canonicalize_within_roots(candidate, root(), further);
    }
};

TEST_F(Confinement, ContainsFilesInsideTheRoots) {
    EXPECT_EQ(confine("docs/a.md"), ContainmentOutcome(Contained{root() / "docs" / "a.md"}));
    EXPECT_EQ(confine(root() / "docs" / "a.md"), ContainmentOutcome(Contained{root() / "docs" / "a.md"}));
    EXPECT_EQ(confine("./docs/../docs/a.md"), ContainmentOutcome(Contained{root() / "docs" / "a.md"}));
    EXPECT_EQ(confine(base_ / "extra" / "e.md", {base_ / "extra"}),
              ContainmentOutcome(Contained{base_ / "extra" / "e.md"}));
    // A link that stays inside the root is contained, reported by its target.
    fs::create_symlink("docs/a.md", root() / "alias.md");
    EXPECT_EQ(confine("alias.md"), ContainmentOutcome(Contained{root() / "docs" / "a.md"}));
}

TEST_F(Confinement, DotDotTraversalEscapesInEveryPosition) {
    write(root() / "a.md");
    const std::vector<fs::path> escaping = {
        "../out/secret.md",
        "docs/../../out/secret.md",
        "docs/../../out/missing.md",
        "../w2/missing.md",
        root() / ".." / "out" / "secret.md",
        "docs/../../out/dir/..",
        "..",
    };
    for (const auto& candidate : escaping) {
        const auto outcome = confine(candidate);
        ASSERT_TRUE(std::holds_alternative<Escapes>(outcome)) << candidate;
        const fs::path expected = candidate.is_absolute() ? candidate : root() / candidate;
        EXPECT_EQ(std::get<Escapes>(outcome).path, expected) << "escapes report the absolute candidate";
    }
    // ".." that comes back inside is fine.
    EXPECT_EQ(confine("docs/../a.md"), ContainmentOutcome(Contained{root() / "a.md"}));
}

TEST_F(Confinement, SymbolicLinksPointingOutEscape) {
    fs::create_symlink(base_ / "out" / "secret.md", root() / "file-link.md");
    fs::create_directory_symlink(base_ / "out" / "dir", root() / "dir-link");
    fs::create_directory_symlink("../../out", root() / "docs" / "relative-link");
    for (const fs::path candidate : {"file-link.md", "dir-link/secret.md", "docs/relative-link/secret.md",
                                     "dir-link/../secret.md", "dir-link"}) {
        EXPECT_TRUE(std::holds_alternative<Escapes>(confine(candidate))) << candidate;
    }
    // ".." after a link is taken physically: dir-link/.. is <base>/out, not the root.
    fs::create_directory_symlink(base_ / "out" / "dir", root() / "docs" / "nested-link");
    EXPECT_TRUE(std::holds_alternative<Escapes>(confine("docs/nested-link/../secret.md")));
}

TEST_F(Confinement, MissingFilesAreUnreadableInsideAndEscapesOutside) {
    const auto inside = confine("docs/missing.md");
    ASSERT_TRUE(std::holds_alternative<Unreadable>(inside));
    EXPECT_EQ(std::get<Unreadable>(inside).path, root() / "docs" / "missing.md");
    EXPECT_EQ(std::get<Unreadable>(inside).error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(std::holds_alternative<Escapes>(confine(base_ / "out" / "missing.md")));
    // A dangling link inside the root is lexically inside: unreadable, never followed out.
    fs::create_symlink(base_ / "out" / "missing.md", root() / "dangling.md");
    EXPECT_TRUE(std::holds_alternative<Unreadable>(confine("dangling.md")));
}

TEST_F(Confinement, NulBytesAreRefusedRatherThanTruncated) {
    // The system call would see only "docs/a.md" and canonicalise that file.
    const fs::path candidate(std::string("docs/a.md\0/../../../out/secret.md", 33));
    const auto outcome = confine(candidate);
    ASSERT_TRUE(std::holds_alternative<Escapes>(outcome));
    const fs::path inside(std::string("docs/a.md\0x", 11));
    const auto unreadable = confine(inside);
    ASSERT_TRUE(std::holds_alternative<Unreadable>(unreadable));
    EXPECT_EQ(std::get<Unreadable>(unreadable).error, std::errc::invalid_argument);
}

TEST_F(Confinement, SymlinkLoopIsUnreadableWithTheLoopError) {
    fs::create_symlink("loop-b", root() / "loop-a");
    fs::create_symlink("loop-a", root() / "loop-b");
    const auto outcome = confine("loop-a");
    ASSERT_TRUE(std::holds_alternative<Unreadable>(outcome));
    EXPECT_EQ(std::get<Unreadable>(outcome).error.value(), ELOOP);
}

TEST_F(Confinement, RootsAreComparedAsPassed) {
    fs::create_directory_symlink(base_ / "extra", base_ / "extra-link");
    // Canonical candidates never lie under a root given through a link...
    EXPECT_TRUE(
        std::holds_alternative<Escapes>(confine(base_ / "extra-link" / "e.md", {base_ / "extra-link"})));
    // ...but missing files under it still do, lexically.
    EXPECT_TRUE(std::holds_alternative<Unreadable>(
        confine(base_ / "extra-link" / "missing.md", {base_ / "extra-link"})));
    // A workspace root reached through a link contains nothing that exists unless canonicalised first.
    fs::create_directory_symlink(root(), base_ / "w-link");
    EXPECT_TRUE(std::holds_alternative<Escapes>(
        canonicalize_within_roots("docs/a.md", base_ / "w-link", std::vector<fs::path>{})));
    EXPECT_EQ(
        canonicalize_within_roots("docs/a.md", fs::canonical(base_ / "w-link"), std::vector<fs::path>{}),
        ContainmentOutcome(Contained{root() / "docs" / "a.md"}));
}

TEST_F(Confinement, PermissionDeniedIsUnreadableWithTheOsError) {
    write(root() / "locked" / "a.md");
    zelk::testing::lock_directory(base_, root() / "locked");
    const int status = zelk::testing::run_unprivileged([&] {
        const auto outcome = confine("locked/a.md");
        const auto* unreadable = std::get_if<Unreadable>(&outcome);
        return unreadable != nullptr && unreadable->error == std::errc::permission_denied ? 0 : 1;
    });
    if (status == -1) {
        GTEST_SKIP() << "running as root and unable to drop privileges: permission checks cannot fail";
    }
    EXPECT_EQ(status, 0);
}

}  // namespace
