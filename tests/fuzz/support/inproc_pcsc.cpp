#include "inproc_pcsc.h"

#include <PCSC/winscard.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace inproc {

std::recursive_mutex& PcscLock() {
    static std::recursive_mutex lock;
    return lock;
}

Pcsc& Pcsc::Instance() {
    static Pcsc pcsc;
    return pcsc;
}

void Pcsc::Reset() {
    std::lock_guard<std::recursive_mutex> guard(PcscLock());
    readers.clear();
    cards.clear();
    overrides = Overrides();
    answerFilter = nullptr;
}

tokensim::Simulator& Pcsc::AddReader(const std::string& name, tokensim::TokenOptions options) {
    std::lock_guard<std::recursive_mutex> guard(PcscLock());
    readers.push_back(Reader{name, std::make_unique<tokensim::Simulator>(std::move(options)), true});
    return *readers.back().simulator;
}

void Pcsc::SetPresent(size_t reader, bool present) {
    std::lock_guard<std::recursive_mutex> guard(PcscLock());
    if (reader < readers.size()) readers[reader].present = present;
}

}  // namespace inproc

using inproc::Pcsc;

namespace {

constexpr uint8_t kSendAtr = 0x04;  // the simulator's "send the ATR" control

Pcsc::Reader* ReaderOf(SCARDHANDLE card) {
    Pcsc& pcsc = Pcsc::Instance();
    auto it = pcsc.cards.find(card);
    if (it == pcsc.cards.end() || it->second >= pcsc.readers.size()) return nullptr;
    return &pcsc.readers[it->second];
}

inproc::Bytes AtrOf(Pcsc::Reader& reader) {
    const Pcsc& pcsc = Pcsc::Instance();
    if (pcsc.overrides.atr) return *pcsc.overrides.atr;
    inproc::Bytes answer;
    reader.simulator->HandleFrame({kSendAtr}, answer);
    return answer;
}

std::string ReaderList() {
    const Pcsc& pcsc = Pcsc::Instance();
    if (pcsc.overrides.readerList) return *pcsc.overrides.readerList;
    std::string list;
    for (const Pcsc::Reader& reader : pcsc.readers) list += reader.name + '\0';
    return list + '\0';
}

// Copies a value into a caller's buffer with PC/SC's length rules.
LONG Hand(const void* value, size_t size, void* out, DWORD* length) {
    if (length == nullptr) return SCARD_E_INVALID_PARAMETER;
    if (out == nullptr) {
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (size != 0) std::memcpy(out, value, size);
    *length = size;
    return SCARD_S_SUCCESS;
}

}  // namespace

extern "C" {

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (context == nullptr) return SCARD_E_INVALID_PARAMETER;
    *context = 0x5C;
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT) { return SCARD_S_SUCCESS; }

LONG SCardIsValidContext(SCARDCONTEXT) { return SCARD_S_SUCCESS; }

LONG SCardListReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD length) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    const std::string list = ReaderList();
    if (list.size() <= 1 && !Pcsc::Instance().overrides.readerList) return SCARD_E_NO_READERS_AVAILABLE;
    return Hand(list.data(), list.size(), readers, length);
}

LONG SCardConnect(SCARDCONTEXT, LPCSTR name, DWORD, DWORD, LPSCARDHANDLE card, LPDWORD protocol) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc& pcsc = Pcsc::Instance();
    if (name == nullptr || card == nullptr || protocol == nullptr) return SCARD_E_INVALID_PARAMETER;
    if (pcsc.overrides.connectResult && *pcsc.overrides.connectResult != SCARD_S_SUCCESS) {
        return *pcsc.overrides.connectResult;
    }
    for (size_t i = 0; i < pcsc.readers.size(); ++i) {
        if (pcsc.readers[i].name != name) continue;
        if (!pcsc.readers[i].present) return SCARD_E_NO_SMARTCARD;
        *card = pcsc.nextHandle++;
        pcsc.cards[*card] = i;
        *protocol = pcsc.overrides.protocol.value_or(SCARD_PROTOCOL_T1);
        return SCARD_S_SUCCESS;
    }
    return SCARD_E_UNKNOWN_READER;
}

