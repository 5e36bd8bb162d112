// The input-value model, metadata serialisation and the request records' defaults.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "composer/types.hpp"

namespace zelk::composer {
namespace {

TEST(InputValue, IntegersAreCanonicalAndCompareByValue) {
    EXPECT_NE(InputValue(std::uint64_t{5}).get_if<std::int64_t>(), nullptr);
    EXPECT_EQ(InputValue(std::uint64_t{5}), InputValue(5));
    const std::uint64_t big = std::uint64_t{1} << 63;
    EXPECT_NE(InputValue(big).get_if<std::uint64_t>(), nullptr);
    EXPECT_NE(InputValue(big), InputValue(std::numeric_limits<std::int64_t>::min()));
    EXPECT_NE(InputValue(1), InputValue(1.0));
    EXPECT_NE(InputValue(true), InputValue(1));
    EXPECT_EQ(InputValue(InputValue::Object{{"b", 1}, {"a", 2}}).get_if<InputValue::Object>()->begin()->first,
              "a");
}

TEST(InputValue, ValidationAcceptsDeepAndEmptyValuesButNotNonFiniteFloats) {
    InputValue deep = InputValue::Array{};
    for (std::size_t depth = 1; depth < kMaxValueDepth; ++depth) {
        deep = depth % 2 ? InputValue(InputValue::Object{{"k", std::move(deep)}})
                         : InputValue(InputValue::Array{std::move(deep)});
    }
    EXPECT_TRUE(validate_input_value(deep).has_value());
    EXPECT_TRUE(validate_input_value(InputValue(InputValue::Object{})).has_value());

    auto nan = validate_input_value(InputValue(InputValue::Array{std::nan("")}));
    ASSERT_FALSE(nan.has_value());
    EXPECT_EQ(nan.error().message, "floating-point values must be finite");

    InputValue too_deep = InputValue::Array{};
    for (std::size_t i = 0; i < kMaxValueDepth; ++i) {
        too_deep = InputValue(InputValue::Array{std::move(too_deep)});
    }
    auto refused = validate_input_value(too_deep);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, DiagnosticCode::ErrValObjectShape);
}

TEST(MetadataValue, KeysBecomeTextsOrFailTheConversion) {
    using M = MetadataValue;
    const M mapping{M::Mapping{
        {M{std::string("s")}, M{1.5}},
        {M{true}, M{std::numeric_limits<double>::infinity()}},
        {M{std::int64_t{-3}}, M{}},
        {M{0.1}, M{std::string("x")}},
        {M{1e20}, M{false}},
    }};
    auto json = mapping.to_json_value();
    ASSERT_TRUE(json.has_value());
    const InputValue expected(
        InputValue::Object{{"s", 1.5}, {"true", nullptr}, {"-3", nullptr}, {"0.1", "x"}, {"1e20", false}});
    EXPECT_EQ(*json, expected);

    const M bad_keys[] = {M{}, M{std::nan("")}, M{M::Sequence{}}, M{M::Mapping{}},
                          M{M::Tagged{"!t", std::make_shared<const M>()}}};
    for (const M& key : bad_keys) {
        EXPECT_FALSE((M{M::Sequence{M{M::Mapping{{key, M{}}}}}}.to_json_value().has_value()));
    }
}

TEST(MetadataValue, TaggedValuesBecomeOneEntryObjects) {
    using M = MetadataValue;
    const M local{M::Tagged{"!custom", std::make_shared<const M>(M{std::int64_t{5}})}};
    const M global{M::Tagged{"tag:example.com,2000:x", std::make_shared<const M>(M{std::string("v")})}};
    EXPECT_EQ(*local.to_json_value(), InputValue(InputValue::Object{{"!custom", 5}}));
    EXPECT_EQ(*global.to_json_value(), InputValue(InputValue::Object{{"!tag:example.com,2000:x", "v"}}));
    // Reading it as an input value drops the tag instead.
    EXPECT_EQ(*input_value_from_yaml(local), InputValue(5));
}

TEST(MetadataValue, RoundTripsInputValues) {
    const InputValue value(
        InputValue::Object{{"list", InputValue(InputValue::Array{1, "two", nullptr, 2.5})}, {"flag", true}});
    EXPECT_EQ(*MetadataValue::from_input_value(value).to_json_value(), value);
}

TEST(ShortestFloatText, MatchesTheUsualJsonLayout) {
    const std::pair<double, std::string_view> cases[] = {
        {1.0, "1.0"},           {0.5, "0.5"},
        {-2.25, "-2.25"},       {1e20, "1e20"},
        {1.5e-7, "1.5e-7"},     {0.0001, "0.0001"},
        {123456.0, "123456.0"}, {0.1 + 0.2, "0.30000000000000004"},
        {1e16, "1e16"},         {1e15, "1000000000000000.0"},
        {-0.0, "-0.0"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(shortest_float_text(value), text);
    }
}

TEST(RequestRecords, DefaultsAndTextForms) {
    const ComposePolicy policy;
    EXPECT_EQ(policy.max_include_depth, 32);
    EXPECT_EQ(policy.unknown_variable_policy, UnknownVariablePolicy::Ignore);
    EXPECT_FALSE(policy.strict_undeclared_variables);
    EXPECT_FALSE(policy.json_escape_mode.has_value());
    EXPECT_FALSE(policy.unbound_variable_policy.has_value());
    EXPECT_EQ(PassConfig{}.pass_number, 1);

    EXPECT_EQ(as_str(VariableSource::TemplateInputDefault), "template_input_default");
    EXPECT_EQ(as_str(RuntimeKind::Opencode), "opencode");
    EXPECT_EQ(debug_name(ProfileKind::Skill), "Skill");
    EXPECT_EQ(json_escape_mode_from_str("legacy"), JsonEscapeMode::Legacy);
    EXPECT_EQ(json_escape_mode_from_str("Auto"), std::nullopt);
    EXPECT_EQ(runtime_kind_from_str("claude"), RuntimeKind::Claude);
    EXPECT_EQ(unknown_variable_policy_from_str("warn"), UnknownVariablePolicy::Warn);
    EXPECT_EQ(profile_kind_from_str("agent "), std::nullopt);
}

}  // namespace
}  // namespace zelk::composer
