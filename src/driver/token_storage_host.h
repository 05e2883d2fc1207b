#pragma once

#include "tru2/buffer.h"

namespace qel {

// What a token storage needs of the token that owns it. The token implements it.
class TokenStorageHost {
public:
    virtual ~TokenStorageHost() = default;

    // Brand chosen by the library object: 0 or 1 (selects the ATR acceptor table).
    virtual int GetBrand() const = 0;
    // Fills the whole buffer from the application's random callback or OS entropy;
    // failures are thrown as zrck::Exception.
    virtual void GetExternalRandom(tru::Buffer& out) = 0;
    // A new connection reached the card: the slot drops its objects, closes its sessions and
    // runs its post-initialisation. Called with no storage lock held.
    virtual void OnTokenConnected() = 0;
    // The card in the reader changed or went away. Called with no storage lock held.
    virtual void OnSlotEvent() = 0;
};

}  // namespace qel
