#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "composer/include/directive.hpp"
#include "composer/include/expansion.hpp"
#include "sha/file.hpp"

namespace fs = std::filesystem;
using namespace zelk::composer;

TEST(IncludeDirective, Grammar) {
    struct Case {
        std::string line;
        IncludeDirective expected;
    };
    const std::vector<Case> cases = {
        {"@<partials/footer.md>\n", StaticInclude{"partials/footer.md"}},
        {"  @< spaced.md >\r\n", StaticInclude{" spaced.md "}},
        {"\xe3\x80\x80@<a.md>\xc2\xa0", StaticInclude{"a.md"}},  // Unicode white space around the line
        {"@<{{ 'partials/footer.md' }}>", StaticInclude{"partials/footer.md"}},
        {"@<{{\"q'uote.md\"}}>", StaticInclude{"q'uote.md"}},
        {"@<{{ 'a.md' if pro else 'b.md' }}>", ConditionalInclude{"pro", "a.md", "b.md"}},
        {"@<{{ \"a.md\" if user.tier == 'pro' else 'b.md' }}>",
         ConditionalInclude{"user.tier == 'pro'", "a.md", "b.md"}},
        {"@<{{ name }}>", DynamicInclude{}},
        {"@<{{ \"x\" ~ y }}>", DynamicInclude{}},
        {"@<{{ 'a.md' if  else 'b.md' }}>", DynamicInclude{}},
        {"@<{{ 'a.md' if c else b }}>", DynamicInclude{}},
        {"@<{{ '' }}>", DynamicInclude{}},
        {"@<{{}}>", DynamicInclude{}},
        {"@<{{ 'x }}>", DynamicInclude{}},
        {"@<x{{ y }}.md>", StaticInclude{"x{{ y }}.md"}},  // refused later as dynamic text
        {"@<>", NotADirective{}},
        {"@<x.md> trailing", NotADirective{}},
        {"@<x.md", NotADirective{}},
        {"see @<x.md>", NotADirective{}},
        {"plain text\n", NotADirective{}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_include_directive(c.line), c.expected) << c.line;
    }
}

TEST(IncludeDirective, QuotedLiteral) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {" 'a.md' ", "a.md"},
        {"\"it's.md\"", "it's.md"},
        {"'x'", "x"},
        {"''", std::nullopt},
        {"'", std::nullopt},
        {"'a.md\"", std::nullopt},
        {"a.md", std::nullopt},
        {"'a\x01.md'", std::nullopt},
        {"'a\xc2\x85.md'", std::nullopt},
        {"'{{x}}'", std::nullopt},
        {"'a if b'", std::nullopt},
        {"'a else b'", std::nullopt},
        {"'\xc3\xa9.md'", "\xc3\xa9.md"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(quoted_literal(text), expected) << text;
    }
}

namespace {

class Expansion : public testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::canonical(fs::temp_directory_path()) /
                ("zelk-include-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        root_ = base_ / "ws";
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(base_); }

    void write(const fs::path& relative, const std::string& text) {
        const fs::path path = relative.is_absolute() ? relative : root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    std::expected<ExpandedTemplate, ComposeError> run(const fs::path& template_path,
                                                      ComposePolicy policy = {}) {
        return expand_includes(template_path, root_, policy);
    }

    // Expects an include error and returns it.
    IncludeError failure(const fs::path& template_path, ComposePolicy policy = {}) {
        auto result = run(template_path, std::move(policy));
        if (result) {
            ADD_FAILURE() << "expansion succeeded: " << result->text;
            return IncludeError::create(DiagnosticCode::ErrConfigRead, "", {});
        }
        const auto* error = result.error().get_if<IncludeError>();
        if (error == nullptr) {
            ADD_FAILURE() << "not an include error: " << result.error().message();
            return IncludeError::create(DiagnosticCode::ErrConfigRead, "", {});
        }
        return *error;
    }

    static std::vector<std::string> sources(const ExpandedTemplate& expanded) {
        std::vector<std::string> out;
        for (const auto& node : expanded.composition_sha256.manifest.nodes) {
            out.push_back(node.canonical_source.as_str());
        }
        return out;
    }

    fs::path base_, root_;
};

}  // namespace

