#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "App/FakeSteps.h"
#include "App/InstallationRun.h"
#include "Installer/ResourceError.h"
#include "Platform/DispatchQueue.h"
#include "Platform/ErrorException.h"
#include "Platform/SystemError.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

class OtherLayerError final : public platform::Error {
 public:
  [[nodiscard]] std::string localizedDescription() const override {
    return "The network connection was lost.";
  }
};

// Records what the run asks of its front end, in one sequence, and checks that every
// request arrives on the main queue.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { makeRun("https://forum.tolvane.test"); }

  void makeRun(std::string supportOrigin) {
    run_ = InstallationRun::make(
        steps_,
        InstallationRun::Frontend{
            .terminate =
                [this] {
                  EXPECT_TRUE(platform::DispatchQueue::main()->isCurrent());
                  events_.push_back("terminate");
                },
            .presentAlert =
                [this](const Alert& alert) {
                  EXPECT_TRUE(platform::DispatchQueue::main()->isCurrent());
                  events_.push_back("alert");
                  alerts_.push_back(alert);
                },
            .runStarting = [this] { events_.push_back("start"); },
            .openURL = [this](const std::string& url) { events_.push_back("open " + url); },
        },
        [origin = std::move(supportOrigin)] { return origin; });
  }

  // Runs main-queue work until the run has ended and its outcome was handled.
  void finishRun() {
    ASSERT_TRUE(platform::MainRunLoop::runUntil([&] { return !run_->isRunning(); }, 5s));
  }

  void startAndFinish() {
    run_->start();
    finishRun();
  }

  // Answers the alert the way a front end does: from main-queue work.
  void answer(int responseCode) {
    bool answered = false;
    platform::DispatchQueue::main()->async([&] {
      run_->respond(responseCode);
      answered = true;
    });
    ASSERT_TRUE(platform::MainRunLoop::runUntil([&] { return answered; }, 5s));
  }

  // Lets a queued retry start; it is posted to the main queue, not started in place.
  void runPendingMainWork() {
    platform::MainRunLoop::runUntil([] { return false; }, 20ms);
  }

  std::shared_ptr<FakeSteps> steps_ = std::make_shared<FakeSteps>();
  std::shared_ptr<InstallationRun> run_;
  std::vector<std::string> events_;
  std::vector<Alert> alerts_;
};

const std::vector<std::string> kAllSteps = {"createWorkFolder", "installJava", "checkForUpdate",
                                            "downloadLauncher", "runLauncher"};

TEST_F(RunTest, SuccessfulRunCallsEveryStepInOrderThenTerminates) {
  EXPECT_EQ(run_->statusText(), "Установка...");
  startAndFinish();
  EXPECT_EQ(steps_->calls(), kAllSteps);
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "terminate"}));
  EXPECT_FALSE(run_->errorText().has_value());
}

TEST_F(RunTest, NoDownloadWhenTheCheckAnswersFalse) {
  steps_->updateNeeded = false;
  steps_->installed = true;
  EXPECT_EQ(run_->statusText(), "Обновление...");
  startAndFinish();
  EXPECT_EQ(steps_->calls(), (std::vector<std::string>{"createWorkFolder", "installJava",
                                                       "checkForUpdate", "runLauncher"}));
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "terminate"}));
}

// A failure at any step stops the run there and shows that step's error.
class FailingStepTest : public RunTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FailingStepTest, StopsAtTheFailingStepAndShowsItsMessage) {
  const std::string failing = kAllSteps[GetParam()];
  const ResourceError error =
      GetParam() == 1 ? ResourceError::getJavaZipURL()
                      : ResourceError::createFolder(platform::makeError(OtherLayerError()));
  steps_->failAt(failing, [error] { throw error; });
  startAndFinish();

  const std::vector<std::string> expected(kAllSteps.begin(),
                                          kAllSteps.begin() + static_cast<long>(GetParam()) + 1);
  EXPECT_EQ(steps_->calls(), expected);
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "alert"}));
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].title, "Ошибка");
  EXPECT_EQ(alerts_[0].message, error.message());
  if (GetParam() == 1) {
    EXPECT_EQ(alerts_[0].message, "Не удалось найти JDK");
  }
  EXPECT_EQ(run_->errorText(), error.message());
  const std::vector<Alert::Button> buttons = {
      {"Попробовать снова", 1000}, {"Написать в поддержку", 1001}, {"Закрыть", 1002}};
  EXPECT_EQ(alerts_[0].buttons, buttons);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FailingStepTest, ::testing::Range<std::size_t>(0, 5),
                         [](const auto& info) { return kAllSteps[info.param]; });

