#pragma once

#include <chrono>
#include <functional>

namespace vantrel::test {

// How long a test waits for a state by default. Only a failing test waits it out, so it is
// generous enough for a loaded machine; it is never what a test measures.
inline constexpr std::chrono::milliseconds kWaitLimit = std::chrono::seconds(20);

// Looks at condition until it holds or limit passes; whether it held. The looks come often at
// first and every 50 ms once the wait has gone on for a while, so a condition that runs a program
// or reads /proc does not crowd a busy machine.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWaitLimit);

// What WaitUntil does between two looks, for about the time it is given: sleeps, unless the test
// executable sets otherwise. One whose conditions change only while its own thread handles events
// (a Qt test) sets this once before its first test; empty restores the sleep.
void SetWaitPause(std::function<void(std::chrono::milliseconds)> pause);

} // namespace vantrel::test