TEST_F(Expansion, ReplacesDirectiveLinesAndCollectsEveryFile) {
    write("main.md", "---\nrequired_variables: [a]\n---\nstart\n@<parts/b.md>\nend");
    write("parts/b.md",
          "---\nrequired_variables: [b]\n---\n---\nrequired_variables: [c]\n---\nB1\n@<c.md>\n");
    write("parts/c.md", "C");

    auto result = run("main.md");
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->text, "start\nB1\nCend");

    const std::vector<fs::path> files = {root_ / "main.md", root_ / "parts/b.md", root_ / "parts/c.md"};
    EXPECT_EQ(result->resolved_files, files);
    EXPECT_EQ(result->composition_sha256.resolved_files, files);
    ASSERT_EQ(result->frontmatters.size(), 3u);
    EXPECT_EQ(result->frontmatters[0].second.size(), 1u);
    EXPECT_EQ(result->frontmatters[1].second.size(), 2u);
    EXPECT_TRUE(result->frontmatters[2].second.empty());
    EXPECT_EQ(result->include_chains.at(files[2]), files);
    EXPECT_EQ(result->include_chains.at(files[0]), std::vector<fs::path>{files[0]});
    EXPECT_EQ(result->file_texts.at(files[2]), "C");

    EXPECT_EQ(sources(*result), (std::vector<std::string>{"main.md", "parts/b.md", "parts/c.md"}));
    const auto& edges = result->composition_sha256.manifest.edges;
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[1].from.url.as_str(), "parts/b.md");
    EXPECT_EQ(edges[1].to.url.as_str(), "parts/c.md");
    EXPECT_EQ(result->composition_sha256.manifest.nodes[2].digest, *zelk::sha::calculate_hash("C"));
}

TEST_F(Expansion, RepeatedIncludeIsRecordedOnceWithOneEdgePerSite) {
    write("a.md", "@<b.md>\nmid\n@<b.md>\n");
    write("b.md", "---\nrequired_variables: [x]\n---\nB\n");
    auto result = run("a.md");
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->text, "B\nmid\nB\n");
    EXPECT_EQ(result->resolved_files.size(), 2u);
    EXPECT_EQ(result->frontmatters.size(), 2u);
    EXPECT_EQ(sources(*result), (std::vector<std::string>{"a.md", "b.md"}));
    const auto& edges = result->composition_sha256.manifest.edges;
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].occurrence, 0u);
    EXPECT_EQ(edges[1].occurrence, 1u);
    EXPECT_EQ(edges[0].to, edges[1].to);
}

TEST_F(Expansion, ConditionalIncludeExpandsBothBranches) {
    write("a.md", "x\n@<{{ 'pro.md' if flag else 'free.md' }}>\ny");
    write("pro.md", "P\n");
    write("free.md", "F\n");
    auto result = run("a.md");
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->text, "x\n{% if flag %}P\n{% else %}F\n{% endif %}y");

    fs::remove(root_ / "free.md");
    const auto error = failure("a.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeNotFound);
}

TEST_F(Expansion, DynamicAndMalformedDirectivesFail) {
    write("x.md", "X");
    for (const std::string line : {"@<x.md> more", "@<x.md", "@<{{ var }}>", "@<{{ \"x\" ~ y }}>",
                                   "  @<a{{b}}.md>", "@<a{%b%}.md>", "@<${HOME}/x.md>"}) {
        write("a.md", "ok\n" + line + "\n");
        const auto error = failure("a.md");
        EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeDynamicUnresolved) << line;
        EXPECT_EQ(error.message,
                  "include target is dynamic or malformed; enumerate a static @<path> candidate");
        EXPECT_EQ(error.include_chain, std::vector<fs::path>{root_ / "a.md"});
    }
    write("a.md", "see @<x.md> here\n@<x.md>");
    auto result = run("a.md");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, "see @<x.md> here\nX");
}

TEST_F(Expansion, TargetsNextToTheIncludingFileWinOverTheRoot) {
    write("sub/a.md", "@<shared.md>\n@<only-root.md>\n");
    write("sub/shared.md", "near\n");
    write("shared.md", "root\n");
    write("only-root.md", "fallback\n");
    auto result = run("sub/a.md");
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->text, "near\nfallback\n");

    write("sub/b.md", "@<missing.md>\n");
    const auto error = failure("sub/b.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeNotFound);
    EXPECT_EQ(error.message, "include file not found: " + (root_ / "missing.md").string());
    EXPECT_EQ(error.include_chain, std::vector<fs::path>{root_ / "sub/b.md"});
}

