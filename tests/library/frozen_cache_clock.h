// Stops the token library's cache clock for as long as it lives, so that no cached answer
// (presence, revision, login state, token information) runs out in the middle of a command count
// however slow the machine; Advance moves the clock on where a test wants one to run out.
// The library reads ZR_TEST_CACHE_CLOCK at C_Initialize: construct this before it. Processes the
// test starts inherit the variable.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>

namespace librarytest {

class FrozenCacheClock {
public:
    FrozenCacheClock() { Publish(); }
    ~FrozenCacheClock() { unsetenv(kVariable); }
    FrozenCacheClock(const FrozenCacheClock&) = delete;
    FrozenCacheClock& operator=(const FrozenCacheClock&) = delete;

    // Only while no library call runs: the library reads the variable at every look at its clock.
    void Advance(std::chrono::seconds step) {
        shift_ += step;
        Publish();
    }

private:
    static constexpr const char* kVariable = "ZR_TEST_CACHE_CLOCK";

    void Publish() const { setenv(kVariable, std::to_string(shift_.count()).c_str(), 1); }

    std::chrono::seconds shift_{0};
};

}  // namespace librarytest
