#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "Platform/CATrust.h"
#include "Platform/CurlMulti.h"
#include "Platform/DispatchQueue.h"
#include "Platform/URLSession.h"

namespace tolvane::platform {

// The session's delegate, touched only on the delegate queue; the session clears it
// after the final invalidation callback.
struct DelegateSlot {
  std::shared_ptr<URLSessionDelegate> delegate;
};

// What every task of one transport session shares.
struct TransferContext {
  std::shared_ptr<CurlMulti> engine;
  std::shared_ptr<DispatchQueue> queue;
  std::weak_ptr<URLSession> session;
  std::shared_ptr<DelegateSlot> delegate;
  URLSessionConfiguration configuration;
  // The delegate's decidesResponses(), fixed for the session's life.
  bool responsesGated = true;
  // The CAs the session's connections trust.
  std::shared_ptr<const CATrust> caTrust;
  // Runs on the delegate queue right after a task's completion callback.
  std::function<void(std::uint64_t taskIdentifier)> completionDelivered;
};

}  // namespace tolvane::platform
