#include "Platform/NetworkLibraries.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <thread>

#include "Platform/CurlMulti.h"

namespace tolvane::platform {

void initialiseNetworkLibraries() {
  static const bool initialised = [] {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }();
  (void)initialised;
}

bool waitForNetworkThreadsToWindDown(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (CurlMulti::anyWindingDown()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace tolvane::platform
