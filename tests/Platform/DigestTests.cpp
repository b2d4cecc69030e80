#include "Platform/Digest.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "Platform/FileDescriptor.h"
#include "Platform/MappedFile.h"
#include "Platform/SystemError.h"
#include "Support/ChildProgram.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) text += {kDigits[byte >> 4], kDigits[byte & 0x0f]};
  return text;
}

// The digests as coreutils computes them, independently of the crypto library.
TEST(DigestTest, HashesAFileReadInPiecesAsCoreutilsDoes) {
  test::TemporaryDirectory temp;
  const fs::path file = temp.path() / "release.jar";
  test::writeFile(file, test::patternBytes(3 * 65536 + 11, 3));
  for (const auto& [algorithm, tool] : {std::pair(Digest::Algorithm::blake2b512, "b2sum"),
                                        std::pair(Digest::Algorithm::sha256, "sha256sum")}) {
    const std::string expected = test::commandOutput(std::string(tool) + " " + file.string());
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    EXPECT_EQ(hex(Digest::ofFile(algorithm, fd.get(), file)),
              expected.substr(0, expected.find(' ')))
        << tool;
  }
}

TEST(DigestTest, AFailedReadNamesTheFile) {
  test::TemporaryDirectory temp;
  const FileDescriptor folder(::open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const auto error = test::thrown<SystemError>(
      [&] { (void)Digest::ofFile(Digest::Algorithm::blake2b512, folder.get(), temp.path()); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->code(), EISDIR);
  EXPECT_EQ(error->path(), temp.path());
}

TEST(MappedFileTest, ShowsAFilesBytesAndRefusesWhatIsNotAFile) {
  test::TemporaryDirectory temp;
  const std::string bytes = test::patternBytes(70000, 4);
  test::writeFile(temp.path() / "a.jar", bytes);
  test::writeFile(temp.path() / "empty.jar", "");
  EXPECT_EQ(MappedFile(temp.path() / "a.jar").bytes(), bytes);
  EXPECT_EQ(MappedFile(temp.path() / "empty.jar").bytes(), "");
  for (const fs::path& path : {temp.path() / "missing.jar", temp.path()}) {
    const auto error = test::thrown<SystemError>([&] { MappedFile mapped(path); });
    ASSERT_TRUE(error.has_value()) << path;
    EXPECT_EQ(error->path(), path);
  }
}

}  // namespace
}  // namespace tolvane::platform