TEST_F(RunTest, FailureOfAnotherKindShowsTheAlertWithTheGenericMessage) {
  steps_->failAt("installJava", [] { throw ResourceError::getJavaZipURL(); });
  startAndFinish();
  // After a ResourceError, a failure of another layer; then one outside the error types.
  steps_->clearFailures();
  steps_->failAt("checkForUpdate",
                 [] { platform::throwError(platform::makeError(OtherLayerError())); });
  answer(InstallationRun::kRetryResponse);
  runPendingMainWork();
  finishRun();
  steps_->failAt("checkForUpdate", [] { throw std::runtime_error("boom"); });
  ::testing::internal::CaptureStderr();
  answer(InstallationRun::kRetryResponse);
  runPendingMainWork();
  finishRun();
  // The alert stays generic; the program's output names what went wrong.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tolvane-installer: the installation stopped on std::runtime_error: boom\n");

  ASSERT_EQ(alerts_.size(), 3u);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(alerts_[i].title, "Ошибка");
    // Not the earlier failure's text, which would describe the wrong problem.
    EXPECT_EQ(alerts_[i].message, "Неизвестная ошибка");
    EXPECT_EQ(alerts_[i].buttons, alerts_[0].buttons);
  }
  EXPECT_FALSE(run_->errorText().has_value());
  EXPECT_EQ(steps_->calls().back(), "checkForUpdate");
}

TEST_F(RunTest, RetryRunsAgainFromTheFirstStepKeepingTheErrorText) {
  steps_->failAt("checkForUpdate", [] { throw ResourceError::failedGetLoaderModel(); });
  startAndFinish();
  const auto firstText = run_->errorText();
  ASSERT_TRUE(firstText.has_value());

  steps_->clearFailures();
  steps_->holdAt("createWorkFolder");
  answer(InstallationRun::kRetryResponse);
  // The retry is a new main-queue turn, not a nested run inside the alert's answer.
  EXPECT_EQ(steps_->calls().size(), 3u);
  ASSERT_TRUE(platform::MainRunLoop::runUntil([&] { return steps_->isHeld(); }, 5s));
  EXPECT_EQ(run_->errorText(), firstText);  // nothing reset while the second run works
  steps_->release();
  finishRun();

  std::vector<std::string> expected = {"createWorkFolder", "installJava", "checkForUpdate"};
  expected.insert(expected.end(), kAllSteps.begin(), kAllSteps.end());
  EXPECT_EQ(steps_->calls(), expected);
  // The window is told of the retry's run as of the first, so it can show itself again.
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "alert", "start", "terminate"}));
  EXPECT_FALSE(run_->errorText().has_value());
}

TEST_F(RunTest, SupportOpensTheForumPageThenQuitsCloseOnlyQuits) {
  answer(InstallationRun::kSupportResponse);
  EXPECT_EQ(events_, (std::vector<std::string>{"open https://forum.tolvane.test/forum_support",
                                               "terminate"}));
  events_.clear();
  answer(InstallationRun::kCloseResponse);
  EXPECT_EQ(events_, std::vector<std::string>{"terminate"});
  // Without a usable origin there is nothing to open, but the program still quits.
  for (const std::string origin : {"", "not an address", "forum.tolvane.test"}) {
    events_.clear();
    makeRun(origin);
    answer(InstallationRun::kSupportResponse);
    EXPECT_EQ(events_, std::vector<std::string>{"terminate"}) << "origin \"" << origin << '"';
  }
}

TEST_F(RunTest, AnswersThatMatchNoButtonDoNothing) {
  for (const int code : {0, -1, 999, 1003, 5101}) answer(code);
  runPendingMainWork();
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(steps_->calls().empty());
  EXPECT_FALSE(run_->isRunning());
}

}  // namespace
}  // namespace tolvane::test
