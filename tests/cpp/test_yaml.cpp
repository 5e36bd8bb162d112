// The YAML reader: scalar typing, tags, aliases, limits, and conversion into input values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <fmt/format.h>

#include "composer/yaml/metadata.hpp"
#include "composer/yaml/reader.hpp"
#include "composer/yaml/scalar.hpp"

namespace zelk::composer::yaml {
namespace {

MetadataValue parse_ok(std::string_view text) {
    auto value = parse_metadata_value(text);
    EXPECT_TRUE(value.has_value()) << text << ": " << (value ? "" : value.error().display());
    return value ? *value : MetadataValue{};
}

TEST(YamlScalarTyping, PlainScalarsFollowTheRulesInOrder) {
    using S = ScalarValue;
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::string_view text;
        S expected;
    };
    const Case cases[] = {
        {"", S{}},
        {"~", S{}},
        {"null", S{}},
        {"Null", S{}},
        {"NULL", S{}},
        {"nULL", S{std::string("nULL")}},
        {"true", S{true}},
        {"True", S{true}},
        {"FALSE", S{false}},
        {"yes", S{std::string("yes")}},
        {"on", S{std::string("on")}},
        {"0", S{std::int64_t{0}}},
        {"-0", S{std::int64_t{0}}},
        {"+42", S{std::int64_t{42}}},
        {"0x1F", S{std::int64_t{31}}},
        {"0x1f", S{std::int64_t{31}}},
        {"-0x1F", S{std::int64_t{-31}}},
        {"0X1F", S{std::string("0X1F")}},
        {"0o17", S{std::int64_t{15}}},
        {"0b101", S{std::int64_t{5}}},
        {"0b102", S{std::string("0b102")}},
        {"0x", S{std::string("0x")}},
        {"0123", S{std::string("0123")}},
        {"-07", S{std::string("-07")}},
        {"+-1", S{std::string("+-1")}},
        {"9223372036854775807", S{std::int64_t{9223372036854775807}}},
        {"9223372036854775808", S{std::uint64_t{9223372036854775808ULL}}},
        {"18446744073709551615", S{std::uint64_t{18446744073709551615ULL}}},
        {"-9223372036854775808", S{std::numeric_limits<std::int64_t>::min()}},
        {"1e3", S{1000.0}},
        {"1.5", S{1.5}},
        {"-.5", S{-0.5}},
        {"5.", S{5.0}},
        {"01.5", S{1.5}},
        {"1E-2", S{0.01}},
        {"1e-999", S{0.0}},
        {".inf", S{inf}},
        {"-.Inf", S{-inf}},
        {"+.INF", S{inf}},
        {"1e999", S{std::string("1e999")}},
        {"inf", S{std::string("inf")}},
        {"nan", S{std::string("nan")}},
        {"+.nan", S{std::string("+.nan")}},
        {"1_000", S{std::string("1_000")}},
        {"1.5e", S{std::string("1.5e")}},
        {".", S{std::string(".")}},
        {"12abc", S{std::string("12abc")}},
    };
    for (const Case& c : cases) {
        auto typed = type_plain_scalar(c.text);
        ASSERT_TRUE(typed.has_value()) << c.text;
        EXPECT_EQ(*typed, c.expected) << "text: `" << c.text << "`";
    }
    auto nan = type_plain_scalar(".NaN");
    ASSERT_TRUE(nan && std::holds_alternative<double>(*nan));
    EXPECT_TRUE(std::isnan(std::get<double>(*nan)));
}

TEST(YamlScalarTyping, IntegersBeyondSixtyFourBitsAreRefused) {
    for (std::string_view text : {"18446744073709551616", "-9223372036854775809", "0x1FFFFFFFFFFFFFFFF"}) {
        auto typed = type_plain_scalar(text);
        ASSERT_FALSE(typed.has_value()) << text;
        EXPECT_NE(typed.error().find("does not fit in 64 bits"), std::string::npos);
    }
}

TEST(YamlScalarTyping, TagsForceOrWrapTypes) {
    auto value = parse_ok(
        "a: '12'\n"
        "b: \"true\"\n"
        "c: |\n  5\n"
        "d: !!str 7\n"
        "e: !!int \"8\"\n"
        "f: !!float 1\n"
        "g: ! 9\n"
        "h: !custom 5\n"
        "i: !!seq [1]\n");
    const auto& mapping = std::get<MetadataValue::Mapping>(value.data);
    ASSERT_EQ(mapping.size(), 9u);
    EXPECT_EQ(mapping[0].value, MetadataValue{std::string("12")});
    EXPECT_EQ(mapping[1].value, MetadataValue{std::string("true")});
    EXPECT_EQ(mapping[2].value, MetadataValue{std::string("5\n")});
    EXPECT_EQ(mapping[3].value, MetadataValue{std::string("7")});
    EXPECT_EQ(mapping[4].value, MetadataValue{std::int64_t{8}});
    EXPECT_EQ(mapping[5].value, MetadataValue{1.0});
    EXPECT_EQ(mapping[6].value, MetadataValue{std::string("9")});
    const auto* tagged = mapping[7].value.get_if<MetadataValue::Tagged>();
    ASSERT_NE(tagged, nullptr);
    EXPECT_EQ(tagged->tag, "!custom");
    EXPECT_EQ(*tagged->value, MetadataValue{std::int64_t{5}});
    EXPECT_EQ(mapping[8].value, MetadataValue{MetadataValue::Sequence{MetadataValue{std::int64_t{1}}}});

    for (std::string_view bad : {"!!bool yes", "!!int 1.5", "!!null 0", "!!float abc"}) {
        auto failed = parse_metadata_value(bad);
        ASSERT_FALSE(failed.has_value()) << bad;
        EXPECT_NE(failed.error().message.find("invalid value"), std::string::npos)
            << failed.error().display();
    }
}

TEST(YamlReader, AliasesAreExpandedAndRepeatedKeysKept) {
    auto value = parse_ok("base: &b {x: 1}\ncopy: *b\nk: 1\nk: 2\n");
    const auto& mapping = std::get<MetadataValue::Mapping>(value.data);
    ASSERT_EQ(mapping.size(), 4u);
    EXPECT_EQ(mapping[0].value, mapping[1].value);
    auto converted = input_value_from_yaml(value);
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(converted->get_if<InputValue::Object>()->at("k"), InputValue(2));
}

TEST(YamlReader, ErrorsCarryTheirPosition) {
    struct Case {
        std::string_view text;
        std::string_view fragment;
    };
    const Case cases[] = {
        {"a: [1, 2\n", "line"},
        {"a: *missing\n", "unknown anchor `missing`"},
        {"a: &x [*x]\n", "unknown anchor `x`"},
        {"a: 1\n---\nb: 2\n", "more than one"},
        {"a: \"\\xff\xff\"\n", "byte"},
        {"a: b: c\n", "line 1"},
    };
    for (const Case& c : cases) {
        auto value = parse_metadata_value(c.text);
        ASSERT_FALSE(value.has_value()) << c.text;
        EXPECT_NE(value.error().display().find(c.fragment), std::string::npos) << value.error().display();
    }
}

TEST(YamlReader, EmptyStreamsAreNullAndStreamsCanBeWalked) {
    EXPECT_TRUE(parse_ok("").is_null());
    EXPECT_TRUE(parse_ok("# only a comment\n").is_null());
    DocumentReader reader("a\n---\nb\n");
    auto first = reader.next_document();
    auto second = reader.next_document();
    auto end = reader.next_document();
    ASSERT_TRUE(first && *first && second && *second && end);
    EXPECT_EQ((*first)->text, "a");
    EXPECT_EQ((*second)->text, "b");
    EXPECT_EQ((*second)->mark, (Mark{3, 1}));
    EXPECT_FALSE(end->has_value());
}

TEST(YamlReader, HostileNestingEndsInAnError) {
    const std::size_t depth = 100000;
    const std::string flow = std::string(depth, '[') + std::string(depth, ']');
    std::string block;
    for (std::size_t i = 0; i < 2000; ++i) {
        block += std::string(i, ' ') + "k:\n";
    }
    std::string dashes;
    for (std::size_t i = 0; i < depth; ++i) {
        dashes += "- ";
    }
    for (const std::string& text : {flow, block, dashes + "x"}) {
        auto value = parse_metadata_value(text);
        ASSERT_FALSE(value.has_value());
        EXPECT_EQ(value.error().message, "YAML nesting depth exceeds the maximum of 1000");
    }
    // At the limit itself the document is read.
    const std::string deepest = std::string(kMaxValueDepth, '[') + std::string(kMaxValueDepth, ']');
    EXPECT_TRUE(parse_metadata_value(deepest).has_value());
}

TEST(YamlReader, AliasesCannotNestBeyondTheLimit) {
    const std::string inner = std::string(600, '[') + std::string(600, ']');
    auto value = parse_metadata_value("a: &x " + inner + "\nb: " + std::string(500, '[') + "*x" +
                                      std::string(500, ']') + "\n");
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().message, "YAML nesting depth exceeds the maximum of 1000");
}

