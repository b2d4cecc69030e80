#include "Support/FakeRuntime.h"

#include <sstream>
#include <stdexcept>

#include "Platform/Process.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"
#include "Support/WaitUntil.h"

namespace tolvane::test {

namespace fs = std::filesystem;

namespace {
std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
}  // namespace

std::string FakeRuntime::script(const fs::path& recordFile, std::chrono::milliseconds delay) {
  const std::string record = shellQuoted(recordFile.string());
  std::ostringstream text;
  text << "#!/bin/sh\n";
  if (delay.count() > 0) text << "sleep " << delay.count() / 1000.0 << "\n";
  text << "{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > " << record
       << ".tmp && mv " << record << ".tmp " << record << "\n";
  return text.str();
}

void FakeRuntime::writeArchive(const fs::path& archive, const fs::path& recordFile,
                               std::chrono::milliseconds delay) {
  TemporaryDirectory staging;
  fs::remove(archive);  // zip would otherwise add to what is there
  writeFile(staging.path() / "java" / "bin" / "java", script(recordFile, delay), fs::perms(0755));
  writeFile(staging.path() / "java" / "lib" / "modules", "not really a module image\n");
  platform::Process zip("/usr/bin/zip", {"-r", "-q", "-y", fs::absolute(archive).string(), "java"},
                        staging.path());
  zip.run();
  if (!zip.waitUntilExit().succeeded()) throw std::runtime_error("zip failed");
}

std::optional<LaunchRecord> FakeRuntime::readRecord(const fs::path& file) {
  if (!fs::exists(file)) return std::nullopt;
  std::istringstream lines(readFile(file));
  LaunchRecord record;
  std::getline(lines, record.workingFolder);
  for (std::string line; std::getline(lines, line);) record.arguments.push_back(line);
  return record;
}

std::optional<LaunchRecord> FakeRuntime::waitForRecord(const fs::path& file,
                                                       std::chrono::milliseconds timeout) {
  std::optional<LaunchRecord> record;
  waitUntil([&] { return (record = readRecord(file)).has_value(); }, timeout);
  return record;
}

}  // namespace tolvane::test
