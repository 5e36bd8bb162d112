#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "composer/error.hpp"

using namespace zelk::composer;

namespace {

// An engine-like error whose own source continues the chain.
struct FakeEngineError {
    std::string text;
    ErrorSource source;
    std::string display() const { return text; }
};

std::size_t count(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

class WithoutBacktrace : public ::testing::Test {
  protected:
    void SetUp() override { ::unsetenv("ZELK_BACKTRACE"); }
};

}  // namespace

TEST(RecoveryHint, Descriptions) {
    EXPECT_EQ(RecoveryHint(RecoveryHint::RunCommand{"zelk-compose init"}).description(),
              "run command: zelk-compose init");
    EXPECT_EQ(RecoveryHint(RecoveryHint::InspectPath{std::string("a/b\xFF")}).description(),
              "inspect path: a/b\xEF\xBF\xBD");
    EXPECT_EQ(RecoveryHint(RecoveryHint::ProvideVariable{*VariableName::create("user.name")}).description(),
              "provide variable: user.name");
    EXPECT_EQ(RecoveryHint(RecoveryHint::ReviewConfiguration{"frontmatter"}).description(),
              "review configuration: frontmatter");
    EXPECT_EQ(RecoveryHint(RecoveryHint::FixInput{"close the tag"}).description(), "close the tag");
    EXPECT_EQ(RecoveryHint(RecoveryHint::Disambiguate{"add a marker"}).description(), "add a marker");
    EXPECT_EQ(RecoveryHint(RecoveryHint::FixTemplate{"drop the loop"}).description(), "drop the loop");
}

TEST_F(WithoutBacktrace, FromDiagnosticsOfNothing) {
    const auto e = ValidationError::from_diagnostics({});
    EXPECT_EQ(e.code, DiagnosticCode::ErrValEmpty);
    EXPECT_EQ(e.message, "");
    EXPECT_TRUE(e.recovery_hints.empty());
    EXPECT_TRUE(e.diagnostics.empty());
    EXPECT_EQ(e.display(), "\nbacktrace:\ndisabled backtrace");
}

TEST_F(WithoutBacktrace, FromDiagnosticsTakesFirstCodeAndFirstPath) {
    auto first =
        Diagnostic::create(DiagnosticSeverity::Error, DiagnosticCode::ErrValMissingRequired, "missing a");
    auto second = Diagnostic::create(DiagnosticSeverity::Error, DiagnosticCode::ErrValExtraInput, "extra b")
                      .with_path("x.j2");
    auto third =
        Diagnostic::create(DiagnosticSeverity::Error, DiagnosticCode::ErrValEmpty, "e").with_path("y.j2");
    const auto e = ValidationError::from_diagnostics({first, second, third});
    EXPECT_EQ(e.code, DiagnosticCode::ErrValMissingRequired);
    EXPECT_EQ(e.message,
              "ERR_VAL_MISSING_REQUIRED: missing a\nERR_VAL_EXTRA_INPUT: extra b | location=x.j2\n"
              "ERR_VAL_EMPTY: e | location=y.j2");
    ASSERT_EQ(e.recovery_hints.size(), 1u);
    EXPECT_EQ(e.recovery_hints[0], RecoveryHint(RecoveryHint::InspectPath{"x.j2"}));
    EXPECT_EQ(e.diagnostics.size(), 3u);
    EXPECT_EQ(e.diagnostics[1], second);
}

TEST_F(WithoutBacktrace, DuplicateVariable) {
    const auto e = ValidationError::duplicate_variable(*VariableName::create("name"));
    EXPECT_EQ(e.code, DiagnosticCode::ErrValDuplicate);
    EXPECT_EQ(e.message, "duplicate frontmatter variable declaration: name");
    EXPECT_TRUE(e.diagnostics.empty());
    ASSERT_EQ(e.recovery_hints.size(), 1u);
    EXPECT_EQ(e.recovery_hints[0].description(), "review configuration: required_variables");
}

TEST_F(WithoutBacktrace, DisplayWalksTheWholeCauseChain) {
    const ErrorSource inner = make_source(std::error_code(ENOENT, std::generic_category()));
    ComposeError e = ConfigError::create(DiagnosticCode::ErrConfigRead, "cannot read t.j2")
                         .with_source(make_source(FakeEngineError{"outer cause", inner}));
    EXPECT_EQ(e.display(),
              "cannot read t.j2\ncaused by:\n- outer cause\n- No such file or directory (os error 2)"
              "\nbacktrace:\ndisabled backtrace");
    EXPECT_EQ(count(e.display(), "\n- "), 2u);
    EXPECT_EQ(e.code(), DiagnosticCode::ErrConfigRead);
    EXPECT_EQ(e.message(), "cannot read t.j2");
}

TEST_F(WithoutBacktrace, WithSourceReplacesTheEarlierSource) {
    const auto e = IncludeError::create(DiagnosticCode::ErrIncludeCycle, "cycle", {"a.j2", "b.j2"})
                       .with_source(make_source(std::string("first")))
                       .with_source(make_source(std::string("second")));
    EXPECT_EQ(e.display(), "cycle\ncaused by:\n- second\nbacktrace:\ndisabled backtrace");
    EXPECT_EQ(e.include_chain.size(), 2u);
    const auto r = ResolveError::create(DiagnosticCode::ErrResolveNotFound, "gone", {"p.j2"})
                       .with_source(make_source(std::error_code(EILSEQ, std::generic_category())));
    EXPECT_EQ(r.display(),
              "gone\ncaused by:\n- stream did not contain valid UTF-8\nbacktrace:\ndisabled backtrace");
}

TEST_F(WithoutBacktrace, RenderErrorKeepsEngineTextButDisplaysFixedText) {
    const auto r = RenderError::render(FakeEngineError{"undefined value (in inline:3)", nullptr});
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.message, "undefined value (in inline:3)");
    ASSERT_TRUE(r.source);
    EXPECT_EQ(r.source->display(), "undefined value (in inline:3)");
    const ComposeError e = r;
    EXPECT_EQ(e.display(), "template rendering failed");
    EXPECT_FALSE(e.code().has_value());
    EXPECT_EQ(e.message(), "undefined value (in inline:3)");
}

