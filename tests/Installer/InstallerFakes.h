#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Installer/FileDownloading.h"
#include "Installer/NetworkServicing.h"
#include "Installer/ResourceError.h"
#include "Platform/ErrorException.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"

namespace tolvane::test {

// A code none of the installer's steps fails with in these tests, with a cause to read.
template <>
struct Placeholder<ResourceError> {
  static ResourceError make() {
    return ResourceError::timeoutRequest(std::make_shared<NothingThrown>());
  }
};

// Stands in for the network layer's "could not connect" error.
class ServerDownError final : public platform::Error {
 public:
  [[nodiscard]] std::string localizedDescription() const override {
    return "Could not connect to the server.";
  }
};

class FakeNetworkService final : public NetworkServicing {
 public:
  std::variant<LoaderModel, platform::ErrorPtr> answer = LoaderModel{};
  int calls = 0;

  LoaderModel fetchManifest() override {
    ++calls;
    if (const auto* error = std::get_if<platform::ErrorPtr>(&answer)) platform::throwError(*error);
    return std::get<LoaderModel>(answer);
  }
};

// Writes the jar where the real service would, or fails with the programmed error.
class FakeDownloadService final : public FileDownloading {
 public:
  explicit FakeDownloadService(std::filesystem::path jar) : jar_(std::move(jar)) {}
  std::vector<std::optional<std::string>> requested;
  platform::ErrorPtr failure;

  void downloadFile(std::optional<std::string> from) override {
    requested.push_back(from);
    if (failure) platform::throwError(failure);
    writeFile(jar_, "jar from " + from.value_or("?"));
  }

 private:
  std::filesystem::path jar_;
};

}  // namespace tolvane::test
