#pragma once

#include <filesystem>

#include "Support/TemporaryDirectory.h"

namespace tolvane::test {

// A throw-away certificate authority and server certificates it signed, made at test time
// and written as PEM files into a temporary folder. Trust caFile() to accept the servers.
class TestCertificate {
 public:
  struct Pair {
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
  };

  TestCertificate();

  // One set per test program: generating keys takes a moment.
  static const TestCertificate& shared();

  const std::filesystem::path& caFile() const { return caFile_; }
  // For "127.0.0.1" and "localhost".
  const Pair& loopback() const { return loopback_; }
  // Signed by the same CA, but for "wrong-host.invalid" only.
  const Pair& wrongHost() const { return wrongHost_; }
  // For "127.0.0.1", signed by a second CA that nobody trusts.
  const Pair& untrusted() const { return untrusted_; }

 private:
  TemporaryDirectory folder_;
  std::filesystem::path caFile_;
  Pair loopback_;
  Pair wrongHost_;
  Pair untrusted_;
};

}  // namespace tolvane::test
