#include "Services/DownloadResumeRecord.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

namespace tolvane {
namespace {
constexpr const char* kFormat = "tolvane.launcher-resume.1";
constexpr std::uintmax_t kLargestRecord = 64 * 1024;
}  // namespace

std::string DownloadResumeRecord::encoded() const {
  const nlohmann::json document{
      {"format", kFormat},
      {"entry", {{"path", entry.path}, {"hash", entry.hash}, {"size", entry.size}}},
      {"url", url},
      {"validator", validator},
      {"resumeData", resumeData},
  };
  // Replacement characters instead of an exception: such a record just never matches.
  return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<DownloadResumeRecord> DownloadResumeRecord::decode(std::string_view text) {
  const auto document = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object() || document.value("format", "") != kFormat) return std::nullopt;
  try {
    DownloadResumeRecord record;
    record.entry = FileModel::fromJSON(document.at("entry"));
    record.url = document.at("url").get<std::string>();
    record.validator = document.at("validator").get<std::string>();
    record.resumeData = document.at("resumeData").get<std::string>();
    if (record.validator.empty() || record.resumeData.empty()) return std::nullopt;
    return record;
  } catch (...) {
    // Any decoding failure: missing keys, wrong types, an entry that is not one.
    return std::nullopt;
  }
}

bool DownloadResumeRecord::save(const std::filesystem::path& file) const {
  const auto temporary = std::filesystem::path(file).concat(".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << encoded();
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (!error) return true;
  std::filesystem::remove(temporary, error);
  return false;
}

std::optional<DownloadResumeRecord> DownloadResumeRecord::load(const std::filesystem::path& file) {
  std::error_code error;
  // Only a regular file of plausible size is read: the record is input like any other.
  const auto status = std::filesystem::symlink_status(file, error);
  if (error || !std::filesystem::is_regular_file(status) ||
      std::filesystem::file_size(file, error) > kLargestRecord || error) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return decode(text);
}

}  // namespace tolvane
