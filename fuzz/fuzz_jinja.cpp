// libFuzzer target: parses and renders arbitrary templates. The first byte picks the options
// (whitespace switches, auto-escaping, variable delimiters); the rest is split at NUL bytes into
// the main template and up to three named templates "a", "b" and "c" it may include, import or
// extend. Any outcome is fine except a crash, a hang or a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jinja/jinja.hpp"
#include "jinja/json.hpp"

namespace {

const zelk::jinja::Value& fuzz_context() {
    static const zelk::jinja::Value ctx = zelk::jinja::value_from_json(nlohmann::ordered_json::parse(
        R"({"s": "Hello <World>", "n": 5, "f": 2.5, "b": true, "z": null, "l": [1, "a", [2, 3], {"k": "v"}],
            "d": {"a": 1, "b": [1, 2], "c": {"d": "e"}}, "users": [{"name": "ann", "age": 3}, {"name": "bob"}]})"));
    return ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t opts = data[0];
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> parts;
    while (parts.size() < 3) {
        const auto nul = input.find('\0');
        if (nul == std::string_view::npos) {
            break;
        }
        parts.push_back(input.substr(0, nul));
        input.remove_prefix(nul + 1);
    }
    parts.push_back(input);

    zelk::jinja::Environment env;
    env.set_trim_blocks(opts & 1);
    env.set_lstrip_blocks(opts & 2);
    env.set_keep_trailing_newline(opts & 4);
    const auto escape = (opts >> 3) & 3;
    env.set_auto_escape_callback([escape](std::string_view) {
        return escape == 1   ? zelk::jinja::AutoEscape::html()
               : escape == 2 ? zelk::jinja::AutoEscape::json()
                             : zelk::jinja::AutoEscape::none();
    });
    if (opts & 32) {
        (void)env.set_syntax("{{{", "}}}");
    }
    if (opts & 64) {
        env.set_unknown_method_callback(
            [](zelk::jinja::State&, const zelk::jinja::Value& recv, std::string_view,
               const zelk::jinja::Args& args) -> zelk::jinja::Result<zelk::jinja::Value> {
                if (args.positional.empty()) {
                    return zelk::jinja::fail(zelk::jinja::ErrorKind::UnknownMethod);
                }
                return recv.get_item(args.positional[0]);
            });
    }
    static const char* names[] = {"a", "b", "c"};
    for (std::size_t i = 1; i < parts.size(); ++i) {
        (void)env.add_template(names[i - 1], parts[i]);
    }
    auto result = env.render_named_str("inline", parts[0], fuzz_context());
    if (!result) {
        (void)result.error().display();
    }
    return 0;
}
