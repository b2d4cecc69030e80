#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Installer/ResourceError.h"

namespace tolvane {
namespace {

using platform::ErrorPtr;

// An error whose text can change after it was wrapped.
class MutableTextError final : public platform::Error {
 public:
  explicit MutableTextError(std::shared_ptr<std::string> text) : text_(std::move(text)) {}
  [[nodiscard]] std::string localizedDescription() const override { return *text_; }

 private:
  std::shared_ptr<std::string> text_;
};

ErrorPtr textError(const std::string& text) {
  return std::make_shared<MutableTextError>(std::make_shared<std::string>(text));
}

TEST(ResourceErrorTest, EveryMessageByteForByte) {
  const ErrorPtr cause = textError("Cause text.");
  const std::pair<ResourceError, std::string> cases[] = {
      {ResourceError::createFolder(cause), "Ошибка при создании папки:\n\nCause text."},
      {ResourceError::copyJava(cause),
       "Не удалось скопировать JDK в папку назначения:\n\nCause text."},
      {ResourceError::unzipJava(cause),
       "Не удалось разархивировать JDK в папке назначения:\n\nCause text."},
      {ResourceError::failedDownloadLoaderModel(cause),
       "Не удалось проверить наличие новой версии лаунчера:\n\nCause text."},
      {ResourceError::failedToRunLauncher(cause),
       "Не удалось запустить лаунчер при помощи JDK:\n\nCause text."},
      {ResourceError::timeoutRequest(cause),
       "Ошибка при запросе в сеть:\n\nCause text.\n\nПопробуйте проверить подключение к интернету"},
      {ResourceError::getJavaZipURL(), "Не удалось найти JDK"},
      {ResourceError::failedToGetFirstObjectFromLoaderModel(),
       "Не обнаружен объект в массиве для поиска пути к скачке лаунчера"},
      {ResourceError::failedGetLoaderModel(), "Не удалось найти путь к скачке лаунчера"},
  };
  int code = 0;
  for (const auto& [error, message] : cases) {
    EXPECT_EQ(static_cast<int>(error.code()), code);
    EXPECT_EQ(error.message(), message) << code;
    // U+2019 in "couldn’t", as the platform writes it.
    EXPECT_EQ(error.localizedDescription(),
              "The operation couldn\xe2\x80\x99t be completed. "
              "(Tolvane_Apple_Silicon.ResourceError error " +
                  std::to_string(code) + ".)");
    ++code;
  }
}

TEST(ResourceErrorTest, ANestedResourceErrorShowsItsGenericDescriptionNotItsMessage) {
  const auto outer = ResourceError::failedDownloadLoaderModel(
      ResourceError::failedToGetFirstObjectFromLoaderModel().error());
  EXPECT_EQ(outer.message(),
            "Не удалось проверить наличие новой версии лаунчера:\n\nThe operation couldn’t be "
            "completed. (Tolvane_Apple_Silicon.ResourceError error 7.)");
}

TEST(ResourceErrorTest, CauseTextIsReadWhenTheMessageIsAndMayBeEmpty) {
  auto text = std::make_shared<std::string>("before");
  const auto error = ResourceError::copyJava(std::make_shared<MutableTextError>(text));
  *text = "after";
  EXPECT_EQ(error.message(), "Не удалось скопировать JDK в папку назначения:\n\nafter");
  EXPECT_EQ(ResourceError::timeoutRequest(textError("")).message(),
            "Ошибка при запросе в сеть:\n\n\n\nПопробуйте проверить подключение к интернету");
}

}  // namespace
}  // namespace tolvane
