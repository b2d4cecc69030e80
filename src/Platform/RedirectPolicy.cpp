#include "Platform/RedirectPolicy.h"

#include <curl/curl.h>

#include "Platform/Text.h"

namespace tolvane::platform {
namespace {

// `location` resolved against `base` (it may be relative).
std::optional<URL> resolve(const URL& base, std::string_view location) {
  std::optional<URL> target;
  CURLU* handle = curl_url();
  if (!handle) return target;
  char* text = nullptr;
  const std::string reference(location);
  if (curl_url_set(handle, CURLUPART_URL, base.absoluteString().c_str(), 0) == CURLUE_OK &&
      curl_url_set(handle, CURLUPART_URL, reference.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    target = URL::parse(text);
  }
  curl_free(text);
  curl_url_cleanup(handle);
  return target;
}

}  // namespace

bool isRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && lowercased(a.host()) == lowercased(b.host()) &&
         a.port() == b.port();
}

bool leavesOrigin(const std::optional<URL>& from, const std::optional<URL>& to) {
  return !from || !to || !sameOrigin(*from, *to);
}

void dropCredentials(HeaderFields& fields) {
  fields.setValue(std::nullopt, "Authorization");
  fields.setValue(std::nullopt, "Cookie");
}

std::variant<URLRequest, TransferFailure> redirectedRequest(const URLRequest& current, int status,
                                                            std::string_view location,
                                                            int redirectsSoFar) {
  const std::optional<URL> target = current.url ? resolve(*current.url, location) : std::nullopt;
  if (!target) {
    return TransferFailure{URLError::redirectToNonExistentLocation,
                           "unusable redirect location: " + std::string(location)};
  }
  if (target->scheme() != "http" && target->scheme() != "https") {
    return TransferFailure{URLError::unsupportedURL, "redirect to " + target->absoluteString()};
  }
  if (current.url->scheme() == "https" && target->scheme() == "http") {
    return TransferFailure{URLError::appTransportSecurityRequiresSecureConnection,
                           "redirect from https to " + target->absoluteString()};
  }
  if (redirectsSoFar >= kMaximumRedirects)
    return TransferFailure{URLError::httpTooManyRedirects, {}};

  URLRequest next = current;
  next.url = target;
  const bool becomesGet = status == 303
                              ? current.httpMethod != "HEAD"
                              : (status == 301 || status == 302) && current.httpMethod == "POST";
  if (becomesGet) {
    next.httpMethod = "GET";
    next.httpBody.reset();
    next.setValue(std::nullopt, "Content-Type");
    next.setValue(std::nullopt, "Content-Length");
  }
  if (!sameOrigin(*current.url, *target)) dropCredentials(next.allHTTPHeaderFields);
  return next;
}

}  // namespace tolvane::platform