LONG SCardReconnect(SCARDHANDLE card, DWORD, DWORD, DWORD, LPDWORD protocol) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc::Reader* reader = ReaderOf(card);
    if (reader == nullptr) return SCARD_E_INVALID_HANDLE;
    if (!reader->present) return SCARD_E_NO_SMARTCARD;
    if (protocol != nullptr) *protocol = Pcsc::Instance().overrides.protocol.value_or(SCARD_PROTOCOL_T1);
    return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    return Pcsc::Instance().cards.erase(card) == 1 ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardBeginTransaction(SCARDHANDLE card) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc::Reader* reader = ReaderOf(card);
    if (reader == nullptr) return SCARD_E_INVALID_HANDLE;
    return reader->present ? SCARD_S_SUCCESS : SCARD_W_REMOVED_CARD;
}

LONG SCardEndTransaction(SCARDHANDLE card, DWORD) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    return ReaderOf(card) != nullptr ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardStatus(SCARDHANDLE card, LPSTR name, LPDWORD nameLength, LPDWORD state, LPDWORD protocol, LPBYTE atr,
                 LPDWORD atrLength) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc& pcsc = Pcsc::Instance();
    Pcsc::Reader* reader = ReaderOf(card);
    if (reader == nullptr) return SCARD_E_INVALID_HANDLE;
    if (pcsc.overrides.statusResult && *pcsc.overrides.statusResult != SCARD_S_SUCCESS) {
        return *pcsc.overrides.statusResult;
    }
    if (!reader->present) return SCARD_W_REMOVED_CARD;
    if (state != nullptr) *state = pcsc.overrides.state.value_or(SCARD_SPECIFIC);
    if (protocol != nullptr) *protocol = pcsc.overrides.protocol.value_or(SCARD_PROTOCOL_T1);
    if (nameLength != nullptr) {
        const LONG rv = Hand(reader->name.c_str(), reader->name.size() + 1, name, nameLength);
        if (rv != SCARD_S_SUCCESS) return rv;
    }
    if (atrLength != nullptr) {
        const inproc::Bytes value = AtrOf(*reader);
        return Hand(value.data(), value.size(), atr, atrLength);
    }
    return SCARD_S_SUCCESS;
}

LONG SCardGetAttrib(SCARDHANDLE card, DWORD, LPBYTE value, LPDWORD length) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc::Reader* reader = ReaderOf(card);
    if (reader == nullptr) return SCARD_E_INVALID_HANDLE;
    const auto& attribute = Pcsc::Instance().overrides.attribute;
    if (!attribute) return SCARD_E_UNSUPPORTED_FEATURE;
    return Hand(attribute->data(), attribute->size(), value, length);
}

LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST*, LPCBYTE send, DWORD sendLength, SCARD_IO_REQUEST*,
                   LPBYTE receive, LPDWORD receiveLength) {
    std::lock_guard<std::recursive_mutex> guard(inproc::PcscLock());
    Pcsc& pcsc = Pcsc::Instance();
    Pcsc::Reader* reader = ReaderOf(card);
    if (reader == nullptr) return SCARD_E_INVALID_HANDLE;
    if (send == nullptr || receive == nullptr || receiveLength == nullptr) return SCARD_E_INVALID_PARAMETER;
    if (pcsc.overrides.transmitResult && *pcsc.overrides.transmitResult != SCARD_S_SUCCESS) {
        return *pcsc.overrides.transmitResult;
    }
    if (!reader->present) return SCARD_W_REMOVED_CARD;
    const inproc::Bytes command(send, send + sendLength);
    inproc::Bytes answer;
    // A one-byte command would be taken for a reader control; no token command is that short.
    if (command.size() < 2 || !reader->simulator->HandleFrame(command, answer)) answer = {0x67, 0x00};
    if (pcsc.answerFilter) pcsc.answerFilter(command, answer);
    return Hand(answer.data(), answer.size(), receive, receiveLength);
}

}  // extern "C"
