// Template resolution: file mode with its error table, profile mode over the runtime directory
// table and probes, overrides, ambiguity, and the observer calls of profile resolution.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "composer/resolver.hpp"
#include "scratch_tree.hpp"

namespace fs = std::filesystem;
using namespace zelk::composer;

namespace {

ProfileName profile_name(const char* text) {
    return *ProfileName::create(text);
}

class Resolver : public zelk::testing::ScratchTree {
  protected:
    fs::path root() const { return base_ / "w"; }

    void SetUp() override {
        ScratchTree::SetUp();
        fs::create_directories(root());
    }

    ComposeRequest file_request(fs::path template_path) const {
        ComposeRequest request;
        request.root = root();
        request.mode = ComposeMode::file(std::move(template_path));
        return request;
    }

    ComposeRequest profile_request(ProfileKind kind, const char* name,
                                   std::optional<RuntimeKind> runtime = std::nullopt) const {
        ComposeRequest request;
        request.root = root();
        request.mode = ComposeMode::profile(kind, profile_name(name));
        request.runtime = runtime;
        return request;
    }

    std::vector<fs::path> under_root(const std::vector<std::string>& relative) const {
        std::vector<fs::path> paths;
        for (const auto& text : relative) {
            paths.push_back(root() / text);
        }
        return paths;
    }
};

// The error of a failed resolution, which must be a resolve error.
ResolveError resolve_error(const std::expected<ResolveResult, ComposeError>& result) {
    if (result.has_value()) {
        ADD_FAILURE() << "resolved unexpectedly: " << result->resolved_path;
        return ResolveError::create(DiagnosticCode::ErrResolveNotFound, "", {});
    }
    const auto* error = result.error().get_if<ResolveError>();
    if (error == nullptr) {
        ADD_FAILURE() << "not a resolve error: " << result.error().message();
        return ResolveError::create(DiagnosticCode::ErrResolveNotFound, "", {});
    }
    return *error;
}

TEST_F(Resolver, FileModeResolvesCanonicalPaths) {
    write(root() / "docs" / "a.md");
    fs::create_symlink("docs/a.md", root() / "alias.md");
    for (const fs::path& candidate : {fs::path("docs/a.md"), root() / "docs" / "a.md", fs::path("alias.md"),
                                      fs::path("docs/../docs/./a.md")}) {
        const auto result = resolve_template_path(file_request(candidate));
        ASSERT_TRUE(result.has_value()) << candidate;
        EXPECT_EQ(*result, (ResolveResult{root() / "docs" / "a.md", {root() / "docs" / "a.md"}, {}}));
    }
}

TEST_F(Resolver, FileModeErrorTable) {
    write(base_ / "out" / "secret.md");
    fs::create_symlink(base_ / "out" / "secret.md", root() / "link-out.md");
    fs::create_directory_symlink(base_ / "out", root() / "dir-out");
    fs::create_symlink("loop-b", root() / "loop-a");
    fs::create_symlink("loop-a", root() / "loop-b");
    struct Case {
        fs::path candidate;
        const char* message;
        DiagnosticCode code;
        bool has_source;
    };
    const std::vector<Case> cases = {
        {"../out/secret.md", "template path escapes configured roots: ", DiagnosticCode::ErrResolveNotFound,
         false},
        {"../out/missing.md", "template path escapes configured roots: ", DiagnosticCode::ErrResolveNotFound,
         false},
        {"link-out.md", "template path escapes configured roots: ", DiagnosticCode::ErrResolveNotFound,
         false},
        {"dir-out/secret.md", "template path escapes configured roots: ", DiagnosticCode::ErrResolveNotFound,
         false},
        {base_ / "out" / "secret.md",
         "template path escapes configured roots: ", DiagnosticCode::ErrResolveNotFound, false},
        {"missing.md", "template path not found: ", DiagnosticCode::ErrResolveNotFound, true},
        {"dir-out/../missing.md", "template path not found: ", DiagnosticCode::ErrResolveNotFound, true},
        {"loop-a", "template path is a filesystem symlink loop: ", DiagnosticCode::ErrIncludeFilesystemLoop,
         true},
    };
    for (const auto& c : cases) {
        const fs::path absolute = c.candidate.is_absolute() ? c.candidate : root() / c.candidate;
        const auto result = resolve_template_path(file_request(c.candidate));
        const auto error = resolve_error(result);
        EXPECT_EQ(error.message, c.message + absolute.string()) << c.candidate;
        EXPECT_EQ(error.code, c.code) << c.candidate;
        EXPECT_EQ(error.attempted_paths, std::vector<fs::path>{absolute}) << c.candidate;
        EXPECT_EQ(error.source != nullptr, c.has_source) << c.candidate;
    }
}

TEST_F(Resolver, FileModePermissionDenied) {
    write(root() / "locked" / "a.md");
    zelk::testing::lock_directory(base_, root() / "locked");
    const auto request = file_request("locked/a.md");
    const int status = zelk::testing::run_unprivileged([&] {
        const auto result = resolve_template_path(request);
        const auto* error = result ? nullptr : result.error().get_if<ResolveError>();
        const bool ok = error != nullptr && error->code == DiagnosticCode::ErrIncludePermissionDenied &&
                        error->message == "permission denied reading template path: " +
                                              (request.root / "locked/a.md").string() &&
                        error->source != nullptr;
        return ok ? 0 : 1;
    });
    if (status == -1) {
        GTEST_SKIP() << "running as root and unable to drop privileges: permission checks cannot fail";
    }
    EXPECT_EQ(status, 0);
}

TEST_F(Resolver, FileModeHonoursAllowedRootsAndCanonicalisesTheWorkspaceRoot) {
    write(base_ / "extra" / "e.md");
    auto request = file_request(base_ / "extra" / "e.md");
    EXPECT_EQ(resolve_error(resolve_template_path(request)).code, DiagnosticCode::ErrResolveNotFound);
    request.policy.allowed_roots.push_back(ConfiningRoot{base_ / "extra"});
    EXPECT_EQ(resolve_template_path(request)->resolved_path, base_ / "extra" / "e.md");

    // A workspace root reached through a link is canonicalised before the containment test.
    write(root() / "a.md");
    fs::create_directory_symlink(root(), base_ / "w-link");
    request = file_request("a.md");
    request.root = base_ / "w-link";
    EXPECT_EQ(resolve_template_path(request)->resolved_path, root() / "a.md");
    request.mode = ComposeMode::file(base_ / "w-link" / "a.md");
    EXPECT_EQ(resolve_template_path(request)->resolved_path, root() / "a.md");
    request.mode = ComposeMode::file(base_ / "w-link" / ".." / "extra" / "e.md");
    EXPECT_EQ(resolve_error(resolve_template_path(request)).code, DiagnosticCode::ErrResolveNotFound);
}

TEST_F(Resolver, MissingRootIsAConfigErrorInFileModeOnly) {
    auto request = file_request("a.md");
    request.root = base_ / "missing";
    const auto result = resolve_template_path(request);
    ASSERT_FALSE(result.has_value());
    const auto* error = result.error().get_if<ConfigError>();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message, "failed to canonicalize root: " + (base_ / "missing").string());
    EXPECT_EQ(error->code, DiagnosticCode::ErrConfigParse);
    EXPECT_NE(error->source, nullptr);

