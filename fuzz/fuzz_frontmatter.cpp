// Fuzzes template documents: splitting, reading and normalising frontmatter, and the per-pass
// token map. Any input must end in a document or an error, never a crash or hang.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "composer/frontmatter/parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = zelk::composer::parse_template_document(text);
    if (parsed) {
        (void)zelk::composer::discover_all_pass_tokens(*parsed);
        for (const auto& pass : parsed->passes) {
            for (const auto& [key, value] : pass.metadata) {
                (void)value.to_json_value();
            }
        }
    } else {
        (void)parsed.error().display();
    }
    return 0;
}
