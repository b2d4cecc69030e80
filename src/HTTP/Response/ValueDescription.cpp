#include "HTTP/Response/ValueDescription.h"

#include <cxxabi.h>

#include <array>
#include <charconv>
#include <cstdlib>

namespace tolvane::http {

std::string unqualifiedTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  const std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  // Drop the namespaces of the outer name only: the last "::" outside template brackets.
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '<') ++depth;
    if (name[i] == '>') --depth;
    if (depth == 0 && name.compare(i, 2, "::") == 0) start = i + 2;
  }
  return name.substr(start);
}

std::string shortestDecimal(double value) {
  std::array<char, 64> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

std::string byteCountDescription(const platform::Data& data) {
  return std::to_string(data.size()) + " bytes";
}

}  // namespace tolvane::http
