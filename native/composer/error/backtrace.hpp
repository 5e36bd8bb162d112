#pragma once
// Stack traces captured when an error is made, switched on by ZELK_BACKTRACE.

#include <memory>
#include <string>
#include <vector>

namespace zelk::composer {

/// A captured stack trace. Capture happens only when the environment variable ZELK_BACKTRACE
/// is set to a value other than "" or "0" (read at each capture); otherwise the trace is
/// disabled and displays as "disabled backtrace". Copies share the captured frames.
class Backtrace {
  public:
    /// A trace that was never captured.
    Backtrace() = default;
    /// Captures the caller's stack if enabled.
    static Backtrace capture();

    /// Whether frames were captured.
    bool captured() const { return frames_ != nullptr; }
    /// One frame per line when captured, else "disabled backtrace".
    std::string display() const;

  private:
    std::shared_ptr<const std::vector<void*>> frames_;
};

}  // namespace zelk::composer
