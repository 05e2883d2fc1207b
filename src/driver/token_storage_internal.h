#pragma once

#include <chrono>
#include <cstdint>

#include "device/device_results.h"
#include "driver/cache_clock.h"
#include "driver/token_storage.h"

// Constants and small helpers shared by the storage's source files.
namespace qel::detail {

constexpr uint32_t kCardReset = 0x80100068;  // SCARD_W_RESET_CARD
constexpr uint32_t kInvalidSession = devrc::kInvalidSession;
// A card that keeps reporting resets, or a device that keeps refusing a fresh session, ends
// the command after this many repeats instead of looping for ever.
constexpr unsigned kMaxResetRepeats = 8;
constexpr unsigned kMaxSessionRenewals = 2;
constexpr unsigned kMaxResponseDelayAttempts = 3;
constexpr std::chrono::seconds kCacheLifetime{5};
// Bigger answers than this are not files or outputs of this store: a hostile or broken device.
constexpr uint32_t kMaxDeviceOutput = 0x100000;

inline bool IsFresh(CacheClock::Stamp stamp)
{
    return CacheClock::IsFresh(stamp, kCacheLifetime);
}

}  // namespace qel::detail

namespace qel {

template <typename Command>
uint32_t TokenStorage::Run(Command&& command, OnInvalidSession rule)
{
    unsigned resets = 0;
    unsigned renewals = 0;
    for (;;) {
        const uint32_t rc = command();
        if (rc == detail::kCardReset && resets < detail::kMaxResetRepeats) {
            ++resets;
            indexImages_.clear();  // the PC/SC transaction ended with the reset
            device_->Reopen();
            continue;
        }
        if (rc == detail::kInvalidSession) {
            if (rule == OnInvalidSession::Success) {
                return 0;
            }
            if (rule == OnInvalidSession::NewSession && renewals < detail::kMaxSessionRenewals) {
                ++renewals;
                OpenDevSessionMicroIntD();
                continue;
            }
        }
        return rc;
    }
}

}  // namespace qel
