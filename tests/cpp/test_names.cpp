#include <gtest/gtest.h>

#include <set>
#include <string>

#include "composer/types.hpp"

using zelk::composer::ProfileName;
using zelk::composer::VariableName;

TEST(VariableName, AcceptsAsciiNameCharactersInAnyPosition) {
    for (const char* text : {"a", "A_1", "9lives", "-x", "user.name", "a-b.c_d", "."}) {
        const auto name = VariableName::create(std::string(text));
        ASSERT_TRUE(name.has_value()) << text;
        EXPECT_EQ(name->as_str(), text);
    }
}

TEST(VariableName, RejectsEverythingElseAndKeepsTheText) {
    for (const char* text : {"", "a b", "a/b", "na\xC3\xAFve", "x{y}", "\xC3\xA4", "tab\t"}) {
        const auto name = VariableName::create(std::string(text));
        ASSERT_FALSE(name.has_value()) << text;
        EXPECT_EQ(name.error().text, text);
    }
    EXPECT_EQ(VariableName::create("a b").error().display(), "invalid variable name `a b`");
}

TEST(VariableName, EmbeddedNulIsRejected) {
    const auto name = VariableName::create(std::string("a\0b", 3));
    ASSERT_FALSE(name.has_value());
    EXPECT_EQ(name.error().text.size(), 3u);
}

TEST(VariableName, OrdersBytewise) {
    std::set<VariableName> names;
    for (const char* text : {"b", "a", "B", "_", "a.b", "a-b", "b"}) {
        names.insert(*VariableName::create(text));
    }
    std::string joined;
    for (const auto& n : names) {
        joined += n.as_str() + " ";
    }
    EXPECT_EQ(joined, "B _ a a-b a.b b ");
}

TEST(ProfileName, RejectsOnlyEmptyAndSeparators) {
    for (const char* text : {"..", "my agent", "x.y", "\xC3\xA4"}) {
        EXPECT_TRUE(ProfileName::create(text).has_value()) << text;
    }
    for (const char* text : {"", "a/b", "a\\b", "/"}) {
        const auto name = ProfileName::create(text);
        ASSERT_FALSE(name.has_value()) << text;
        EXPECT_EQ(name.error().display(), std::string("invalid profile name `") + text + "`");
    }
}
