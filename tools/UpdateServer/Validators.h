#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace tolvane::tools {

// The validators of one file as it was opened. A publish replaces a file by renaming a
// new one over it, which changes the inode, so the tag changes with every publish even
// when size and time happen to match.
struct Validators {
  std::string etag;
  std::string lastModified;
  // A time is only a strong validator when the file cannot change again within the same
  // second unnoticed.
  bool lastModifiedIsStrong;

  explicit Validators(const struct stat& status);

  // If-None-Match: weak comparison against each listed tag, or "*".
  [[nodiscard]] bool matchesAny(std::string_view list) const;
  // If-Range: an entity tag must match strongly, a date exactly and only when strong.
  [[nodiscard]] bool matchesForRange(std::string_view validator) const;
};

}  // namespace tolvane::tools
