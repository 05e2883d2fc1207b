#include "device/reader_watch.h"

#include <PCSC/pcsclite.h>

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

bool ReaderWatch::Look(SCARDCONTEXT context, const std::string& reader, DWORD& state)
{
    SCARD_READERSTATE look{};
    look.szReader = reader.c_str();
    look.dwCurrentState = state;
    const LONG rc = SCardGetStatusChange(context, 0, &look, 1);
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
    left_ = false;
    reader_ = reader;
    if (reader_.empty()) {
        return;
    }
    if (context_ == 0 && SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) {
        context_ = 0;
        return;
    }
    DWORD state = SCARD_STATE_UNAWARE;
    if (!Look(context_, reader_, state) || (state & SCARD_STATE_PRESENT) == 0) {
        return;
    }
    events_ = EventCount(state);
    armed_ = true;
}

void ReaderWatch::Disarm()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    left_ = false;
}

void ReaderWatch::MarkLeft()
{
    std::lock_guard<std::mutex> lock(mutex_);
    left_ = true;
}

bool ReaderWatch::CardGone()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (left_) {
        return true;
    }
    DWORD state = SCARD_STATE_UNAWARE;
    return armed_ && Look(context_, reader_, state) && Left(state);
}

bool ReaderWatch::ReaderHoldsCard()
{
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD state = SCARD_STATE_UNAWARE;
    return !reader_.empty() && context_ != 0 && Look(context_, reader_, state) &&
           (state & SCARD_STATE_PRESENT) != 0;
}
