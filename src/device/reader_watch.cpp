#include "device/reader_watch.h"

#include <PCSC/pcsclite.h>

#include <chrono>

namespace {

// pcsc-lite reports the reader's card event count in the upper 16 bits of the event state.
DWORD EventCount(DWORD state) { return state >> 16; }

}  // namespace

ReaderWatch::~ReaderWatch()
{
    if (context_ != 0) {
        SCardReleaseContext(context_);
    }
}

bool ReaderWatch::Look(SCARDCONTEXT context, const std::string& reader, DWORD timeoutMs, DWORD& state)
{
    SCARD_READERSTATE look{};
    look.szReader = reader.c_str();
    look.dwCurrentState = state;
    const LONG rc = SCardGetStatusChange(context, timeoutMs, &look, 1);
    if (rc == SCARD_E_TIMEOUT) {
        return true;  // nothing changed: state stays
    }
    if (rc != SCARD_S_SUCCESS) {
        return false;
    }
    state = look.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    return true;
}

bool ReaderWatch::Left(DWORD state) const
{
    return (state & (SCARD_STATE_EMPTY | SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE)) != 0 ||
           (state & SCARD_STATE_PRESENT) == 0 || EventCount(state) != events_;
}

void ReaderWatch::Arm(const std::string& reader)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    reader_ = reader;
    if (reader_.empty()) {
        return;
    }
    if (context_ == 0 && SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) {
        context_ = 0;
        return;
    }
    DWORD state = SCARD_STATE_UNAWARE;
    if (!Look(context_, reader_, 0, state) || (state & SCARD_STATE_PRESENT) == 0) {
        return;
    }
    events_ = EventCount(state);
    armed_ = true;
}

void ReaderWatch::Disarm()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
}

bool ReaderWatch::CardGone(unsigned waitMs)
{
    std::string reader;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!armed_) {
            return false;
        }
        DWORD state = SCARD_STATE_UNAWARE;
        if (!Look(context_, reader_, 0, state)) {
            return false;
        }
        if (Left(state) || waitMs == 0) {
            return Left(state);
        }
        reader = reader_;
    }
    // The wait runs on a context of its own, so that quick looks of other threads go on.
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return false;
    }
    bool gone = false;
    DWORD state = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (bool first = true;; first = false) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!first && left.count() <= 0) {
            break;
        }
        if (!Look(context, reader, first ? 0 : static_cast<DWORD>(left.count()), state)) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (armed_ && Left(state)) {
            gone = true;
            break;
        }
    }
    SCardReleaseContext(context);
    return gone;
}

bool ReaderWatch::ReaderHoldsCard()
{
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD state = SCARD_STATE_UNAWARE;
    return !reader_.empty() && context_ != 0 && Look(context_, reader_, 0, state) &&
           (state & SCARD_STATE_PRESENT) != 0;
}
