#pragma once

#include <chrono>

namespace tolvane::platform {

// libcurl and OpenSSL keep process-wide state. Network threads are never joined when a
// program exits (they may be mid-transfer), so that state must outlive them.

// Sets both libraries up so that OpenSSL never frees its global state in an exit handler.
// Idempotent and thread-safe. OpenSSL decides this on its first use, so a program that uses
// OpenSSL itself (a test certificate, a TLS server) calls this before doing so; the
// transport calls it before its first transfer.
void initialiseNetworkLibraries();

// Waits, at most `timeout`, until no network thread that has been told to stop is still
// releasing libcurl's state. For programs that return from main rather than ending at once.
// Returns whether they all finished.
bool waitForNetworkThreadsToWindDown(std::chrono::milliseconds timeout);

}  // namespace tolvane::platform
