#pragma once

#include "Installer/LoaderModel.h"

namespace tolvane {

// Fetches the update manifest. Called from the run's background thread; blocks until the
// request has finished. Throws the network layer's error unchanged, as a
// platform::ErrorException (the installer never inspects it).
class NetworkServicing {
 public:
  virtual ~NetworkServicing() = default;
  virtual LoaderModel fetchManifest() = 0;
};

}  // namespace tolvane
