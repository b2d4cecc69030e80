#pragma once

#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"

namespace tolvane::platform {

// A response the transport offers to cache. This transport keeps no cache; the callback
// exists so the layer's hooks have something to decide about.
struct CachedURLResponse {
  HTTPURLResponse response;
  Data data;
};

}  // namespace tolvane::platform
