#pragma once

#include <memory>
#include <ostream>

#include "App/InstallationSteps.h"

namespace tolvane {

// Runs one installation without a window: the status line on `out`, then either exit
// status 0 once the launcher has started, or "Ошибка: <message>" on `err` and status 1.
// There is no alert and so no retry.
//
// run() must be called on the main thread: it drives the main queue (which carries the
// run's outcome and the HTTP layer's completions) until the run has ended.
class HeadlessFrontend {
 public:
  static constexpr int kSuccessStatus = 0;
  static constexpr int kFailureStatus = 1;

  HeadlessFrontend(std::shared_ptr<InstallationSteps> steps, std::ostream& out, std::ostream& err);

  [[nodiscard]] int run();

 private:
  std::shared_ptr<InstallationSteps> steps_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace tolvane
