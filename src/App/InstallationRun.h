#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/Alert.h"
#include "App/InstallationSteps.h"
#include "Platform/DispatchQueue.h"

namespace tolvane {

class ResourceError;

// One installation run and what follows from its outcome, shared by the window and the
// headless mode: the steps run in order on a background queue, stopping at the first
// failure; the outcome comes back on the main queue, where success asks the front end to
// terminate and any failure becomes the error alert. The alert's buttons retry the whole
// run (nothing reset), open the support page and quit, or quit.
//
// Threads: errorText_ belongs to the main queue, as do start(), respond() and every
// Frontend callback. The steps run on runQueue_ and never touch the front end.
class InstallationRun : public std::enable_shared_from_this<InstallationRun> {
 public:
  static constexpr int kRetryResponse = 1000;
  static constexpr int kSupportResponse = 1001;
  static constexpr int kCloseResponse = 1002;

  static constexpr const char* kAlertTitle = "Ошибка";
  static constexpr const char* kRetryTitle = "Попробовать снова";
  static constexpr const char* kSupportTitle = "Написать в поддержку";
  static constexpr const char* kCloseTitle = "Закрыть";
  static constexpr const char* kUnknownErrorMessage = "Неизвестная ошибка";
  static constexpr const char* kUpdatingStatus = "Обновление...";
  static constexpr const char* kInstallingStatus = "Установка...";
  static constexpr const char* kSupportPath = "/forum_support";
  static constexpr const char* kRunQueueLabel = "net.tolvane.installer.run";

  // What the front end does for the run; each is called on the main queue.
  struct Frontend {
    // Ends the program; may return (the end can come later, or be refused).
    std::function<void()> terminate;
    // Shows the alert. The pressed button's code goes to respond(), right away from a
    // modal dialog or later.
    std::function<void(const Alert&)> presentAlert;
    // A run is starting: the first, or one the alert's retry asked for. The window shows
    // itself and what it is doing. Optional.
    std::function<void()> runStarting = nullptr;
    // Opens a web address in the user's browser; the answer is not awaited.
    std::function<void(const std::string&)> openURL;
  };

  // `supportOrigin` is read each time the support page is opened (default: the
  // configured support forum origin).
  [[nodiscard]] static std::shared_ptr<InstallationRun> make(
      std::shared_ptr<InstallationSteps> steps, Frontend frontend,
      std::function<std::string()> supportOrigin = {});

  // "Обновление..." when the runtime and the launcher are already installed, else
  // "Установка...". Asks the steps every time.
  [[nodiscard]] std::string statusText() const;

  // Starts a run from the first step. Main queue. Does nothing while a run is going on.
  void start();
  // Acts on the alert's answer. Main queue.
  void respond(int responseCode);

  // The message of the last failure shown; kept across retries. Main queue.
  [[nodiscard]] const std::optional<std::string>& errorText() const { return errorText_; }
  // True from start() until the outcome has been handled on the main queue. Any thread.
  [[nodiscard]] bool isRunning() const { return running_.load(); }

  // The alert for a failure whose message is `message`: title, message, the three buttons.
  [[nodiscard]] static Alert makeAlert(const std::string& title, const std::string& message);

  InstallationRun(const InstallationRun&) = delete;
  InstallationRun& operator=(const InstallationRun&) = delete;

 private:
  struct Outcome;
  // Only make() can name it, so runs always live in a shared_ptr.
  struct Key {
    explicit Key() = default;
  };

 public:
  InstallationRun(Key, std::shared_ptr<InstallationSteps> steps, Frontend frontend,
                  std::function<std::string()> supportOrigin);

 private:
  [[nodiscard]] Outcome runInstallation() const;
  void finish(const Outcome& outcome);
  void showError(const ResourceError& error);
  void showAlert(const std::string& title, const std::string& message);
  void openSupportPage() const;

  const std::shared_ptr<InstallationSteps> steps_;
  const Frontend frontend_;
  const std::function<std::string()> supportOrigin_;
  const std::shared_ptr<platform::DispatchQueue> runQueue_;
  std::atomic<bool> running_{false};
  std::optional<std::string> errorText_;
};

}  // namespace tolvane
