#pragma once

#include <string>

namespace tolvane::platform {

// A server asking who the client is, or asking to be trusted.
struct URLAuthenticationChallenge {
  enum class Method {
    httpBasic,
    httpDigest,
    ntlm,
    negotiate,
    clientCertificate,
    serverTrust,
    other
  };
  Method authenticationMethod = Method::other;
  std::string host;
  int port = 0;
  std::string realm;
  int previousFailureCount = 0;
};

}  // namespace tolvane::platform
