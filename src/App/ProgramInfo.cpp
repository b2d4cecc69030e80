#include "App/ProgramInfo.h"

#include "Platform/Bundle.h"

namespace tolvane {
namespace {

std::string infoString(const char* key, const char* fallback) {
  const auto info = platform::Bundle::main().infoDictionary();
  if (!info) return fallback;
  const auto found = info->find(key);
  if (found == info->end() || !found->is_string() || found->get<std::string>().empty())
    return fallback;
  return found->get<std::string>();
}

}  // namespace

std::string ProgramInfo::name() { return infoString("CFBundleName", kDefaultName); }

std::string ProgramInfo::version() {
  return infoString("CFBundleShortVersionString", kUnknownVersion);
}

}  // namespace tolvane
