// Times the engine on a corpus: compile-and-render and render of a compiled template, best of
// several runs, printed as JSON for bench_engine.py.
//
//   zelk-jinja-bench CORPUS_DIR [RUNS]
//
// Every *.j2 file of CORPUS_DIR is registered under its file name (files starting with "_" are
// partials, included or imported by the others); CORPUS_DIR/context.json is the context. The
// environment uses trim_blocks and lstrip_blocks, as the renderer does.
#include <algorithm>
#include <chrono>
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
using Clock = std::chrono::steady_clock;

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Best time per iteration in microseconds, over `runs` batches sized to take ~20 ms each.
template <class F>
double best_us(int runs, F&& f) {
    int batch = 1;
    while (true) {
        const auto t0 = Clock::now();
        for (int i = 0; i < batch; ++i) {
            f();
        }
        if (Clock::now() - t0 > std::chrono::milliseconds(20) || batch > (1 << 20)) {
            break;
        }
        batch *= 2;
    }
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        for (int i = 0; i < batch; ++i) {
            f();
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / batch;
        best = std::min(best, us);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: zelk-jinja-bench CORPUS_DIR [RUNS]\n";
        return 2;
    }
    const fs::path dir = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const auto context =
        zelk::jinja::value_from_json(nlohmann::ordered_json::parse(read_file(dir / "context.json")));

    zelk::jinja::Environment env;
    env.set_trim_blocks(true);
    env.set_lstrip_blocks(true);
    std::vector<std::pair<std::string, std::string>> mains;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".j2") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string name = f.filename().string();
        const std::string source = read_file(f);
        if (auto r = env.add_template(name, source); !r) {
            std::cerr << r.error().display() << "\n";
            return 1;
        }
        if (!name.starts_with("_")) {
            mains.emplace_back(name, source);
        }
    }

    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& [name, source] : mains) {
        auto tmpl = env.get_template(name);
        auto first = tmpl->render(context);
        if (!first) {
            std::cerr << first.error().display() << "\n";
            return 1;
        }
        const double compile_render = best_us(runs, [&] {
            auto t = env.compile(name, source);
            auto r = t->render(context);
            if (!r) {
                std::abort();
            }
        });
        const double render = best_us(runs, [&] {
            auto r = tmpl->render(context);
            if (!r) {
                std::abort();
            }
        });
        out.push_back({{"name", name},
                       {"compile_render_us", compile_render},
                       {"render_us", render},
                       {"output", *first}});
    }
    std::cout << out.dump() << "\n";
    return 0;
}