TEST_F(WithoutBacktrace, ComposeErrorHoldsEachVariantAndCopiesDeeply) {
    const ComposeError validation = ValidationError::duplicate_variable(*VariableName::create("v"));
    ComposeError copy = validation;
    ASSERT_NE(copy.get_if<ValidationError>(), nullptr);
    EXPECT_NE(copy.get_if<ValidationError>(), validation.get_if<ValidationError>());
    EXPECT_EQ(copy.message(), validation.message());
    EXPECT_EQ(copy.get_if<ConfigError>(), nullptr);
    EXPECT_EQ(std::get<2>(copy.variant())->code, DiagnosticCode::ErrValDuplicate);

    const ComposeError resolve = ResolveError::create(DiagnosticCode::ErrResolveAmbiguous, "two", {});
    EXPECT_EQ(resolve.variant().index(), 0u);
    EXPECT_EQ(resolve.display(), "two\nbacktrace:\ndisabled backtrace");
}

TEST(Backtrace, CapturedOnlyWhenEnabled) {
    ::setenv("ZELK_BACKTRACE", "1", 1);
    const auto on = ConfigError::create(DiagnosticCode::ErrConfigParse, "x");
    ::setenv("ZELK_BACKTRACE", "0", 1);
    const auto off = ConfigError::create(DiagnosticCode::ErrConfigParse, "x");
    ::unsetenv("ZELK_BACKTRACE");
    EXPECT_TRUE(on.backtrace.captured());
    EXPECT_NE(on.backtrace.display(), "disabled backtrace");
    EXPECT_FALSE(off.backtrace.captured());
    EXPECT_EQ(off.backtrace.display(), "disabled backtrace");
}
