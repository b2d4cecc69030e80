#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "UpdateServer/Tool.h"

namespace {

std::atomic<int> stopSignal{0};

void askToStop(int signal) { stopSignal.store(signal); }

}  // namespace

int main(int argc, char** argv) {
  // A client that hangs up mid-body must not kill the server.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  const bool serving = argc > 1 && std::string(argv[1]) == "serve";
  if (serving) {
    // Blocked before any thread exists, so every server thread inherits the mask and only
    // the sigwait below receives the stop signals.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  } else {
    // Without SA_RESTART, a publish waiting on a pipe or the folder lock wakes with EINTR
    // and sees the flag; a copy in progress sees it before its next chunk.
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }

  tolvane::tools::Tool tool(
      std::cout, std::cerr,
      [&](const tolvane::tools::UpdateServer&) {
        int received = 0;
        sigwait(&stopSignals, &received);
      },
      &stopSignal);
  return tool.run(std::vector<std::string>(argv + 1, argv + argc));
}
