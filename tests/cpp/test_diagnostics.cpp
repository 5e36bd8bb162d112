#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "composer/diagnostics/filesystem.hpp"
#include "composer/diagnostics/record.hpp"
#include "composer/diagnostics/schema.hpp"
#include "composer/utf8.hpp"

using namespace zelk::composer;
namespace fs = std::filesystem;

TEST(DiagnosticCode, HasEightyOneDistinctTextsInDeclarationOrder) {
    std::set<std::string_view> texts;
    for (const DiagnosticCode code : all_diagnostic_codes()) {
        texts.insert(as_str(code));
        EXPECT_EQ(diagnostic_code_from_str(as_str(code)), code);
    }
    EXPECT_EQ(texts.size(), 81u);
    EXPECT_EQ(as_str(DiagnosticCode::ErrResolveNotFound), "ERR_RESOLVE_NOT_FOUND");
    EXPECT_EQ(static_cast<int>(DiagnosticCode::ErrValEmpty), 20);
    EXPECT_EQ(as_str(DiagnosticCode::ErrValEmpty), "ERR_VAL_EMPTY");
    EXPECT_EQ(static_cast<int>(DiagnosticCode::InfoValDefaultUsed), 29);
    EXPECT_EQ(as_str(DiagnosticCode::InfoValDefaultUsed), "INFO_VAL_DEFAULT_USED");
    EXPECT_EQ(as_str(DiagnosticCode::ErrExtractXmlChildStructureMismatch),
              "ERR_EXTRACT_XML_CHILD_STRUCTURE_MISMATCH");
    EXPECT_EQ(as_str(DiagnosticCode::ErrExtractTomlAmbiguous), "ERR_EXTRACT_TOML_AMBIGUOUS");
    EXPECT_FALSE(diagnostic_code_from_str("ERR_NOPE").has_value());
}

TEST(DiagnosticCode, NineCodesStayOutOfThePythonEnumeration) {
    std::set<int> outside;
    for (const DiagnosticCode code : all_diagnostic_codes()) {
        if (!in_python_enumeration(code)) {
            outside.insert(static_cast<int>(code));
        }
    }
    EXPECT_EQ(outside, (std::set<int>{4, 5, 6, 9, 14, 25, 36, 37, 41}));
}

TEST(DiagnosticSeverity, TextForms) {
    EXPECT_EQ(as_str(DiagnosticSeverity::Error), "error");
    EXPECT_EQ(as_str(DiagnosticSeverity::Warning), "warning");
    EXPECT_EQ(as_str(DiagnosticSeverity::Info), "info");
}

TEST(Diagnostic, CreateAndWithPath) {
    const auto d =
        Diagnostic::create(DiagnosticSeverity::Warning, DiagnosticCode::ErrValMissingFrontmatter, "m");
    EXPECT_FALSE(d.path || d.line || d.column);
    EXPECT_TRUE(d.include_chain.empty());
    auto with = d.with_path("a.j2").with_path("b.j2");
    EXPECT_EQ(with.path, fs::path("b.j2"));
    with.path.reset();
    EXPECT_EQ(with, d);
}

TEST(FormatDiagnosticMessage, LocationAndChainParts) {
    auto d =
        Diagnostic::create(DiagnosticSeverity::Error, DiagnosticCode::ErrValMissingRequired, "missing x");
    EXPECT_EQ(format_diagnostic_message(d), "ERR_VAL_MISSING_REQUIRED: missing x");

    d.path = "t/a.j2";
    d.line = 3;
    EXPECT_EQ(format_diagnostic_message(d), "ERR_VAL_MISSING_REQUIRED: missing x | location=t/a.j2");
    d.line.reset();
    d.column = 4;
    EXPECT_EQ(format_diagnostic_message(d), "ERR_VAL_MISSING_REQUIRED: missing x | location=t/a.j2");
    d.line = 3;
    EXPECT_EQ(format_diagnostic_message(d), "ERR_VAL_MISSING_REQUIRED: missing x | location=t/a.j2:3:4");

    d.include_chain = {"root.j2", "t\\a.j2"};
    EXPECT_EQ(format_diagnostic_message(d),
              "ERR_VAL_MISSING_REQUIRED: missing x | location=t/a.j2:3:4 | include_chain=root.j2 -> t\\a.j2");
    d.path.reset();
    EXPECT_EQ(format_diagnostic_message(d),
              "ERR_VAL_MISSING_REQUIRED: missing x | include_chain=root.j2 -> t\\a.j2");
}

TEST(FormatDiagnosticMessage, NonUtf8PathShownLossily) {
    auto d = Diagnostic::create(DiagnosticSeverity::Error, DiagnosticCode::ErrValEmpty, "empty");
    d.path = fs::path(std::string("bad\xFF.j2"));
    EXPECT_EQ(format_diagnostic_message(d), "ERR_VAL_EMPTY: empty | location=bad\xEF\xBF\xBD.j2");
}

TEST(Utf8Lossy, ReplacesEachMaximalSubpart) {
    struct Case {
        std::string in, out;
    };
    const std::string r = "\xEF\xBF\xBD";
    for (const auto& [in, out] : std::initializer_list<Case>{
             {"plain", "plain"},
             {"\xC3\xA4", "\xC3\xA4"},
             {"a\xFF"
              "b",
              "a" + r + "b"},
             {"\xE2\x82", r},  // truncated three-byte sequence: one replacement
             {"\xE2\x82"
              "A",
              r + "A"},
             {"\xED\xA0\x80", r + r + r},  // surrogate: every byte is its own subpart
             {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
             {"\xC0\xAF", r + r},  // overlong
         }) {
        EXPECT_EQ(utf8_lossy(in), out) << in;
    }
    EXPECT_EQ(utf8_first_invalid("ab\xFF"), 2u);
    EXPECT_FALSE(utf8_first_invalid("ok").has_value());
}

class ClassifyFilesystemError : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zelk-classify-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(ClassifyFilesystemError, ChecksInOrder) {
    const auto err = [](int e) { return std::error_code(e, std::generic_category()); };
    const fs::path file = dir_ / "f.j2";
    // An existing directory wins over whatever the error says.
    EXPECT_EQ(classify_filesystem_error(dir_, err(EACCES)), FilesystemErrorClass::IsADirectory);
    EXPECT_EQ(classify_filesystem_error(file, err(EACCES)), FilesystemErrorClass::PermissionDenied);
    EXPECT_EQ(classify_filesystem_error(file, err(EPERM)), FilesystemErrorClass::PermissionDenied);
    EXPECT_EQ(classify_filesystem_error(file, err(EISDIR)), FilesystemErrorClass::IsADirectory);
    EXPECT_EQ(classify_filesystem_error(file, err(EILSEQ)), FilesystemErrorClass::InvalidUtf8);
    EXPECT_EQ(classify_filesystem_error(file, std::error_code(ELOOP, std::system_category())),
              FilesystemErrorClass::FilesystemLoop);
    EXPECT_EQ(classify_filesystem_error(file, err(ENOENT)), FilesystemErrorClass::Other);
}

TEST_F(ClassifyFilesystemError, RealSymlinkLoop) {
    const fs::path a = dir_ / "a";
    const fs::path b = dir_ / "b";
    fs::create_symlink(b, a);
    fs::create_symlink(a, b);
    const int fd = ::open(a.c_str(), O_RDONLY);
    ASSERT_EQ(fd, -1);
    EXPECT_EQ(classify_filesystem_error(a, std::error_code(errno, std::generic_category())),
              FilesystemErrorClass::FilesystemLoop);
}
