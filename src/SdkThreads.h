// The threads the SDK starts besides the queue manager's own: each body runs inside a guard
// that turns any exception into an Error line, and each is tracked, so that unloading the
// library can wait for them (code must not run on in unmapped memory). Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace CorvaneSDK {

// Runs `body`, catching everything: an exception (std::bad_alloc included) is logged at
// Error naming `what` and ends the body, never the process. Returns false when it threw.
bool RunGuarded(const char* what, const std::function<void()>& body) noexcept;

namespace SdkThreads {

// Starts a tracked thread running `body` under RunGuarded. False when no thread could be
// had; the body has then not run.
bool Start(const char* what, std::function<void()> body);

// Waits up to `timeoutMs` real milliseconds for every tracked thread (other than the
// caller) to end and joins those that did. Returns the number still running.
int JoinAll(int64_t timeoutMs);

// Names the calling thread "corvane-<name>", cut to what the OS takes (15 characters on
// Linux), so that debuggers and profilers tell the SDK's threads from the host's. Linux
// only; failure changes nothing.
void NameCurrentThread(const char* name);

// Called in the child of fork(), which is single-threaded then: forgets the parent's threads.
void ForgetAfterFork();

}  // namespace SdkThreads

// Generation of the process image: it changes in a child created by fork(). An object
// made before a fork remembers the generation and so knows that its threads are gone.
// The first call installs the fork handler (POSIX); Windows has no fork and returns 0.
unsigned ForkGeneration();

}  // namespace CorvaneSDK
