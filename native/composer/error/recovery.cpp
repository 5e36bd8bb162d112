#include "composer/error/recovery.hpp"

#include <fmt/format.h>

#include "composer/utf8.hpp"

namespace zelk::composer {
namespace {

struct Describe {
    std::string operator()(const RecoveryHint::RunCommand& h) const {
        return fmt::format("run command: {}", h.command);
    }
    std::string operator()(const RecoveryHint::InspectPath& h) const {
        return fmt::format("inspect path: {}", path_display(h.path));
    }
    std::string operator()(const RecoveryHint::ProvideVariable& h) const {
        return fmt::format("provide variable: {}", h.name.as_str());
    }
    std::string operator()(const RecoveryHint::ReviewConfiguration& h) const {
        return fmt::format("review configuration: {}", h.section);
    }
    std::string operator()(const RecoveryHint::FixInput& h) const { return h.text; }
    std::string operator()(const RecoveryHint::Disambiguate& h) const { return h.text; }
    std::string operator()(const RecoveryHint::FixTemplate& h) const { return h.text; }
};

}  // namespace

std::string RecoveryHint::description() const {
    return std::visit(Describe{}, value);
}

}  // namespace zelk::composer
