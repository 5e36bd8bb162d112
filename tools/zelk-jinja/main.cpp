// zelk-jinja: renders one template with the bare engine, for tests and benchmarks.
//
//   zelk-jinja render TEMPLATE_FILE [--context JSON_FILE] [--name NAME] [--template-dir DIR]
//              [--trim-blocks] [--lstrip-blocks] [--keep-trailing-newline]
//              [--auto-escape none|html|json]
//
// Writes exactly the rendered text to standard output and exits 0; a template error exits 1
// with the error's display on standard error; a usage or I/O problem exits 2.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jinja/jinja.hpp"
#include "jinja/json.hpp"

namespace {

namespace fs = std::filesystem;
using zelk::jinja::AutoEscape;

constexpr const char* kUsage =
    "usage: zelk-jinja render TEMPLATE_FILE [--context JSON_FILE] [--name NAME] [--template-dir DIR]\n"
    "                  [--trim-blocks] [--lstrip-blocks] [--keep-trailing-newline]\n"
    "                  [--auto-escape none|html|json]\n";

int usage(const std::string& problem) {
    std::cerr << "zelk-jinja: " << problem << "\n" << kUsage;
    return 2;
}

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] != "render") {
        return usage("expected the command 'render'");
    }
    std::string template_file;
    std::string context_file;
    std::string name = "inline";
    std::string template_dir;
    bool trim = false;
    bool lstrip = false;
    bool keep_newline = false;
    AutoEscape escape = AutoEscape::none();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size()) {
                return false;
            }
            target = args[++i];
            return true;
        };
        if (a == "--context") {
            if (!value(context_file)) {
                return usage("--context needs a file");
            }
        } else if (a == "--name") {
            if (!value(name)) {
                return usage("--name needs a name");
            }
        } else if (a == "--template-dir") {
            if (!value(template_dir)) {
                return usage("--template-dir needs a directory");
            }
        } else if (a == "--trim-blocks") {
            trim = true;
        } else if (a == "--lstrip-blocks") {
            lstrip = true;
        } else if (a == "--keep-trailing-newline") {
            keep_newline = true;
        } else if (a == "--auto-escape") {
            std::string mode;
            if (!value(mode)) {
                return usage("--auto-escape needs none, html or json");
            }
            if (mode == "none") {
                escape = AutoEscape::none();
            } else if (mode == "html") {
                escape = AutoEscape::html();
            } else if (mode == "json") {
                escape = AutoEscape::json();
            } else {
                return usage("--auto-escape needs none, html or json");
            }
        } else if (a.starts_with("--")) {
            return usage("unknown option " + a);
        } else if (template_file.empty()) {
            template_file = a;
        } else {
            return usage("unexpected argument " + a);
        }
    }
    if (template_file.empty()) {
        return usage("missing TEMPLATE_FILE");
    }

    std::string source;
    if (!read_file(template_file, source)) {
        std::cerr << "zelk-jinja: cannot read " << template_file << "\n";
        return 2;
    }
    zelk::jinja::Value context;
    if (!context_file.empty()) {
        std::string text;
        if (!read_file(context_file, text)) {
            std::cerr << "zelk-jinja: cannot read " << context_file << "\n";
            return 2;
        }
        auto json = nlohmann::ordered_json::parse(text, nullptr, false);
        if (json.is_discarded() || !json.is_object()) {
            std::cerr << "zelk-jinja: the context must be a JSON object\n";
            return 2;
        }
        context = zelk::jinja::value_from_json(json);
    }

    zelk::jinja::Environment env;
    env.set_trim_blocks(trim);
    env.set_lstrip_blocks(lstrip);
    env.set_keep_trailing_newline(keep_newline);
    env.set_auto_escape_callback([escape](std::string_view) { return escape; });

    if (!template_dir.empty()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(template_dir, ec)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        if (ec) {
            std::cerr << "zelk-jinja: cannot list " << template_dir << "\n";
            return 2;
        }
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            const std::string file_name = f.filename().string();
            if (file_name == name) {
                continue;  // the main template wins a name clash
            }
            std::string text;
            if (!read_file(f, text)) {
                std::cerr << "zelk-jinja: cannot read " << f.string() << "\n";
                return 2;
            }
            if (auto r = env.add_template(file_name, text); !r) {
                std::cerr << r.error().display() << "\n";
                return 1;
            }
        }
    }
    if (auto r = env.add_template(name, source); !r) {
        std::cerr << r.error().display() << "\n";
        return 1;
    }
    auto tmpl = env.get_template(name);
    auto out = tmpl ? tmpl->render(context) : std::unexpected(tmpl.error());
    if (!out) {
        std::cerr << out.error().display() << "\n";
        return 1;
    }
    std::cout.write(out->data(), static_cast<std::streamsize>(out->size()));
    std::cout.flush();
    return std::cout ? 0 : 2;
}
