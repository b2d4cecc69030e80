#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/HeaderFields.h"
#include "Platform/TransferFailure.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// How the transport follows redirects, one hop at a time. Pure: no transfer state, so each
// rule can be checked on its own.
//   - Only 301, 302, 303, 307 and 308 with a Location are redirects.
//   - The Location may be relative; it must resolve to an http or https URL.
//   - https never leads to http: transport security is not given up because a server said so.
//   - At most kMaximumRedirects hops per task.
//   - 303 turns any method but HEAD into a bodiless GET; 301 and 302 do that to POST only.
//   - Credentials (Authorization, Cookie) meant for one origin are not sent to another,
//     neither the request's own nor the session's.

inline constexpr int kMaximumRedirects = 16;

[[nodiscard]] bool isRedirectStatus(int status);
// Same scheme, host (ignoring case) and port.
[[nodiscard]] bool sameOrigin(const URL& a, const URL& b);
// Whether a hop from `from` to `to` leaves the origin; an unknown end counts as leaving.
[[nodiscard]] bool leavesOrigin(const std::optional<URL>& from, const std::optional<URL>& to);
// Removes the credential fields from `fields`.
void dropCredentials(HeaderFields& fields);

// The request that follows `current` after a `status` response pointing at `location`,
// `redirectsSoFar` hops into the task; or why the task fails instead.
[[nodiscard]] std::variant<URLRequest, TransferFailure> redirectedRequest(const URLRequest& current,
                                                                          int status,
                                                                          std::string_view location,
                                                                          int redirectsSoFar);

}  // namespace tolvane::platform
