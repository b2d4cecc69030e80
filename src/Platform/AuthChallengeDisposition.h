#pragma once

namespace tolvane::platform {

// What the delegate makes of an authentication challenge.
enum class AuthChallengeDisposition {
  useCredential,
  performDefaultHandling,
  cancelAuthenticationChallenge,
  rejectProtectionSpace
};

}  // namespace tolvane::platform
