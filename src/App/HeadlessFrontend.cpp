#include "App/HeadlessFrontend.h"

#include <utility>

#include "App/InstallationRun.h"
#include "Platform/DispatchQueue.h"

namespace tolvane {

HeadlessFrontend::HeadlessFrontend(std::shared_ptr<InstallationSteps> steps, std::ostream& out,
                                   std::ostream& err)
    : steps_(std::move(steps)), out_(out), err_(err) {}

int HeadlessFrontend::run() {
  // Only written by main-queue work, which runs on this thread inside MainRunLoop::run().
  int status = kFailureStatus;
  auto installation = InstallationRun::make(steps_, InstallationRun::Frontend{
                                                        .terminate =
                                                            [&status] {
                                                              status = kSuccessStatus;
                                                              platform::MainRunLoop::stop();
                                                            },
                                                        .presentAlert =
                                                            [this, &status](const Alert& alert) {
                                                              err_ << alert.title << ": "
                                                                   << alert.message << std::endl;
                                                              status = kFailureStatus;
                                                              platform::MainRunLoop::stop();
                                                            },
                                                        .openURL = nullptr,
                                                    });
  out_ << installation->statusText() << std::endl;
  installation->start();
  platform::MainRunLoop::run();
  return status;
}

}  // namespace tolvane
