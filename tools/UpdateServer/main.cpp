#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

#include "UpdateServer/Tool.h"

int main(int argc, char** argv) {
  // A client that hangs up mid-body must not kill the server.
  ::signal(SIGPIPE, SIG_IGN);
  // Blocked before any thread exists, so every server thread inherits the mask and only
  // the sigwait below receives the stop signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  tolvane::tools::Tool tool(std::cout, std::cerr, [&](const tolvane::tools::UpdateServer&) {
    int received = 0;
    sigwait(&stopSignals, &received);
  });
  return tool.run(std::vector<std::string>(argv + 1, argv + argc));
}
