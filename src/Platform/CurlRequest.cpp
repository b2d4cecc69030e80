#include "Platform/CurlRequest.h"

#include <vector>

namespace tolvane::platform {

bool setUpRequest(CURL* easy, const URLRequest& request, const CurlRequestOptions& options,
                  CurlSlist& headerList) {
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };

  set(CURLOPT_URL, request.url->absoluteString().c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectSeconds * 1000));
  if (options.share) set(CURLOPT_SHARE, options.share);
  if (options.caTrust && !options.caTrust->apply(easy)) ok = false;

  const std::string& method = request.httpMethod;
  // Without post fields libcurl would send a POST as a GET.
  const bool emptyContent =
      !request.httpBody && (method == "POST" || method == "PUT" || method == "PATCH");
  if (method == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (method == "GET" && !request.httpBody) {
    set(CURLOPT_HTTPGET, 1L);
  } else {
    if (request.httpBody || emptyContent) {
      const Data none;
      const Data& body = request.httpBody ? *request.httpBody : none;
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      set(CURLOPT_COPYPOSTFIELDS, body.c_str());
    }
    if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  HeaderFields headers = options.sessionHeaders;
  for (const auto& [name, value] : request.allHTTPHeaderFields) headers.setValue(value, name);
  // libcurl decodes only what it announced itself, so it announces the caller's list.
  // The rest of a partial file is asked for uncoded: a range counts the bytes of the coded
  // body, while the file holds decoded ones. (libcurl still decodes a coded answer.)
  const std::string acceptEncoding =
      options.rangeStart ? "identity" : headers.value("Accept-Encoding").value_or("");
  headers.setValue(std::nullopt, "Accept-Encoding");
  set(CURLOPT_ACCEPT_ENCODING, acceptEncoding.c_str());
  if (options.rangeStart) {
    headers.setValue("bytes=" + std::to_string(*options.rangeStart) + "-", "Range");
    headers.setValue(options.validator, "If-Range");
  }
  // "Name:" makes libcurl leave out a header it would add by itself: no "100-continue"
  // round trip for bodies, and no "Accept: */*" the caller never asked for.
  std::vector<std::string> lines;
  lines.emplace_back("Expect:");
  // libcurl labels post fields as a form; an empty body is no form.
  if (emptyContent && !headers.value("Content-Type")) lines.emplace_back("Content-Type:");
  if (!headers.value("Accept")) lines.emplace_back("Accept:");
  for (const auto& [name, value] : headers) {
    // "Name;" is libcurl's way to send a header with an empty value.
    lines.push_back(value.empty() ? name + ";" : name + ": " + value);
  }

  CurlSlist list;
  for (const auto& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    (void)list.release();
    list.reset(grown);
  }
  headerList = std::move(list);
  set(CURLOPT_HTTPHEADER, headerList.get());
  return ok;
}

void addTransferMetrics(CURL* easy, URLSessionTaskMetrics& metrics) {
  auto seconds = [easy](CURLINFO info) {
    curl_off_t micro = 0;
    return curl_easy_getinfo(easy, info, &micro) == CURLE_OK ? static_cast<double>(micro) / 1e6
                                                             : 0.0;
  };
  metrics.nameLookupSeconds = seconds(CURLINFO_NAMELOOKUP_TIME_T);
  metrics.connectSeconds = seconds(CURLINFO_CONNECT_TIME_T);
  metrics.tlsHandshakeSeconds = seconds(CURLINFO_APPCONNECT_TIME_T);
  metrics.startTransferSeconds = seconds(CURLINFO_STARTTRANSFER_TIME_T);
  metrics.totalSeconds = seconds(CURLINFO_TOTAL_TIME_T);
  long requestSize = 0;
  curl_off_t uploaded = 0;
  curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestSize);
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  metrics.countOfBytesSent += requestSize + uploaded;
}

}  // namespace tolvane::platform
