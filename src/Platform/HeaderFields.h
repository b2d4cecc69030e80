#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::platform {

// Header fields of a URL request or response: insertion-ordered, names matched
// case-insensitively, at most one entry per name (a later value replaces an earlier one).
class HeaderFields {
 public:
  using Entry = std::pair<std::string, std::string>;

  HeaderFields() = default;
  HeaderFields(std::initializer_list<Entry> entries);

  [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
  // Replaces the value of an existing entry (keeping its position and taking the new
  // name's spelling) or appends one; none removes the entry.
  void setValue(std::optional<std::string> value, std::string_view name);
  // Appends ", value" to an existing entry, the way repeated response headers combine.
  void addValue(std::string value, std::string_view name);

  [[nodiscard]] const std::vector<Entry>& entries() const { return entries_; }
  [[nodiscard]] bool empty() const { return entries_.empty(); }
  [[nodiscard]] std::size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  friend bool operator==(const HeaderFields&, const HeaderFields&) = default;

 private:
  std::vector<Entry> entries_;
};

[[nodiscard]] bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);

}  // namespace tolvane::platform
