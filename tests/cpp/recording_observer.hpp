#pragma once
// An observer that writes down every hook call as one line of text, for comparing call sequences.

#include <string>
#include <vector>

#include "composer/observer.hpp"
#include "composer/utf8.hpp"

namespace zelk::testing {

class RecordingObserver final : public zelk::composer::CompositionObserver {
  public:
    void on_pass_start(const zelk::composer::PassEvent& event) override {
        calls.push_back("pass_start " + std::to_string(event.pass_number));
    }
    void on_pass_end(const zelk::composer::PassEvent& event) override {
        calls.push_back("pass_end " + std::to_string(event.pass_number));
    }
    void on_verify_start(bool) override { calls.push_back("verify_start"); }
    void on_verify_end(bool) override { calls.push_back("verify_end"); }
    void on_resolve_start(std::string_view target) override {
        calls.push_back("resolve_start " + std::string(target));
    }
    void on_resolve_outcome(const zelk::composer::ResolveOutcomeEvent& event) override {
        calls.push_back(event.code ? "resolve_outcome " + std::string(as_str(*event.code))
                                   : "resolve_outcome ok");
    }
    void on_include_outcome(const zelk::composer::IncludeOutcomeEvent& event) override {
        calls.push_back(event.code ? "include_outcome " + std::string(as_str(*event.code))
                                   : "include_outcome " + std::to_string(event.resolved_files.size()));
    }
    void on_validation_end(const zelk::composer::ValidationEndEvent& event) override {
        calls.push_back("validation_end " + std::to_string(event.warnings.size()) + "/" +
                        std::to_string(event.errors.size()));
    }
    void on_render_outcome(const zelk::composer::RenderOutcomeEvent& event) override {
        if (event.rendered_len) {
            calls.push_back("render_outcome " + std::to_string(*event.rendered_len));
        } else {
            calls.push_back(event.code ? "render_outcome " + std::string(as_str(*event.code))
                                       : "render_outcome engine-error");
        }
    }

    std::vector<std::string> calls;
};

}  // namespace zelk::testing