    auto profile = profile_request(ProfileKind::Agent, "reviewer");
    profile.root = base_ / "missing";
    const auto not_found = resolve_error(resolve_template_path(profile));
    EXPECT_EQ(not_found.message, "no Agent profile named `reviewer` was found");
    EXPECT_EQ(not_found.attempted_paths.size(), 18U);
}

// The expected directories, written out independently of the resolver's table.
struct MatrixCase {
    std::optional<RuntimeKind> runtime;
    ProfileKind kind;
    std::vector<std::string> directories;
};

TEST_F(Resolver, ProfileSearchFollowsTheRuntimeTableAndProbes) {
    const std::vector<MatrixCase> cases = {
        {RuntimeKind::Claude, ProfileKind::Agent, {".claude/agents", ".agents/agents"}},
        {RuntimeKind::Claude, ProfileKind::Command, {".claude/commands", ".agents/commands"}},
        {RuntimeKind::Claude, ProfileKind::Skill, {".claude/skills", ".agents/skills"}},
        {RuntimeKind::Hermes, ProfileKind::Agent, {".hermes/agents", ".agents/agents", ".claude/agents"}},
        {RuntimeKind::Hermes,
         ProfileKind::Command,
         {".hermes/commands", ".agents/commands", ".claude/commands"}},
        {RuntimeKind::Hermes, ProfileKind::Skill, {".hermes/skills", ".agents/skills", ".claude/skills"}},
        {RuntimeKind::Codex, ProfileKind::Agent, {".codex/agents", ".agents/agents", ".claude/agents"}},
        {RuntimeKind::Codex,
         ProfileKind::Command,
         {".codex/commands", ".agents/commands", ".claude/commands"}},
        {RuntimeKind::Codex, ProfileKind::Skill, {".codex/skills", ".agents/skills", ".claude/skills"}},
        {RuntimeKind::Gemini, ProfileKind::Agent, {".gemini/agents", ".agents/agents", ".claude/agents"}},
        {RuntimeKind::Gemini,
         ProfileKind::Command,
         {".gemini/commands", ".agents/commands", ".claude/commands"}},
        {RuntimeKind::Gemini, ProfileKind::Skill, {".gemini/skills", ".agents/skills", ".claude/skills"}},
        {RuntimeKind::Opencode, ProfileKind::Agent, {".opencode/agents", ".agents/agents", ".claude/agents"}},
        {RuntimeKind::Opencode,
         ProfileKind::Command,
         {".opencode/commands", ".agents/commands", ".claude/commands"}},
        {RuntimeKind::Opencode, ProfileKind::Skill, {".opencode/skills", ".agents/skills", ".claude/skills"}},
        {std::nullopt,
         ProfileKind::Agent,
         {".claude/agents", ".agents/agents", ".hermes/agents", ".codex/agents", ".gemini/agents",
          ".opencode/agents"}},
        {std::nullopt,
         ProfileKind::Command,
         {".claude/commands", ".agents/commands", ".hermes/commands", ".codex/commands", ".gemini/commands",
          ".opencode/commands"}},
        {std::nullopt,
         ProfileKind::Skill,
         {".claude/skills", ".agents/skills", ".hermes/skills", ".codex/skills", ".gemini/skills",
          ".opencode/skills"}},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> probes =
            c.kind == ProfileKind::Skill
                ? std::vector<std::string>{"p/SKILL.md.j2", "p/SKILL.md", "p/SKILL.j2"}
                : std::vector<std::string>{"p.md.j2", "p.md", "p.j2"};
        std::vector<std::string> expected;
        for (const auto& directory : c.directories) {
            for (const auto& probe : probes) {
                expected.push_back(directory + "/" + probe);
            }
        }
        const auto error = resolve_error(resolve_template_path(profile_request(c.kind, "p", c.runtime)));
        EXPECT_EQ(error.attempted_paths, under_root(expected))
            << (c.runtime ? as_str(*c.runtime) : "no runtime") << " " << as_str(c.kind);
        EXPECT_EQ(error.code, DiagnosticCode::ErrResolveNotFound);
        EXPECT_EQ(error.source, nullptr);
    }
}

