// Fuzzes token discovery and the expression scanner: any text must end in a token set, never a
// crash or hang, and every offset the scanner returns must lie inside the text, in order.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "composer/discovery.hpp"
#include "composer/template_scanner.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the brace count, so multi-pass delimiters get fuzzed too.
    const std::uint64_t brace_count = data[0] % 6;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    (void)zelk::composer::discover_tokens_with_brace_count(text, brace_count);
    (void)zelk::composer::discover_tokens_with_delimiters(text, "<<", ">>");
    (void)zelk::composer::has_bare_for_loop_over(text, "items");
    zelk::composer::VariableExpressionScanner scanner(text);
    std::size_t last_end = 0;
    while (const auto found = scanner.next()) {
        if (found->expression_start < last_end || found->inner_start != found->expression_start + 2 ||
            found->inner_end < found->inner_start || found->inner_end + 2 > text.size()) {
            std::abort();
        }
        last_end = found->inner_end + 2;
    }
    return 0;
}
