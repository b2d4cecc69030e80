#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>

#include "App/FakeSteps.h"
#include "App/HeadlessFrontend.h"
#include "Installer/ResourceError.h"

namespace tolvane::test {
namespace {

class HeadlessTest : public ::testing::Test {
 protected:
  int run() { return HeadlessFrontend(steps_, out_, err_).run(); }

  std::shared_ptr<FakeSteps> steps_ = std::make_shared<FakeSteps>();
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(HeadlessTest, PrintsTheStatusAndSucceedsOnceTheLauncherStarted) {
  steps_->installed = true;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out_.str(), "Обновление...\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(steps_->calls().back(), "runLauncher");
}

TEST_F(HeadlessTest, FailureIsPrintedAndEndsTheProgramWithoutRetry) {
  steps_->failAt("installJava", [] { throw ResourceError::getJavaZipURL(); });
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(out_.str(), "Установка...\n");
  EXPECT_EQ(err_.str(), "Ошибка: Не удалось найти JDK\n");
  EXPECT_EQ(steps_->calls(), (std::vector<std::string>{"createWorkFolder", "installJava"}));
}

TEST_F(HeadlessTest, FailureOfAnotherKindIsNotReportedAsSuccess) {
  steps_->failAt("runLauncher", [] { throw std::runtime_error("unexpected"); });
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(err_.str(), "Ошибка: Неизвестная ошибка\n");
}

}  // namespace
}  // namespace tolvane::test
