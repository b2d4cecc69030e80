#include "HTTP/Core/HTTPHeaders.h"

#include <algorithm>

#include "Platform/Text.h"

namespace tolvane::http {

HTTPHeaders::HTTPHeaders(std::initializer_list<HTTPHeader> headers) {
  for (const auto& header : headers) update(header);
}

HTTPHeaders::HTTPHeaders(const std::vector<HTTPHeader>& headers) {
  for (const auto& header : headers) update(header);
}

HTTPHeaders::HTTPHeaders(const platform::HeaderFields& dictionary) {
  for (const auto& [name, value] : dictionary) update(name, value);
}

std::vector<HTTPHeader>::iterator HTTPHeaders::find(std::string_view name) {
  return std::find_if(headers_.begin(), headers_.end(), [&](const HTTPHeader& h) {
    return platform::equalsIgnoringASCIICase(h.name, name);
  });
}

void HTTPHeaders::add(std::string name, std::string value) {
  update(std::move(name), std::move(value));
}
void HTTPHeaders::add(HTTPHeader header) { update(std::move(header)); }
void HTTPHeaders::update(std::string name, std::string value) {
  update(HTTPHeader{std::move(name), std::move(value)});
}

void HTTPHeaders::update(HTTPHeader header) {
  const auto it = find(header.name);
  if (it != headers_.end()) {
    *it = std::move(header);
  } else {
    headers_.push_back(std::move(header));
  }
}

void HTTPHeaders::remove(std::string_view name) {
  const auto it = find(name);
  if (it != headers_.end()) headers_.erase(it);
}

std::optional<std::string> HTTPHeaders::value(std::string_view name) const {
  const auto it = std::find_if(headers_.begin(), headers_.end(), [&](const HTTPHeader& h) {
    return platform::equalsIgnoringASCIICase(h.name, name);
  });
  return it == headers_.end() ? std::nullopt : std::optional<std::string>(it->value);
}

void HTTPHeaders::set(std::string_view name, std::optional<std::string> value) {
  if (value) {
    update(std::string(name), std::move(*value));
  } else {
    remove(name);
  }
}

void HTTPHeaders::sort() {
  std::stable_sort(headers_.begin(), headers_.end(), [](const HTTPHeader& a, const HTTPHeader& b) {
    return platform::lowercased(a.name) < platform::lowercased(b.name);
  });
}

HTTPHeaders HTTPHeaders::sorted() const {
  HTTPHeaders copy = *this;
  copy.sort();
  return copy;
}

platform::HeaderFields HTTPHeaders::dictionary() const {
  platform::HeaderFields fields;
  for (const auto& header : headers_) fields.setValue(header.value, header.name);
  return fields;
}

std::string HTTPHeaders::description() const {
  std::string out;
  for (std::size_t i = 0; i < headers_.size(); ++i) {
    if (i > 0) out += "\n";
    out += headers_[i].description();
  }
  return out;
}

const HTTPHeaders& HTTPHeaders::defaultHeaders() {
  static const HTTPHeaders headers{HTTPHeader::defaultAcceptEncoding(),
                                   HTTPHeader::defaultAcceptLanguage(),
                                   HTTPHeader::defaultUserAgent()};
  return headers;
}

HTTPHeaders headers(const platform::URLRequest& request) {
  return HTTPHeaders(request.allHTTPHeaderFields);
}

void setHeaders(platform::URLRequest& request, const HTTPHeaders& headers) {
  request.allHTTPHeaderFields = headers.dictionary();
}

HTTPHeaders headers(const platform::HTTPURLResponse& response) {
  return HTTPHeaders(response.allHeaderFields);
}

HTTPHeaders headers(const platform::URLSessionConfiguration& configuration) {
  return HTTPHeaders(configuration.httpAdditionalHeaders);
}

void setHeaders(platform::URLSessionConfiguration& configuration, const HTTPHeaders& headers) {
  configuration.httpAdditionalHeaders = headers.dictionary();
}

}  // namespace tolvane::http
