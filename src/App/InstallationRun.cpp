#include "App/InstallationRun.h"

#include <cxxabi.h>

#include <cstdio>
#include <exception>
#include <string>
#include <typeinfo>
#include <utility>

#include "Installer/ResourceError.h"
#include "Platform/Configuration.h"
#include "Platform/ErrorException.h"
#include "Platform/TypeName.h"
#include "Platform/URL.h"

namespace tolvane {

namespace {

// "type: message" of the exception being handled.
std::string describeCurrentException() {
  std::string type = "an unknown exception";
  if (const std::type_info* info = abi::__cxa_current_exception_type())
    type = platform::typeName(*info);
  try {
    throw;
  } catch (const std::exception& error) {
    return type + ": " + error.what();
  } catch (...) {
    return type;
  }
}

}  // namespace

struct InstallationRun::Outcome {
  bool succeeded = false;
  // Set for a ResourceError; any other failure leaves it empty and is shown as unknown.
  std::optional<ResourceError> resourceError;
};

std::shared_ptr<InstallationRun> InstallationRun::make(std::shared_ptr<InstallationSteps> steps,
                                                       Frontend frontend,
                                                       std::function<std::string()> supportOrigin) {
  if (!supportOrigin) supportOrigin = [] { return platform::Configuration::supportOrigin(); };
  return std::make_shared<InstallationRun>(Key{}, std::move(steps), std::move(frontend),
                                           std::move(supportOrigin));
}

InstallationRun::InstallationRun(Key, std::shared_ptr<InstallationSteps> steps, Frontend frontend,
                                 std::function<std::string()> supportOrigin)
    : steps_(std::move(steps)),
      frontend_(std::move(frontend)),
      supportOrigin_(std::move(supportOrigin)),
      runQueue_(platform::DispatchQueue::make(kRunQueueLabel)) {}

std::string InstallationRun::statusText() const {
  return steps_->isInstalled() ? kUpdatingStatus : kInstallingStatus;
}

void InstallationRun::start() {
  if (running_.exchange(true)) return;
  if (frontend_.runStarting) frontend_.runStarting();
  // The queue item holds the run, so closing the window does not end a run half-way.
  runQueue_->async([self = shared_from_this()] {
    Outcome outcome = self->runInstallation();
    // --verbose shows the last request's lines before the alert or the exit.
    self->steps_->awaitSentEvents();
    platform::DispatchQueue::main()->async(
        [self, outcome = std::move(outcome)] { self->finish(outcome); });
  });
}

InstallationRun::Outcome InstallationRun::runInstallation() const {
  Outcome outcome;
  try {
    steps_->createWorkFolder();
    // Two instances must not write the runtime, the jar or the stored entry at the same
    // time: a second one waits here until the first has started the launcher or failed,
    // and then decides from what is on disk.
    const auto workFolderLock = steps_->lockWorkFolder();
    steps_->installJava();
    if (steps_->checkForUpdate()) steps_->downloadLauncher();
    steps_->runLauncher();
    outcome.succeeded = true;
  } catch (const ResourceError& error) {
    outcome.resourceError = error;
  } catch (...) {
    // Anything else (an error of another layer, a broken invariant, memory) still ends
    // the run visibly; the user gets the alert with the generic message, and whoever
    // reads the program's output learns what it was.
    std::fprintf(stderr, "tolvane-installer: the installation stopped on %s\n",
                 describeCurrentException().c_str());
  }
  return outcome;
}

void InstallationRun::finish(const Outcome& outcome) {
  running_ = false;
  if (outcome.succeeded) {
    frontend_.terminate();
    // Still here: the end was deferred or refused. The window simply stays.
    errorText_.reset();
    return;
  }
  if (outcome.resourceError) {
    showError(*outcome.resourceError);
    return;
  }
  // Without an alert the window would sit there with no message and no way on but
  // quitting; the same alert with the generic text lets the user retry or ask for help.
  // A text from an earlier failure must not stand in for this one.
  errorText_.reset();
  showAlert(kAlertTitle, kUnknownErrorMessage);
}

void InstallationRun::showError(const ResourceError& error) {
  errorText_ = error.message();
  showAlert(kAlertTitle, errorText_.value_or(kUnknownErrorMessage));
}

Alert InstallationRun::makeAlert(const std::string& title, const std::string& message) {
  return Alert{title,
               message,
               {{kRetryTitle, kRetryResponse},
                {kSupportTitle, kSupportResponse},
                {kCloseTitle, kCloseResponse}}};
}

void InstallationRun::showAlert(const std::string& title, const std::string& message) {
  frontend_.presentAlert(makeAlert(title, message));
}

void InstallationRun::respond(int responseCode) {
  switch (responseCode) {
    case kRetryResponse:
      // A fresh main-queue turn, so a modal alert has fully gone before the next run.
      platform::DispatchQueue::main()->async([self = shared_from_this()] { self->start(); });
      break;
    case kSupportResponse:
      openSupportPage();
      frontend_.terminate();
      break;
    case kCloseResponse:
      frontend_.terminate();
      break;
    default:
      // The alert was dismissed without a button: the window just stays.
      break;
  }
}

void InstallationRun::openSupportPage() const {
  const auto url = platform::URL::parse(supportOrigin_() + kSupportPath);
  if (url && frontend_.openURL) frontend_.openURL(url->absoluteString());
}

}  // namespace tolvane
