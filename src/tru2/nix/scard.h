#pragma once

#include <PCSC/winscard.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tru2/nix/handle.h"
#include "tru2/result_codes.h"

namespace tru {
class Buffer;
class BufferDynamic;
}  // namespace tru

namespace nix {

// PC/SC Lite's DWORD and LONG are 64-bit on this platform; every call below returns PC/SC's
// result as a result code (0x8010xxxx values fit 32 bits unchanged) and converts lengths.

// Connection to the card in one reader, with the protocol the connection runs.
class SCard : public Handle<long> {
public:
    // protocol: 1 T=0, 2 T=1, 0 raw; any other value makes Transmit pass no control structure.
    SCard(long handle, unsigned long protocol, bool owned);
    ~SCard() override;

    unsigned long GetProtocol() const { return protocol_; }

    // Protocol control structure for the active protocol, or null for an unknown protocol.
    const SCARD_IO_REQUEST* GetIORequestPtr() const;

    // receiveLength: capacity in, bytes received out (left unchanged on failure).
    tru::TResult Transmit(unsigned sendLength, const void* send, unsigned& receiveLength, void* receive);
    // Uses the receive buffer's size as capacity and shrinks it to the bytes received.
    tru::TResult Transmit(const tru::Buffer& send, tru::BufferDynamic& receive);

    // All four out values are stored only on success.
    tru::TResult GetStatus(char* readerName, unsigned& nameLength, unsigned long& state,
                       unsigned long& protocol, void* atr, unsigned& atrLength);
    tru::TResult GetAttrib(unsigned long attribute, void* buffer, unsigned& length);

    tru::TResult BeginTransaction();
    tru::TResult EndTransaction();  // leaves the card as it is

    // Lc and Le in the token's own form (extended lengths low byte first); return the
    // number of bytes written to out, which must have room for 3. Lengths the forms cannot
    // carry (Nc 65535 and above, Ne above 65536) write nothing and return 0: the caller
    // must refuse such a command before encoding it.
    static size_t EncodeAPDUNc(void* out, size_t iNc);
    static size_t EncodeAPDUNe(void* out, size_t iNe, size_t commandDataLength);

private:
    friend class SCardContext;
    unsigned long protocol_;
};

// A PC/SC resource-manager context.
class SCardContext : public Handle<long> {
public:
    SCardContext(long handle, bool owned);
    ~SCardContext() override;

    // On success out holds a new owned context (its old one released); on failure out is untouched.
    static tru::TResult Establish(std::unique_ptr<SCardContext>& out, unsigned long scope);

    // Process-wide context.
    static tru::TResult CreateGlobalInstance(unsigned long scope);
    // Creates the instance with SCARD_SCOPE_USER when none exists; throws tru::Exception
    // with the PC/SC result when that fails.
    static SCardContext& GetGlobalInstance();
    static SCardContext* GetGlobalInstancePtr();  // null when none exists
    static tru::TResult DestroyGlobalInstance();

    // On success out holds a new owned card and the old one, if owned, is disconnected only
    // then; on failure out and activeProtocol are untouched. No protocol fallback here.
    tru::TResult Connect(std::unique_ptr<SCard>& out, const char* reader, unsigned long shareMode,
                     unsigned long preferredProtocols, unsigned long* activeProtocol);

    // After a reset the card may come back with another protocol: this form also updates the
    // card's protocol so that later transmissions use the right control structure.
    tru::TResult Reconnect(SCard& card, unsigned long shareMode, unsigned long preferredProtocols,
                       unsigned long* activeProtocol);
    // Raw-handle form: updates no wrapper.
    tru::TResult Reconnect(long card, unsigned long shareMode, unsigned long preferredProtocols,
                       unsigned long* activeProtocol);

    // Appends nothing on failure. A filter keeps names that agree with it over the length of
    // the shorter of the two.
    tru::TResult ListReaders(std::vector<std::string>& out, const char* groups, const char* filter);

    // The names of a PC/SC multi-string of the given length (an empty name ends it), kept
    // as ListReaders keeps them; appended to out.
    static void SplitReaderNames(const char* names, size_t length, const char* filter, std::vector<std::string>& out);

private:
    static std::unique_ptr<SCardContext> iGlobalInstancePtr_;
};

}  // namespace nix
