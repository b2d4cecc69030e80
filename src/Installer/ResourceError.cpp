#include "Installer/ResourceError.h"

#include <utility>

namespace tolvane {

using platform::ErrorPtr;

ResourceError::ResourceError(Code code, ErrorPtr cause) : code_(code), cause_(std::move(cause)) {}

ResourceError ResourceError::createFolder(ErrorPtr cause) {
  return {Code::createFolder, std::move(cause)};
}
ResourceError ResourceError::copyJava(ErrorPtr cause) { return {Code::copyJava, std::move(cause)}; }
ResourceError ResourceError::unzipJava(ErrorPtr cause) {
  return {Code::unzipJava, std::move(cause)};
}
ResourceError ResourceError::failedDownloadLoaderModel(ErrorPtr cause) {
  return {Code::failedDownloadLoaderModel, std::move(cause)};
}
ResourceError ResourceError::failedToRunLauncher(ErrorPtr cause) {
  return {Code::failedToRunLauncher, std::move(cause)};
}
ResourceError ResourceError::timeoutRequest(ErrorPtr cause) {
  return {Code::timeoutRequest, std::move(cause)};
}
ResourceError ResourceError::getJavaZipURL() { return {Code::getJavaZipURL, nullptr}; }
ResourceError ResourceError::failedToGetFirstObjectFromLoaderModel() {
  return {Code::failedToGetFirstObjectFromLoaderModel, nullptr};
}
ResourceError ResourceError::failedGetLoaderModel() {
  return {Code::failedGetLoaderModel, nullptr};
}

std::string ResourceError::message() const {
  // A missing cause reads like one with an empty description.
  const std::string cause = cause_ ? cause_->localizedDescription() : std::string();
  switch (code_) {
    case Code::createFolder:
      return "Ошибка при создании папки:\n\n" + cause;
    case Code::copyJava:
      return "Не удалось скопировать JDK в папку назначения:\n\n" + cause;
    case Code::unzipJava:
      return "Не удалось разархивировать JDK в папке назначения:\n\n" + cause;
    case Code::failedDownloadLoaderModel:
      return "Не удалось проверить наличие новой версии лаунчера:\n\n" + cause;
    case Code::failedToRunLauncher:
      return "Не удалось запустить лаунчер при помощи JDK:\n\n" + cause;
    case Code::timeoutRequest:
      return "Ошибка при запросе в сеть:\n\n" + cause +
             "\n\nПопробуйте проверить подключение к интернету";
    case Code::getJavaZipURL:
      return "Не удалось найти JDK";
    case Code::failedToGetFirstObjectFromLoaderModel:
      return "Не обнаружен объект в массиве для поиска пути к скачке лаунчера";
    case Code::failedGetLoaderModel:
      return "Не удалось найти путь к скачке лаунчера";
  }
  return {};
}

std::string ResourceError::localizedDescription() const {
  return platform::genericErrorDescription(kDomain, static_cast<int>(code_));
}

std::string ResourceError::debugDescription() const {
  const char* name = "";
  switch (code_) {
    case Code::createFolder:
      name = "createFolder";
      break;
    case Code::copyJava:
      name = "copyJava";
      break;
    case Code::unzipJava:
      name = "unzipJava";
      break;
    case Code::failedDownloadLoaderModel:
      name = "failedDownloadLoaderModel";
      break;
    case Code::failedToRunLauncher:
      name = "failedToRunLauncher";
      break;
    case Code::timeoutRequest:
      name = "timeoutRequest";
      break;
    case Code::getJavaZipURL:
      name = "getJavaZipURL";
      break;
    case Code::failedToGetFirstObjectFromLoaderModel:
      name = "failedToGetFirstObjectFromLoaderModel";
      break;
    case Code::failedGetLoaderModel:
      name = "failedGetLoaderModel";
      break;
  }
  if (!cause_) return name;
  return std::string(name) + "(" + cause_->debugDescription() + ")";
}

}  // namespace tolvane
