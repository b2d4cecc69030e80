#include "Platform/HeaderFields.h"

#include <algorithm>

namespace tolvane::platform {

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

HeaderFields::HeaderFields(std::initializer_list<Entry> entries) {
  for (const auto& [name, value] : entries) setValue(value, name);
}

std::optional<std::string> HeaderFields::value(std::string_view name) const {
  for (const auto& [key, value] : entries_) {
    if (equalsIgnoringASCIICase(key, name)) return value;
  }
  return std::nullopt;
}

void HeaderFields::setValue(std::optional<std::string> value, std::string_view name) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return equalsIgnoringASCIICase(e.first, name); });
  if (!value) {
    if (it != entries_.end()) entries_.erase(it);
    return;
  }
  if (it != entries_.end()) {
    *it = Entry(std::string(name), std::move(*value));
  } else {
    entries_.emplace_back(std::string(name), std::move(*value));
  }
}

void HeaderFields::addValue(std::string value, std::string_view name) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return equalsIgnoringASCIICase(e.first, name); });
  if (it != entries_.end()) {
    it->second += ", " + value;
  } else {
    entries_.emplace_back(std::string(name), std::move(value));
  }
}

}  // namespace tolvane::platform
