#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "UpdateServer/UpdateServer.h"

namespace tolvane::tools {

// tolvane-update-server as a whole, minus the process: runs one command line and returns
// the exit status (0 done, 1 failed, 2 refused or bad usage). Messages go to `out`/`err`.
// For serve, `waitForStop` is called once the server is listening and the "listening on"
// line is out; the server stops when it returns (the program waits for SIGINT/SIGTERM
// there, tests make their requests). `stopSignal` is handed to publish (see Publisher).
class Tool {
 public:
  using WaitForStop = std::function<void(const UpdateServer&)>;

  Tool(std::ostream& out, std::ostream& err, WaitForStop waitForStop,
       const std::atomic<int>* stopSignal = nullptr)
      : out_(out), err_(err), waitForStop_(std::move(waitForStop)), stopSignal_(stopSignal) {}

  [[nodiscard]] int run(const std::vector<std::string>& arguments);

 private:
  std::ostream& out_;
  std::ostream& err_;
  WaitForStop waitForStop_;
  const std::atomic<int>* stopSignal_;
};

}  // namespace tolvane::tools