TEST(YamlReader, AliasBombsEndInAnError) {
    std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
    for (char name = 'b'; name <= 'j'; ++name) {
        const char previous = static_cast<char>(name - 1);
        bomb += fmt::format("{0}: &{0} [*{1}, *{1}, *{1}, *{1}, *{1}, *{1}, *{1}, *{1}, *{1}, *{1}]\n", name,
                            previous);
    }
    auto value = parse_metadata_value(bomb);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().message, "YAML anchors and aliases expand to too many nodes");
}

TEST(YamlInputValues, TextConversionReportsTheFailureClass) {
    auto number = input_value_from_yaml_text("1");
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(*number, InputValue(1));
    EXPECT_EQ(*input_value_from_yaml_text("1.5"), InputValue(1.5));
    EXPECT_EQ(*input_value_from_yaml_text("!tag 5"), InputValue(5));

    struct Case {
        std::string_view text;
        DiagnosticCode code;
        std::string_view message;
        bool validation;
    };
    const Case cases[] = {
        {".inf", DiagnosticCode::ErrValObjectShape, "expected a JSON-compatible number", true},
        {"[1, .nan]", DiagnosticCode::ErrValObjectShape, "expected a JSON-compatible number", true},
        {"{1: a}", DiagnosticCode::ErrValObjectShape, "expected object/map keys to be strings", true},
        {"{a: {[1]: b}}", DiagnosticCode::ErrValObjectShape, "expected object/map keys to be strings", true},
        {"a: [", DiagnosticCode::ErrConfigParse, "", false},
    };
    for (const Case& c : cases) {
        auto failed = input_value_from_yaml_text(c.text);
        ASSERT_FALSE(failed.has_value()) << c.text;
        EXPECT_EQ(failed.error().code(), c.code) << c.text;
        EXPECT_EQ(failed.error().get_if<ValidationError>() != nullptr, c.validation) << c.text;
        EXPECT_EQ(failed.error().get_if<ConfigError>() != nullptr, !c.validation) << c.text;
        if (!c.message.empty()) {
            EXPECT_EQ(failed.error().message(), c.message);
        }
    }
}

TEST(YamlInputValues, MappingsBecomeObjectsInKeyOrder) {
    auto value = input_value_from_yaml_text("b: 1\na: [x, {z: null, y: true}]\n");
    ASSERT_TRUE(value.has_value());
    const InputValue expected(InputValue::Object{
        {"a", InputValue(InputValue::Array{InputValue("x"),
                                           InputValue(InputValue::Object{{"y", true}, {"z", nullptr}})})},
        {"b", InputValue(1)},
    });
    EXPECT_EQ(*value, expected);
    EXPECT_EQ(value->get_if<InputValue::Object>()->begin()->first, "a");
}

}  // namespace
}  // namespace zelk::composer::yaml
