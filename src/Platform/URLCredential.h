#pragma once

#include <string>

namespace tolvane::platform {

// A user name and password answering an authentication challenge.
struct URLCredential {
  std::string user;
  std::string password;
};

}  // namespace tolvane::platform
