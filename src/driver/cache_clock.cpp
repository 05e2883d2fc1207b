#include "driver/cache_clock.h"

#include <atomic>
#include <cstdlib>

namespace qel {

namespace {

using Clock = std::chrono::steady_clock;
using Ticks = Clock::rep;

constexpr const char* kTestVariable = "ZR_TEST_CACHE_CLOCK";

std::atomic<bool> frozen{false};
std::atomic<Ticks> frozenAt{0};
std::atomic<Ticks> offset{0};
std::atomic<bool> followsVariable{false};
// The largest shift the variable gave: the clock does not go back when it is lowered or unset.
std::atomic<Ticks> variableShift{0};

Ticks RunningTicks() { return Clock::now().time_since_epoch().count(); }

Ticks VariableShift() {
    const char* text = std::getenv(kTestVariable);
    const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    const Ticks shift = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds)).count();
    Ticks kept = variableShift.load();
    while (shift > kept && !variableShift.compare_exchange_weak(kept, shift)) {
    }
    return shift > kept ? shift : kept;
}

}  // namespace

CacheClock::Stamp CacheClock::Now() {
    const Ticks base = frozen.load() ? frozenAt.load() : RunningTicks();
    const Ticks shift = offset.load() + (followsVariable.load() ? VariableShift() : 0);
    return Stamp(Clock::duration(base + shift));
}

bool CacheClock::IsFresh(Stamp stamp, std::chrono::seconds lifetime) {
    return stamp != Stamp{} && Now() - stamp <= lifetime;
}

void CacheClock::Freeze() {
    if (frozen.load()) return;
    frozenAt.store(RunningTicks());
    frozen.store(true);
}

void CacheClock::Advance(Clock::duration step) { offset += step.count(); }

void CacheClock::Thaw() {
    // The running clock is past the moment it stopped at; the shifts stay in the offset.
    if (followsVariable.exchange(false)) offset += variableShift.exchange(0);
    frozen.store(false);
}

void CacheClock::FollowTestEnvironment() {
    if (std::getenv(kTestVariable) != nullptr) {
        Freeze();
        followsVariable.store(true);
    } else if (followsVariable.load()) {
        Thaw();
    }
}

}  // namespace qel
