#pragma once

#include <chrono>

namespace qel {

// The clock of the driver's caches (presence, revision, login state, token information):
// monotonic, so that a change of the system time neither keeps nor drops a cached answer.
//
// Tests stop it, so that no cache runs out in the middle of a count however slow the machine,
// and move it on where they want one to run out. A test that reaches the library only through
// its C_ functions sets ZR_TEST_CACHE_CLOCK=<seconds> before C_Initialize: the clock then stands
// that many seconds after the moment of C_Initialize, and the variable is read again at every
// look at the clock, so raising it (while no call runs) moves the clock on.
class CacheClock {
public:
    using Stamp = std::chrono::steady_clock::time_point;  // Stamp{}: nothing cached

    static Stamp Now();
    // Set, and no older than the lifetime.
    static bool IsFresh(Stamp stamp, std::chrono::seconds lifetime);

    // Test aids. The clock never goes back: what it was moved on stays when it runs again.
    static void Freeze();
    static void Advance(std::chrono::steady_clock::duration step);
    static void Thaw();
    // At C_Initialize: with ZR_TEST_CACHE_CLOCK set the clock stops and follows it; without it a
    // clock that followed it runs again.
    static void FollowTestEnvironment();
};

}  // namespace qel
