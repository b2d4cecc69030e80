#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "App/InstallationSteps.h"

namespace tolvane::test {

// Records the steps called (on the run's thread), fails the ones a test programs, and can
// hold one step until released.
class FakeSteps final : public InstallationSteps {
  template <typename F>
  auto locked(F f) {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    return f();
  }

 public:
  bool installed = false;
  bool updateNeeded = true;

  void failAt(const std::string& step, std::function<void()> thrower) {
    locked([&] { failures_[step] = thrower; });
  }
  void clearFailures() {
    locked([&] { failures_.clear(); });
  }
  void holdAt(const std::string& step) {
    locked([&] { held_ = step; });
  }
  void release() {
    locked([&] { held_.clear(); });
  }
  [[nodiscard]] bool isHeld() {
    return locked([&] { return holding_; });
  }
  [[nodiscard]] std::vector<std::string> calls() {
    return locked([&] { return calls_; });
  }

  [[nodiscard]] bool isInstalled() const override { return installed; }
  void createWorkFolder() override { step("createWorkFolder"); }
  void installJava() override { step("installJava"); }
  bool checkForUpdate() override { return step("checkForUpdate"), updateNeeded; }
  void downloadLauncher() override { step("downloadLauncher"); }
  void runLauncher() override { step("runLauncher"); }

 private:
  void step(const std::string& name) {
    std::function<void()> thrower;
    {
      std::unique_lock lock(mutex_);
      calls_.push_back(name);
      holding_ = held_ == name;
      changed_.wait(lock, [&] { return held_ != name; });
      holding_ = false;
      if (auto found = failures_.find(name); found != failures_.end()) thrower = found->second;
    }
    if (thrower) thrower();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::map<std::string, std::function<void()>> failures_;
  std::string held_;
  bool holding_ = false;
};

}  // namespace tolvane::test
