#pragma once

#include <memory>

#include "Platform/UUID.h"

namespace tolvane::http {

class Session;

// What an adapter is told about the request it adapts.
struct RequestAdapterState {
  platform::UUID requestID;
  std::shared_ptr<Session> session;
};

}  // namespace tolvane::http
