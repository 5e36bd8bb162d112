// Fuzzes the YAML reader and the conversions of its values (metadata serialisation and input
// values). Any input must end in a value or an error, never a crash, hang or memory blow-up.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "composer/yaml/metadata.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = zelk::composer::yaml::parse_metadata_value(text);
    if (!value) {
        (void)value.error().display();
        return 0;
    }
    (void)value->to_json_value();
    if (auto converted = zelk::composer::input_value_from_yaml(*value)) {
        (void)zelk::composer::validate_input_value(*converted);
    }
    return 0;
}