TEST_F(Expansion, EscapesAreRefused) {
    write(base_ / "outside.md", "secret");
    write("outside.md", "decoy");  // a root-relative fallback must not rescue an escape
    write("a.md", "@<../outside.md>\n");
    auto error = failure("a.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeEscape);
    EXPECT_EQ(error.message, "include path escapes confinement root: " + (root_ / "../outside.md").string());

    fs::create_symlink(base_ / "outside.md", root_ / "link.md");
    write("b.md", "@<link.md>\n");
    error = failure("b.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeEscape);

    write("c.md", "@<" + (base_ / "outside.md").string() + ">\n");
    EXPECT_EQ(failure("c.md").code, DiagnosticCode::ErrIncludeEscape);

    EXPECT_EQ(failure(base_ / "outside.md").code, DiagnosticCode::ErrIncludeEscape);
}

TEST_F(Expansion, ReadAndResolveFailures) {
    fs::create_directories(root_ / "dir");
    fs::create_symlink("loop-b", root_ / "loop-a");
    fs::create_symlink("loop-a", root_ / "loop-b");
    write("bad.md", "caf\xe9\n");
    write("nul.md", std::string("@<x.md\0y>\n", 10));
    write("x.md", "X");
    struct Case {
        std::string directive;
        DiagnosticCode code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"@<dir>", DiagnosticCode::ErrIncludeIsADirectory,
         "include target is a directory, not a file: " + (root_ / "dir").string()},
        {"@<loop-a>", DiagnosticCode::ErrIncludeFilesystemLoop,
         "include path is a filesystem symlink loop: " + (root_ / "loop-a").string()},
        {"@<bad.md>", DiagnosticCode::ErrConfigRead,
         "failed to hash template " + (root_ / "bad.md").string() +
             ": text-file bytes are not valid UTF-8; encode the source as UTF-8 before hashing"},
        {"@<nul.md>", DiagnosticCode::ErrIncludeNotFound,
         "include file not found: " + (root_ / std::string("x.md\0y", 6)).string()},
    };
    for (const auto& c : cases) {
        write("a.md", "top\n" + c.directive + "\n");
        const auto error = failure("a.md");
        EXPECT_EQ(error.code, c.code) << c.directive;
        EXPECT_EQ(error.message, c.message) << c.directive;
    }
    write("a.md", "@<bad.md>\n");
    const auto error = failure("a.md");
    EXPECT_EQ(error.include_chain, (std::vector<fs::path>{root_ / "a.md", root_ / "bad.md"}));
}

TEST_F(Expansion, CyclesAreRefused) {
    write("self.md", "@<self.md>\n");
    auto error = failure("self.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeCycle);
    EXPECT_EQ(error.message, "include cycle detected at " + (root_ / "self.md").string());
    EXPECT_EQ(error.include_chain, (std::vector<fs::path>{root_ / "self.md", root_ / "self.md"}));

    write("a.md", "@<b.md>\n");
    write("b.md", "@<./a.md>\n");
    error = failure("a.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeCycle);
    EXPECT_EQ(error.include_chain, (std::vector<fs::path>{root_ / "a.md", root_ / "b.md", root_ / "a.md"}));
}

TEST_F(Expansion, DepthIsLimitedAndCapped) {
    // f0 includes f1 ... includes f{n}; f{n} includes nothing.
    const auto chain_of = [&](int n) {
        for (int i = 0; i < n; ++i) {
            write("f" + std::to_string(i) + ".md", "@<f" + std::to_string(i + 1) + ".md>\n");
        }
        write("f" + std::to_string(n) + ".md", "leaf\n");
    };
    ComposePolicy none;
    none.max_include_depth = 0;
    write("plain.md", "no includes\n");
    EXPECT_TRUE(run("plain.md", none));
    chain_of(1);
    auto error = failure("f0.md", none);
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeDepth);
    EXPECT_EQ(error.message, "include depth exceeded maximum of 0");
    EXPECT_EQ(error.include_chain, std::vector<fs::path>{root_ / "f0.md"});

    ComposePolicy huge;
    huge.max_include_depth = 500;
    chain_of(128);
    auto result = run("f0.md", huge);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->text, "leaf\n");
    chain_of(129);
    error = failure("f0.md", huge);
    EXPECT_EQ(error.message, "include depth exceeded maximum of 128");
    EXPECT_EQ(error.include_chain.size(), 129u);
}

TEST_F(Expansion, FilesUnderAllowedRootsAreNamedByRootIndex) {
    const fs::path first = base_ / "lib0";
    const fs::path second = base_ / "lib1";
    write(first / "unused.md", "");
    write(second / "shared" / "footer.md", "footer\n");
    write("a.md", "@<" + (second / "shared" / "footer.md").string() + ">\n");
    ComposePolicy policy;
    policy.allowed_roots = {ConfiningRoot{first}, ConfiningRoot{second}};
    auto result = run("a.md", policy);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(sources(*result), (std::vector<std::string>{"a.md", "allowed-root-1/shared/footer.md"}));

    EXPECT_EQ(failure("a.md").code, DiagnosticCode::ErrIncludeEscape);  // without the roots
}

TEST_F(Expansion, UnnameableSourceIsRefused) {
    write("bell\x07.md", "x");
    write("a.md", "@<bell\x07.md>\n");
    const auto error = failure("a.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrConfigRead);
    EXPECT_EQ(
        error.message,
        "invalid canonical include source: invalid canonical source representation; provide a non-empty "
        "canonical path or URL with forward-slash separators and no control characters");
}

TEST_F(Expansion, HashIgnoresLocationAndLineEndingsButNotNames) {
    write("a.md", "---\nrequired_variables: [x]\n---\nA\n@<b.md>\n");
    write("b.md", "B\n");
    const auto first = run("a.md").value().composition_sha256.composition_sha256;

    const fs::path moved = base_ / "elsewhere" / "deeper";
    fs::create_directories(moved.parent_path());
    fs::rename(root_, moved);
    root_ = moved;
    EXPECT_EQ(run("a.md").value().composition_sha256.composition_sha256, first);

    write("a.md", "---\r\nrequired_variables: [x]\r\n---\r\nA\r\n@<b.md>\r\n");
    EXPECT_EQ(run("a.md").value().composition_sha256.composition_sha256, first);

    fs::rename(root_ / "b.md", root_ / "c.md");
    write("a.md", "---\nrequired_variables: [x]\n---\nA\n@<c.md>\n");
    EXPECT_NE(run("a.md").value().composition_sha256.composition_sha256, first);
}

TEST_F(Expansion, FrontmatterErrorsPassThrough) {
    write("a.md", "@<b.md>\n");
    write("b.md", "---\nrequired_variables: [x]\n");
    auto result = run("a.md");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code(), DiagnosticCode::ErrConfigParse);
    EXPECT_EQ(result.error().message(),
              "frontmatter block started with `---` but no closing delimiter was found");
}

TEST_F(Expansion, IncludeBombsEndInAnError) {
    // Each file includes the next one twice: 2^24 sites if nothing stopped it.
    for (int i = 0; i < 24; ++i) {
        const std::string next = "@<f" + std::to_string(i + 1) + ".md>\n";
        write("f" + std::to_string(i) + ".md", next + next);
    }
    write("f24.md", "leaf\n");
    auto error = failure("f0.md");
    EXPECT_EQ(error.code, DiagnosticCode::ErrIncludeDepth);
    EXPECT_EQ(error.message, "include expansion exceeds the limit of 100000 include sites");

    // Few sites, but a large file repeated: the text limit ends it.
    write("big.md", std::string(9u << 20, 'x') + "\n");
    write("g0.md", "@<g1.md>\n@<g1.md>\n");
    write("g1.md", "@<g2.md>\n@<g2.md>\n");
    write("g2.md", "@<big.md>\n@<big.md>\n");
    error = failure("g0.md");
    EXPECT_EQ(error.message, "expanded template exceeds the limit of 67108864 bytes");
}

TEST_F(Expansion, SymlinkSwappedInAfterCanonicalisationIsAReadFailure) {
    // expand_file trusts its path to be canonical; a link found there at read time is never followed.
    write(base_ / "outside.md", "secret");
    fs::create_symlink(base_ / "outside.md", root_ / "swapped.md");
    ExpansionState state;
    std::vector<fs::path> chain;
    const ExpansionContext context{root_, {}, 32, 0, chain, state};
    std::string out;
    auto result = expand_file(root_ / "swapped.md", context, out);
    ASSERT_FALSE(result);
    const auto* error = result.error().get_if<IncludeError>();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, DiagnosticCode::ErrIncludeFilesystemLoop);
    EXPECT_EQ(error->message,
              "include target is a filesystem symlink loop: " + (root_ / "swapped.md").string());
    EXPECT_EQ(error->include_chain, std::vector<fs::path>{root_ / "swapped.md"});
    EXPECT_TRUE(out.empty());
}

TEST_F(Expansion, PermissionFailuresHaveTheirOwnCodes) {
    write("locked-dir/x.md", "x");
    write("locked.md", "x");
    write("a.md", "@<locked-dir/x.md>\n");
    write("b.md", "@<locked.md>\n");
    fs::permissions(root_ / "locked-dir", fs::perms::none);
    fs::permissions(root_ / "locked.md", fs::perms::none);
    const auto check = [&] {
        const auto resolving = failure("a.md");
        const auto reading = failure("b.md");
        return resolving.code == DiagnosticCode::ErrIncludePermissionDenied &&
               resolving.message ==
                   "permission denied resolving include: " + (root_ / "locked-dir/x.md").string() &&
               reading.code == DiagnosticCode::ErrIncludePermissionDenied &&
               reading.message == "permission denied reading include file: " + (root_ / "locked.md").string();
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(check());
    } else {
        // Permission bits do not bind root: check in a child that gave up its privileges.
        EXPECT_EXIT(
            {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                    std::_Exit(2);
                }
                std::_Exit(check() ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
    fs::permissions(root_ / "locked-dir", fs::perms::owner_all);
}