TEST_F(Resolver, ProfileResolvesTheSingleMatchAfterSearchingEverywhere) {
    write(root() / ".agents/agents/reviewer.md");
    const auto result = resolve_template_path(profile_request(ProfileKind::Agent, "reviewer"));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->resolved_path, root() / ".agents/agents/reviewer.md");
    EXPECT_EQ(result->attempted_paths.size(), 18U) << "the search does not stop at the first match";
    EXPECT_EQ(result->attempted_paths[4], root() / ".agents/agents/reviewer.md");
    EXPECT_TRUE(result->ambiguity_candidates.empty());

    write(root() / ".claude/skills/pdf/SKILL.md.j2");
    write(root() / ".claude/skills/pdf.md");
    EXPECT_EQ(resolve_template_path(profile_request(ProfileKind::Skill, "pdf"))->resolved_path,
              root() / ".claude/skills/pdf/SKILL.md.j2");

    // A directory that looks like a probe is not a match.
    fs::create_directories(root() / ".claude/commands/deploy.md");
    EXPECT_EQ(resolve_error(resolve_template_path(profile_request(ProfileKind::Command, "deploy"))).code,
              DiagnosticCode::ErrResolveNotFound);
}

TEST_F(Resolver, ProbesWithNulBytesMatchNothing) {
    // Truncated at the NUL, "x\0.md" would name the file "x".
    write(root() / ".claude/agents/x");
    auto request = profile_request(ProfileKind::Agent, "x", RuntimeKind::Claude);
    request.mode = ComposeMode::profile(ProfileKind::Agent, *ProfileName::create(std::string("x\0", 2)));
    EXPECT_EQ(resolve_error(resolve_template_path(request)).code, DiagnosticCode::ErrResolveNotFound);
}

