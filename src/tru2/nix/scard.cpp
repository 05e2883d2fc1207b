#include "tru2/nix/scard.h"

#include <cstring>
#include <new>

#include "tru2/buffer.h"
#include "tru2/exception.h"

namespace nix {

namespace {

constexpr unsigned long kProtocolRaw = 0;
constexpr unsigned long kProtocolT0 = 1;
constexpr unsigned long kProtocolT1 = 2;

tru::TResult ToResult(LONG rv) { return static_cast<uint32_t>(rv); }

}  // namespace

// ---- SCard ----

SCard::SCard(long handle, unsigned long protocol, bool owned)
    : Handle<long>(handle, owned), protocol_(protocol)
{
}

SCard::~SCard()
{
    long card = 0;
    if (Disown(card))
        SCardDisconnect(card, SCARD_LEAVE_CARD);
}

const SCARD_IO_REQUEST* SCard::GetIORequestPtr() const
{
    switch (protocol_) {
    case kProtocolT0: return SCARD_PCI_T0;
    case kProtocolT1: return SCARD_PCI_T1;
    case kProtocolRaw: return SCARD_PCI_RAW;
    default: return nullptr;
    }
}

tru::TResult SCard::Transmit(unsigned sendLength, const void* send, unsigned& receiveLength, void* receive)
{
    DWORD received = receiveLength;
    const LONG rv = SCardTransmit(handle_, GetIORequestPtr(), static_cast<const BYTE*>(send), sendLength,
                                  nullptr, static_cast<BYTE*>(receive), &received);
    if (rv == SCARD_S_SUCCESS)
        receiveLength = static_cast<unsigned>(received);
    return ToResult(rv);
}

tru::TResult SCard::Transmit(const tru::Buffer& send, tru::BufferDynamic& receive)
{
    unsigned received = receive.Size();
    const tru::TResult rv = Transmit(send.Size(), send.Data(), received, receive.Data());
    if (rv != 0)
        return rv;
    return receive.Realloc(received);
}

tru::TResult SCard::GetStatus(char* readerName, unsigned& nameLength, unsigned long& state,
                          unsigned long& protocol, void* atr, unsigned& atrLength)
{
    DWORD nameLen = nameLength;
    DWORD atrLen = atrLength;
    DWORD st = 0;
    DWORD proto = 0;
    const LONG rv = SCardStatus(handle_, readerName, &nameLen, &st, &proto, static_cast<BYTE*>(atr), &atrLen);
    if (rv == SCARD_S_SUCCESS) {
        nameLength = static_cast<unsigned>(nameLen);
        atrLength = static_cast<unsigned>(atrLen);
        state = st;
        protocol = proto;
    }
    return ToResult(rv);
}

tru::TResult SCard::GetAttrib(unsigned long attribute, void* buffer, unsigned& length)
{
    DWORD len = length;
    const LONG rv = SCardGetAttrib(handle_, attribute, static_cast<BYTE*>(buffer), &len);
    if (rv == SCARD_S_SUCCESS)
        length = static_cast<unsigned>(len);
    return ToResult(rv);
}

tru::TResult SCard::BeginTransaction() { return ToResult(SCardBeginTransaction(handle_)); }

tru::TResult SCard::EndTransaction() { return ToResult(SCardEndTransaction(handle_, SCARD_LEAVE_CARD)); }

size_t SCard::EncodeAPDUNc(void* out, size_t iNc)
{
    auto* p = static_cast<unsigned char*>(out);
    if (iNc == 0 || iNc >= 0xFFFF)
        return 0;
    if (iNc <= 0xFF) {
        p[0] = static_cast<unsigned char>(iNc);
        return 1;
    }
    // Extended Lc: 00, then the length low byte first (the token's order, not ISO 7816-4's).
    p[0] = 0;
    p[1] = static_cast<unsigned char>(iNc & 0xFF);
    p[2] = static_cast<unsigned char>(iNc >> 8);
    return 3;
}

size_t SCard::EncodeAPDUNe(void* out, size_t iNe, size_t commandDataLength)
{
    auto* p = static_cast<unsigned char*>(out);
    if (iNe == 0 || iNe > 0x10000)
        return 0;
    if (iNe <= 0x100) {
        p[0] = static_cast<unsigned char>(iNe & 0xFF);  // 256 is coded 00
        return 1;
    }
    // Extended Le: low byte first, 00 00 for 65536, preceded by 00 when the command has data.
    size_t n = 0;
    if (commandDataLength != 0)
        p[n++] = 0;
    p[n++] = static_cast<unsigned char>(iNe & 0xFF);
    p[n++] = static_cast<unsigned char>((iNe >> 8) & 0xFF);
    return n;
}

// ---- SCardContext ----

std::unique_ptr<SCardContext> SCardContext::iGlobalInstancePtr_;

SCardContext::SCardContext(long handle, bool owned) : Handle<long>(handle, owned) {}

SCardContext::~SCardContext()
{
    long context = 0;
    if (Disown(context))
        SCardReleaseContext(context);
}

tru::TResult SCardContext::Establish(std::unique_ptr<SCardContext>& out, unsigned long scope)
{
    SCARDCONTEXT context = 0;
    const LONG rv = SCardEstablishContext(scope, nullptr, nullptr, &context);
    if (rv != SCARD_S_SUCCESS)
        return ToResult(rv);
    std::unique_ptr<SCardContext> fresh;
    try {
        fresh.reset(new SCardContext(context, true));
    } catch (const std::bad_alloc&) {
        SCardReleaseContext(context);
        return tru::ERROR_MEM;
    }
    out = std::move(fresh);
    return 0;
}

tru::TResult SCardContext::CreateGlobalInstance(unsigned long scope)
{
    if (iGlobalInstancePtr_)
        return tru::ERROR_INTERNAL;
    return Establish(iGlobalInstancePtr_, scope);
}

SCardContext& SCardContext::GetGlobalInstance()
{
    if (!iGlobalInstancePtr_) {
        const tru::TResult rv = Establish(iGlobalInstancePtr_, SCARD_SCOPE_USER);
        if (rv != 0)
            throw tru::Exception(rv);
    }
    return *iGlobalInstancePtr_;
}

SCardContext* SCardContext::GetGlobalInstancePtr() { return iGlobalInstancePtr_.get(); }

tru::TResult SCardContext::DestroyGlobalInstance()
{
    iGlobalInstancePtr_.reset();
    return 0;
}

tru::TResult SCardContext::Connect(std::unique_ptr<SCard>& out, const char* reader, unsigned long shareMode,
                               unsigned long preferredProtocols, unsigned long* activeProtocol)
{
    SCARDHANDLE card = 0;
    DWORD active = 0;
    const LONG rv = SCardConnect(handle_, reader, shareMode, preferredProtocols, &card, &active);
    if (rv != SCARD_S_SUCCESS)
        return ToResult(rv);
    std::unique_ptr<SCard> fresh;
    try {
        fresh.reset(new SCard(card, active, true));
    } catch (const std::bad_alloc&) {
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        return tru::ERROR_MEM;
    }
    if (activeProtocol)
        *activeProtocol = active;
    out = std::move(fresh);  // the old card, if owned, is disconnected only now
    return 0;
}

tru::TResult SCardContext::Reconnect(SCard& card, unsigned long shareMode, unsigned long preferredProtocols,
                                 unsigned long* activeProtocol)
{
    unsigned long active = 0;
    const tru::TResult rv = Reconnect(card.GetHandle(), shareMode, preferredProtocols, &active);
    if (rv == 0) {
        card.protocol_ = active;
        if (activeProtocol)
            *activeProtocol = active;
    }
    return rv;
}

tru::TResult SCardContext::Reconnect(long card, unsigned long shareMode, unsigned long preferredProtocols,
                                 unsigned long* activeProtocol)
{
    DWORD active = 0;
    const LONG rv = SCardReconnect(card, shareMode, preferredProtocols, SCARD_LEAVE_CARD, &active);
    if (rv == SCARD_S_SUCCESS && activeProtocol)
        *activeProtocol = active;
    return ToResult(rv);
}

tru::TResult SCardContext::ListReaders(std::vector<std::string>& out, const char* groups, const char* filter)
{
    out.clear();
    DWORD needed = 0;
    LONG rv = SCardListReaders(handle_, groups, nullptr, &needed);
    if (rv != SCARD_S_SUCCESS)
        return ToResult(rv);
    if (needed == 0)
        return 0;

    std::vector<char> names;
    try {
        names.resize(needed);
    } catch (const std::bad_alloc&) {
        return tru::ERROR_MEM;
    }
    DWORD length = needed;
    rv = SCardListReaders(handle_, groups, names.data(), &length);
    if (rv != SCARD_S_SUCCESS)
        return ToResult(rv);
    if (length > needed)
        length = needed;

    std::vector<std::string> found;
    try {
        SplitReaderNames(names.data(), length, filter, found);
    } catch (const std::bad_alloc&) {
        return tru::ERROR_MEM;
    }
    out.swap(found);
    return 0;
}

void SCardContext::SplitReaderNames(const char* names, size_t length, const char* filter,
                                    std::vector<std::string>& out)
{
    const size_t filterLength = filter ? std::strlen(filter) : 0;
    size_t pos = 0;
    while (names && pos < length) {
        // A name not terminated inside the reported length ends at the length.
        const char* name = names + pos;
        const size_t nameLength = strnlen(name, length - pos);
        if (nameLength == 0)
            break;
        const size_t common = nameLength < filterLength ? nameLength : filterLength;
        if (!filter || std::strncmp(name, filter, common) == 0)
            out.emplace_back(name, nameLength);
        pos += nameLength + 1;
    }
}

}  // namespace nix
