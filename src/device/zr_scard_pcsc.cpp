// The PC/SC side of a token connection: context, reader list, connection, status, attributes,
// transactions.
#include <PCSC/pcsclite.h>

#include "device/device_results.h"
#include "device/zr_scard.h"
#include "tru2/exception.h"

namespace {

constexpr uint32_t kReaderNameCapacity = 256;
constexpr uint32_t kAtrCapacity = MAX_ATR_SIZE;  // 33: the longest ATR ISO 7816-3 allows

// Establishing with system scope fails with these when the caller may not use the system scope.
bool RetryWithUserScope(uint32_t rc)
{
    return rc == SCARD_E_NO_ACCESS || rc == SCARD_E_NO_SERVICE || rc == 5;
}

// The protocol an existing connection runs (an application's handle may run T=0); T=1 when
// there is no connection yet or the card cannot say.
unsigned long ActiveProtocol(SCARDHANDLE handle)
{
    if (handle == 0) {
        return SCARD_PROTOCOL_T1;
    }
    nix::SCard probe(static_cast<long>(handle), SCARD_PROTOCOL_T1, false);
    char name[kReaderNameCapacity];
    uint8_t atr[kAtrCapacity];
    unsigned nameLength = sizeof(name);
    unsigned atrLength = sizeof(atr);
    unsigned long state = 0;
    unsigned long protocol = 0;
    if (probe.GetStatus(name, nameLength, state, protocol, atr, atrLength) != 0 ||
        (protocol != SCARD_PROTOCOL_T0 && protocol != SCARD_PROTOCOL_T1)) {
        return SCARD_PROTOCOL_T1;
    }
    return protocol;
}

}  // namespace

ZrSCard::ZrSCard(SCARDHANDLE handle, bool owned)
    : card_(std::make_unique<nix::SCard>(static_cast<long>(handle), ActiveProtocol(handle), owned))
{
}

ZrSCard::ZrSCard(std::unique_ptr<nix::SCard> card) : card_(std::move(card)) {}

ZrSCard::~ZrSCard()
{
    card_.reset();
    context_.reset();
}

void ZrSCard::SetupCardContext()
{
    if (context_) {
        return;
    }
    uint32_t rc = nix::SCardContext::Establish(context_, SCARD_SCOPE_SYSTEM);
    if (RetryWithUserScope(rc)) {
        rc = nix::SCardContext::Establish(context_, SCARD_SCOPE_USER);
    }
    if (rc != 0) {
        throw tru::Exception(rc);
    }
}

uint32_t ZrSCard::ReleaseCardContext()
{
    context_.reset();
    return devrc::kSuccess;
}

uint32_t ZrSCard::ListAllReaders(std::vector<std::string>& names)
{
    SetupCardContext();
    uint32_t rc = context_->ListReaders(names, nullptr, nullptr);
    if (rc != 0) {
        // A context left over from a restarted PC/SC service fails: retry once with a fresh one.
        ReleaseCardContext();
        SetupCardContext();
        rc = context_->ListReaders(names, nullptr, nullptr);
    }
    return rc;
}

uint32_t ZrSCard::GetAmount(uint32_t& count)
{
    std::vector<std::string> names;
    const uint32_t rc = ListAllReaders(names);
    if (rc == 0) {
        count = static_cast<uint32_t>(names.size());
    }
    return rc;
}

uint32_t ZrSCard::GetReaderName(uint32_t index, std::string& name)
{
    std::vector<std::string> names;
    const uint32_t rc = ListAllReaders(names);
    if (rc != 0) {
        return rc;
    }
    if (index >= names.size()) {
        return SCARD_E_NO_SMARTCARD;
    }
    name = names[index];
    return devrc::kSuccess;
}

uint32_t ZrSCard::Open(uint32_t index, uint32_t shareMode)
{
    std::vector<std::string> names;
    uint32_t rc = ListAllReaders(names);
    if (rc != 0) {
        return rc;
    }
    if (index >= names.size()) {
        return SCARD_E_NO_SMARTCARD;
    }
    std::unique_ptr<nix::SCard> card;
    unsigned long protocol = 0;
    rc = context_->Connect(card, names[index].c_str(), shareMode, SCARD_PROTOCOL_T1, &protocol);
    if (rc == SCARD_E_PROTO_MISMATCH) {
        rc = context_->Connect(card, names[index].c_str(), shareMode, SCARD_PROTOCOL_T0, &protocol);
    }
    if (rc == 0) {
        card_ = std::move(card);
    }
    return rc;
}

uint32_t ZrSCard::Reopen(uint32_t shareMode)
{
    SetupCardContext();
    if (!card_) {
        return devrc::kNoDevice;
    }
    // As in Open, a card that speaks only T=0 is asked again for T=0; the wrapper form keeps the
    // recorded protocol in step with what the card came back with.
    uint32_t rc = context_->Reconnect(*card_, shareMode, SCARD_PROTOCOL_T1, nullptr);
    if (rc == SCARD_E_PROTO_MISMATCH) {
        rc = context_->Reconnect(*card_, shareMode, SCARD_PROTOCOL_T0, nullptr);
    }
    return rc;
}

uint32_t ZrSCard::ReadCardStatus(tru::BufferDynamic& readerName, uint32_t& state, tru::BufferDynamic& atr)
{
    if (!card_) {
        return devrc::kNoDevice;
    }
    uint32_t rc = readerName.Alloc(kReaderNameCapacity);
    if (rc == 0) {
        rc = atr.Alloc(kAtrCapacity);
    }
    if (rc != 0) {
        return rc;
    }
    unsigned nameLength = readerName.Size();
    unsigned atrLength = atr.Size();
    unsigned long cardState = 0;
    unsigned long protocol = 0;
    rc = card_->GetStatus(reinterpret_cast<char*>(readerName.Data()), nameLength, cardState, protocol, atr.Data(),
                          atrLength);
    if (rc != 0) {
        return rc;
    }
    rc = readerName.Realloc(std::min<unsigned>(nameLength, kReaderNameCapacity));
    if (rc == 0) {
        rc = atr.Realloc(std::min<unsigned>(atrLength, kAtrCapacity));
    }
    state = static_cast<uint32_t>(cardState);
    return rc;
}

uint32_t ZrSCard::GetSlotAttr(uint32_t attributeId, uint8_t* out, size_t& length)
{
    if (!card_) {
        return devrc::kNoDevice;
    }
    unsigned capacity = static_cast<unsigned>(std::min<size_t>(length, 0xFFFFFFFFu));
    const uint32_t rc = card_->GetAttrib(attributeId, out, capacity);
    if (rc == 0) {
        length = capacity;
    }
    return rc;
}

uint32_t ZrSCard::BeginTransaction()
{
    return card_ ? card_->BeginTransaction() : devrc::kNoDevice;
}

uint32_t ZrSCard::EndTransaction()
{
    return card_ ? card_->EndTransaction() : devrc::kNoDevice;
}

SCARDHANDLE ZrSCard::GetHandle() const
{
    return card_ ? static_cast<SCARDHANDLE>(card_->GetHandle()) : 0;
}