TEST_F(Resolver, SeveralDistinctMatchesAreAmbiguous) {
    write(root() / ".claude/agents/reviewer.md.j2");
    write(root() / ".codex/agents/reviewer.md");
    const char* message = "multiple Agent profiles named `reviewer` matched; specify a runtime";
    for (const auto runtime : {std::optional<RuntimeKind>{}, std::optional{RuntimeKind::Codex}}) {
        const auto& error =
            resolve_error(resolve_template_path(profile_request(ProfileKind::Agent, "reviewer", runtime)));
        EXPECT_EQ(error.message, message);
        EXPECT_EQ(error.code, DiagnosticCode::ErrResolveAmbiguous);
        EXPECT_FALSE(error.attempted_paths.empty());
    }
    EXPECT_EQ(resolve_template_path(profile_request(ProfileKind::Agent, "reviewer", RuntimeKind::Claude))
                  ->resolved_path,
              root() / ".claude/agents/reviewer.md.j2");

    // Two probes in one directory are two matches, not a preference order.
    write(root() / ".claude/agents/reviewer.md");
    EXPECT_EQ(resolve_error(
                  resolve_template_path(profile_request(ProfileKind::Agent, "reviewer", RuntimeKind::Claude)))
                  .code,
              DiagnosticCode::ErrResolveAmbiguous);
}

TEST_F(Resolver, MatchesAreComparedByCanonicalPath) {
    write(root() / ".claude/agents/reviewer.md");
    fs::create_directories(root() / ".agents");
    fs::create_directory_symlink(root() / ".claude/agents", root() / ".agents/agents");
    const auto result =
        resolve_template_path(profile_request(ProfileKind::Agent, "reviewer", RuntimeKind::Claude));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->resolved_path, root() / ".claude/agents/reviewer.md");
}

TEST_F(Resolver, PolicyOverridesReplaceDirectoriesAndProbes) {
    write(root() / "prompts/custom.txt");
    write(base_ / "shared/custom.txt");
    auto request = profile_request(ProfileKind::Agent, "ignored", RuntimeKind::Codex);
    request.policy.resolver_policy.candidate_directories = {"prompts", base_ / "shared"};
    request.policy.resolver_policy.filename_probes = {"custom.txt", "other.md"};
    const auto error = resolve_error(resolve_template_path(request));
    EXPECT_EQ(error.code, DiagnosticCode::ErrResolveAmbiguous);
    EXPECT_EQ(error.attempted_paths,
              (std::vector<fs::path>{root() / "prompts/custom.txt", root() / "prompts/other.md",
                                     base_ / "shared/custom.txt", base_ / "shared/other.md"}));

    // Only directories replaced: the default probes for the name apply there.
    request.policy.resolver_policy.filename_probes.clear();
    write(root() / "prompts/ignored.j2");
    EXPECT_EQ(resolve_template_path(request)->resolved_path, root() / "prompts/ignored.j2");

    // An absolute probe replaces the directory, and repeated candidates are attempted once.
    request.policy.resolver_policy.filename_probes = {base_ / "shared/custom.txt"};
    const auto result = resolve_template_path(request);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->resolved_path, base_ / "shared/custom.txt");
    EXPECT_EQ(result->attempted_paths, std::vector<fs::path>{base_ / "shared/custom.txt"});
}

