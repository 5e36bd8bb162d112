// Verification: line-ending normalisation, the unified diff layout, the deployed-file failures,
// and the verification pipeline with its observer hooks.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "composer/verify.hpp"
#include "recording_observer.hpp"
#include "scratch_tree.hpp"

namespace fs = std::filesystem;
using namespace zelk::composer;

namespace {

// Lines "l1\n" .. "l{count}\n", the line numbers in `changed` written "x{n}" instead.
std::string numbered(int count, std::vector<int> changed = {}, bool final_newline = true) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        const bool is_changed = std::find(changed.begin(), changed.end(), i) != changed.end();
        text += (is_changed ? "x" : "l") + std::to_string(i);
        if (i < count || final_newline) {
            text += '\n';
        }
    }
    return text;
}

std::string diff_of(std::string_view deployed, std::string_view rendered) {
    const auto diff = render_diff("out/agent.md", "agents/a.md.j2", deployed, rendered);
    return diff.value_or("<clean>");
}

TEST(NormalizeTextForCompare, LineEndings) {
    const struct {
        std::string_view in;
        std::string_view out;
    } cases[] = {
        {"", ""},         {"a", "a"},     {"a\n", "a"},       {"a\r\n", "a"}, {"a\r\nb\r\n", "a\nb"},
        {"a\n\n", "a\n"}, {"a\r", "a\r"}, {"a\rb\n", "a\rb"}, {"\n", ""},     {"\r\n\r\n", "\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_text_for_compare(c.in), c.out) << testing::PrintToString(std::string(c.in));
    }
}

TEST(RenderDiff, EqualAfterNormalisationIsAbsent) {
    EXPECT_FALSE(render_diff("d", "t", "a\r\nb\r\n", "a\nb").has_value());
    EXPECT_FALSE(render_diff("d", "t", "", "\n").has_value());
}

TEST(RenderDiff, SingleChangeHasThreeLinesOfContext) {
    EXPECT_EQ(diff_of(numbered(20), numbered(20, {10})),
              "--- out/agent.md\n"
              "+++ rendered(agents/a.md.j2)\n"
              "@@ -7,7 +7,7 @@\n"
              " l7\n l8\n l9\n-l10\n+x10\n l11\n l12\n l13\n");
}

TEST(RenderDiff, SixEqualLinesKeepOneHunkSevenSplit) {
    EXPECT_EQ(diff_of(numbered(20), numbered(20, {2, 9})),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,12 +1,12 @@\n"
              " l1\n-l2\n+x2\n l3\n l4\n l5\n l6\n l7\n l8\n-l9\n+x9\n l10\n l11\n l12\n");
    EXPECT_EQ(diff_of(numbered(20), numbered(20, {2, 10})),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,5 +1,5 @@\n"
              " l1\n-l2\n+x2\n l3\n l4\n l5\n"
              "@@ -7,7 +7,7 @@\n"
              " l7\n l8\n l9\n-l10\n+x10\n l11\n l12\n l13\n");
}

TEST(RenderDiff, ChangedLastLineWithoutNewlineCarriesMarkers) {
    EXPECT_EQ(diff_of(numbered(5, {}, false), numbered(5, {5}, false)),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -2,4 +2,4 @@\n"
              " l2\n l3\n l4\n-l5\n\\ No newline at end of file\n+x5\n\\ No newline at end of file\n");
}

TEST(RenderDiff, EmptySidesUseZeroRanges) {
    EXPECT_EQ(diff_of("", "only"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -0,0 +1 @@\n+only\n\\ No newline at end of file\n");
    EXPECT_EQ(diff_of("only\n", ""),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1 +0,0 @@\n-only\n\\ No newline at end of file\n");
}

TEST(RenderDiff, ExtraTrailingBlankLineIsADifference) {
    // "a\n\n" normalises to "a\n"; "a" stays "a": the line differs only in its terminator.
    EXPECT_EQ(diff_of("a\n\n", "a"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1 +1 @@\n-a\n+a\n\\ No newline at end of file\n");
}

TEST(RenderDiff, ChangedStretchListsRemovalsBeforeAdditions) {
    EXPECT_EQ(diff_of("keep\na\nb\nkeep2\nend\n", "keep\nc\nd\nkeep2\nend\n"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,5 +1,5 @@\n keep\n-a\n-b\n+c\n+d\n keep2\n end\n\\ No newline at end of file\n");
}

TEST(RenderDiff, ByteOrderMarkMakesTheFirstLineDiffer) {
    EXPECT_EQ(diff_of("\xEF\xBB\xBFtitle\nbody\n", "title\nbody"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,2 +1,2 @@\n-\xEF\xBB\xBFtitle\n+title\n body\n\\ No newline at end of file\n");
}

TEST(RenderDiff, LoneCarriageReturnEndsALine) {
    EXPECT_EQ(diff_of("a\rb", "a\rc"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,2 +1,2 @@\n a\r-b\n\\ No newline at end of file\n+c\n\\ No newline at end of file\n");
}

TEST(RenderDiff, WholesaleReplacementIsOneHunkOfRemovalsThenAdditions) {
    std::string deployed;
    std::string rendered;
    for (int i = 0; i < 50000; ++i) {
        deployed += "old " + std::to_string(i) + "\n";
        rendered += "new " + std::to_string(i) + "\n";
    }
    // Shared first and last lines keep some context in play around the replaced block.
    const auto diff = render_diff("d", "t", "head\n" + deployed + "tail\n", "head\n" + rendered + "tail\n");
    ASSERT_TRUE(diff.has_value());
    EXPECT_TRUE(diff->starts_with("--- d\n+++ rendered(t)\n@@ -1,50002 +1,50002 @@\n head\n-old 0\n"));
    EXPECT_NE(diff->find("-old 49999\n+new 0\n"), std::string::npos);
    EXPECT_TRUE(diff->ends_with("+new 49999\n tail\n\\ No newline at end of file\n"));
}

TEST(RenderDiff, LinesUniqueToOneSideInterleaveWithSharedOnes) {
    EXPECT_EQ(diff_of("a\nx\nb\nc\nd\n", "a\nb\ny\nc\nz\nd\n"),
              "--- out/agent.md\n+++ rendered(agents/a.md.j2)\n"
              "@@ -1,5 +1,6 @@\n a\n-x\n b\n+y\n c\n+z\n d\n\\ No newline at end of file\n");
}

class DeployedText : public zelk::testing::ScratchTree {};

TEST_F(DeployedText, ReadsBytesUnchanged) {
    const std::string text = "\xEF\xBB\xBFline\r\nnext\n\n";
    write(base_ / "out.md", text);
    EXPECT_EQ(read_deployed_text(base_ / "out.md"), text);
}

TEST_F(DeployedText, FailuresByKind) {
    write(base_ / "bad.md", "ok \xFF\xFE");
    fs::create_directories(base_ / "dir");
    ASSERT_EQ(::mkfifo((base_ / "fifo").c_str(), 0600), 0);
    write(base_ / "file", "x");
    const struct {
        fs::path path;
        DiagnosticCode code;
        std::string message;
    } cases[] = {
        {base_ / "missing.md", DiagnosticCode::ErrResolveNotFound, "deployed file not found: "},
        {base_ / "file" / "below", DiagnosticCode::ErrResolveNotFound, "deployed file not found: "},
        {base_ / "bad.md", DiagnosticCode::ErrConfigRead, "deployed file is not valid UTF-8 text: "},
        {base_ / "dir", DiagnosticCode::ErrConfigParse, "failed to read deployed file: "},
        // A FIFO is refused rather than opened, so nothing blocks.
        {base_ / "fifo", DiagnosticCode::ErrConfigParse, "failed to read deployed file: "},
    };
    for (const auto& c : cases) {
        const auto text = read_deployed_text(c.path);
        ASSERT_FALSE(text.has_value()) << c.path;
        const ConfigError* error = text.error().get_if<ConfigError>();
        ASSERT_NE(error, nullptr) << c.path;
        EXPECT_EQ(error->code, c.code) << c.path;
        EXPECT_EQ(error->message, c.message + c.path.string());
        ASSERT_EQ(error->recovery_hints.size(), 1U);
        EXPECT_EQ(error->recovery_hints[0], RecoveryHint(RecoveryHint::InspectPath{c.path}));
        EXPECT_NE(error->source, nullptr);
    }
}

TEST_F(DeployedText, UnreadableFileIsAReadFailure) {
    write(base_ / "locked.md", "secret");
    fs::permissions(base_ / "locked.md", fs::perms::none);
    const int outcome = zelk::testing::run_unprivileged([&] {
        const auto text = read_deployed_text(base_ / "locked.md");
        return !text && text.error().code() == DiagnosticCode::ErrConfigParse ? 0 : 1;
    });
    if (outcome < 0) {
        GTEST_SKIP() << "cannot drop privileges";
    }
    EXPECT_EQ(outcome, 0);
}

class Verify : public zelk::testing::ScratchTree {
  protected:
    fs::path root() const { return base_ / "w"; }

    void SetUp() override {
        ScratchTree::SetUp();
        write(root() / "agents/a.md.j2", "first\nsecond\n");
    }

    ComposeRequest request(fs::path template_path = "agents/a.md.j2") const {
        ComposeRequest request;
        request.root = root();
        request.mode = ComposeMode::file(std::move(template_path));
        return request;
    }
};

TEST_F(Verify, LineEndingsAloneAreClean) {
    write(base_ / "deployed.md", "first\r\nsecond\r\n");
    zelk::testing::RecordingObserver observer;
    const auto result = verify_with_observer(request(), base_ / "deployed.md", observer);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_TRUE(result->clean);
    EXPECT_FALSE(result->diff.has_value());
    EXPECT_EQ(result->deployed_text, "first\r\nsecond\r\n");
    EXPECT_EQ(result->rendered_text, "first\nsecond");
    EXPECT_EQ(result->resolved_template_path, root() / "agents/a.md.j2");
    EXPECT_EQ(observer.calls.front(), "verify_start");
    EXPECT_EQ(observer.calls.back(), "verify_end");
    EXPECT_EQ(observer.calls.size(), 7U);  // the five composition hooks in between
}

TEST_F(Verify, DifferenceGivesTheDiffFromDeployedToRendered) {
    write(base_ / "deployed.md", "first\nchanged\n");
    const auto result = verify(request(), base_ / "deployed.md");
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_FALSE(result->clean);
    EXPECT_EQ(result->diff, "--- " + (base_ / "deployed.md").string() + "\n+++ rendered(" +
                                (root() / "agents/a.md.j2").string() +
                                ")\n@@ -1,2 +1,2 @@\n first\n-changed\n\\ No newline at end of file\n"
                                "+second\n\\ No newline at end of file\n");
}

TEST_F(Verify, FailuresStillEndTheVerification) {
    // The composition fails first, so the missing deployed file is never looked at.
    zelk::testing::RecordingObserver unresolved;
    const auto no_template = verify_with_observer(request("nope.md.j2"), base_ / "missing.md", unresolved);
    ASSERT_FALSE(no_template.has_value());
    EXPECT_EQ(no_template.error().code(), DiagnosticCode::ErrResolveNotFound);
    EXPECT_NE(no_template.error().get_if<ResolveError>(), nullptr);
    EXPECT_EQ(unresolved.calls,
              (std::vector<std::string>{"verify_start", "resolve_start nope.md.j2",
                                        "resolve_outcome ERR_RESOLVE_NOT_FOUND", "verify_end"}));

    zelk::testing::RecordingObserver missing;
    const auto no_deployed = verify_with_observer(request(), base_ / "missing.md", missing);
    ASSERT_FALSE(no_deployed.has_value());
    EXPECT_NE(no_deployed.error().get_if<ConfigError>(), nullptr);
    EXPECT_EQ(no_deployed.error().message(), "deployed file not found: " + (base_ / "missing.md").string());
    EXPECT_EQ(missing.calls.back(), "verify_end");
}

}  // namespace
