#include "composer/error/display.hpp"

namespace zelk::composer {

std::string write_error_display(std::string_view message, const ErrorSource& source, const Backtrace& trace) {
    std::string out(message);
    if (source) {
        out += "\ncaused by:";
        // The chain is owned all the way down, so it ends; a cause cannot point back up.
        for (const ErrorCause* cause = source.get(); cause != nullptr; cause = cause->cause()) {
            out += "\n- ";
            out += cause->display();
        }
    }
    out += "\nbacktrace:\n";
    out += trace.display();
    return out;
}

}  // namespace zelk::composer