struct RecordingObserver final : CompositionObserver {
    std::vector<std::string> starts;
    std::vector<ResolveOutcomeEvent> outcomes;
    void on_resolve_start(std::string_view target) override { starts.emplace_back(target); }
    void on_resolve_outcome(const ResolveOutcomeEvent& event) override { outcomes.push_back(event); }
};

// Overriding a single hook is enough to be an observer.
struct PassEndOnly final : CompositionObserver {
    int ends = 0;
    void on_pass_end(const PassEvent&) override { ++ends; }
};

TEST_F(Resolver, ProfileResolutionReportsToTheObserver) {
    write(root() / ".claude/skills/pdf/SKILL.md");
    RecordingObserver observer;
    const auto result = resolve_profile_with_observer(profile_request(ProfileKind::Skill, "pdf"), observer);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(observer.starts, std::vector<std::string>{"Skill:pdf"});
    ASSERT_EQ(observer.outcomes.size(), 1U);
    EXPECT_EQ(observer.outcomes[0],
              (ResolveOutcomeEvent{result->attempted_paths, result->resolved_path, std::nullopt}));

    const auto failed =
        resolve_profile_with_observer(profile_request(ProfileKind::Agent, "nobody"), observer);
    const auto error = resolve_error(failed);
    EXPECT_EQ(observer.starts.back(), "Agent:nobody");
    ASSERT_EQ(observer.outcomes.size(), 2U);
    EXPECT_EQ(observer.outcomes[1],
              (ResolveOutcomeEvent{error.attempted_paths, std::nullopt, DiagnosticCode::ErrResolveNotFound}));

    PassEndOnly quiet;
    EXPECT_TRUE(resolve_profile_with_observer(profile_request(ProfileKind::Skill, "pdf"), quiet).has_value());
    EXPECT_EQ(quiet.ends, 0);
    EXPECT_EQ(resolve_profile(profile_request(ProfileKind::Skill, "pdf"))->resolved_path,
              root() / ".claude/skills/pdf/SKILL.md");
}

TEST_F(Resolver, ResolveProfileRefusesFileModeWithoutCallingTheObserver) {
    write(root() / "a.md");
    RecordingObserver observer;
    const auto result = resolve_profile_with_observer(file_request("a.md"), observer);
    ASSERT_FALSE(result.has_value());
    const auto* error = result.error().get_if<ConfigError>();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message, "resolve_profile requires profile mode");
    EXPECT_EQ(error->code, DiagnosticCode::ErrConfigMode);
    EXPECT_TRUE(observer.starts.empty());
    EXPECT_TRUE(observer.outcomes.empty());
}

TEST_F(Resolver, CanonicalizeWithRootsMapsOutcomesLikeFileMode) {
    write(root() / "a.md");
    write(base_ / "extra/e.md");
    const std::vector<fs::path> allowed = {base_ / "extra"};
    EXPECT_EQ(canonicalize_with_roots("a.md", root(), allowed), root() / "a.md");
    EXPECT_EQ(canonicalize_with_roots(base_ / "extra/e.md", root(), allowed), base_ / "extra/e.md");
    const auto escaped = canonicalize_with_roots(base_ / "extra/e.md", root(), {});
    ASSERT_FALSE(escaped.has_value());
    EXPECT_EQ(escaped.error().message(),
              "template path escapes configured roots: " + (base_ / "extra/e.md").string());
    const auto no_root = canonicalize_with_roots("a.md", base_ / "missing", allowed);
    ASSERT_FALSE(no_root.has_value());
    EXPECT_EQ(no_root.error().code(), DiagnosticCode::ErrConfigParse);
}

}  // namespace
