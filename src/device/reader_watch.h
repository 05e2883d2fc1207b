// Whether the card a connection was made to is still in its reader, asked of the PC/SC service
// without a card command: the reader's state and its count of card events.
#pragma once

#include <PCSC/winscard.h>

#include <mutex>
#include <string>

class ReaderWatch {
public:
    ReaderWatch() = default;
    ~ReaderWatch();
    ReaderWatch(const ReaderWatch&) = delete;
    ReaderWatch& operator=(const ReaderWatch&) = delete;

    // Remembers the reader and its card events as they are now, just after a connection to its
    // card was made. Without a reader name (or when the service cannot say) nothing is watched.
    void Arm(const std::string& reader);
    void Disarm();

    // True when the card seen at Arm has left: the reader is empty or gone, a card event
    // happened since (pulled and put back), or MarkLeft was called. One look, no wait;
    // thread-safe; never touches the card connection.
    bool CardGone();

    // The connection found its card gone before the service noticed (the service polls the
    // reader, and a card put back before its next poll looks to it as if it never left): the
    // card counts as gone until the next Arm.
    void MarkLeft();

    // True when the reader last armed shows a card now, whichever card it is.
    bool ReaderHoldsCard();

private:
    // One look at the reader through the context; false when the service could not say.
    static bool Look(SCARDCONTEXT context, const std::string& reader, DWORD& state);
    bool Left(DWORD state) const;

    std::mutex mutex_;  // everything below; a leaf of the lock order
    std::string reader_;
    DWORD events_ = 0;  // the reader's card event count at Arm
    bool armed_ = false;
    bool left_ = false;  // MarkLeft since Arm
    SCARDCONTEXT context_ = 0;  // for quick looks, made on first need
};
