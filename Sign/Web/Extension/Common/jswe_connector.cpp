#include "Extension/Common/jswe_connector.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Every wire word is six bytes: the four letters between double quotes.
constexpr unsigned long kWordLength = 6;
constexpr char kResetWord[] = "\"rset\"";
constexpr char kNextWord[] = "\"next\"";
constexpr char kInfoWord[] = "\"info\"";
constexpr char kProtocolErrorText[] = "\"err0\"";
constexpr char kProcessingErrorText[] = "\"err1\"";
// A part reply frames its base64 text with a quote, four letters and a quote.
constexpr unsigned long kPartFraming = 6;
constexpr unsigned long kInfoTextRoom = 2048;

bool IsWord(const unsigned char* request, unsigned long length, const char* word)
{
    return length == kWordLength && std::memcmp(request, word, kWordLength) == 0;
}

} // namespace

JSWEConnector::~JSWEConnector()
{
    Finalize();
}

unsigned long JSWEConnector::MaxPartSize(unsigned long bufferSize)
{
    // Four characters per three bytes, with room for the framing.
    return bufferSize < 10 ? 0 : (bufferSize - 10) / 4 * 3;
}

int JSWEConnector::Initialize(IJSWEConnectorDelegate* delegate)
{
    if (initialized_)
        Finalize();
    if (!delegate)
        return 0;
    const unsigned long size = delegate->GetMaxResponseBufferSize();
    // A buffer that cannot carry one byte per part would never finish a result.
    if (MaxPartSize(size) == 0)
        return 0;
    buffer_ = new (std::nothrow) unsigned char[size];
    if (!buffer_)
        return 0;
    bufferSize_ = size;
    delegate_ = delegate;
    initialized_ = 1;
    return 1;
}

void JSWEConnector::Finalize()
{
    if (!initialized_)
        return;
    delete[] buffer_;
    buffer_ = nullptr;
    bufferSize_ = 0;
    ClearResultData();
    initialized_ = 0;
}

void JSWEConnector::Reset()
{
    ClearResultData();
}

int JSWEConnector::GetMessageType(const unsigned char* request, unsigned long length)
{
    if (!request)
        return kData;
    if (IsWord(request, length, kResetWord))
        return kReset;
    if (IsWord(request, length, kNextWord))
        return kNext;
    if (IsWord(request, length, kInfoWord))
        return kInformation;
    return kData;
}

int JSWEConnector::HandleMessage(const unsigned char* request, unsigned long length,
                                 const unsigned char** reply, unsigned long* replyLength)
{
    *reply = buffer_;
    *replyLength = 0;
    if (!initialized_)
        return 0;
    switch (GetMessageType(request, length)) {
    case kInformation:
        MakeResultMessage(kInfoReply, nullptr, 0, reply, replyLength);
        break;
    case kNext:
        if (resultPending_)
            ReplyWithNextPart(reply, replyLength);
        else
            MakeResultMessage(kProtocolError, nullptr, 0, reply, replyLength);
        break;
    case kData: {
        if (resultPending_) {
            MakeResultMessage(kProtocolError, nullptr, 0, reply, replyLength);
            break;
        }
        unsigned char* result = nullptr;
        unsigned long resultLength = 0;
        if (!delegate_->Process(request, length, &result, &resultLength) ||
            (!result && resultLength != 0)) {
            MakeResultMessage(kProcessingError, nullptr, 0, reply, replyLength);
            break;
        }
        SetResultData(result, resultLength);
        ReplyWithNextPart(reply, replyLength);
        break;
    }
    default:
        // "rset" is still answered as out of place, but it also lets a page abandon a result.
        ClearResultData();
        MakeResultMessage(kProtocolError, nullptr, 0, reply, replyLength);
        break;
    }
    return 1;
}

void JSWEConnector::ReplyWithNextPart(const unsigned char** reply, unsigned long* replyLength)
{
    char* text = nullptr;
    unsigned long textLength = 0;
    int last = 0;
    if (!GetResultDataPart(&text, &textLength, &last) ||
        textLength > bufferSize_ - kPartFraming) {
        // The encoder is outside code: a text that does not fit the buffer is its failure.
        if (text)
            delegate_->FreeMemory(text);
        ClearResultData();
        MakeResultMessage(kProcessingError, nullptr, 0, reply, replyLength);
        return;
    }
    MakeResultMessage(last ? kLastPart : kPart, text, textLength, reply, replyLength);
    delegate_->FreeMemory(text);
    if (last)
        ClearResultData();
}

void JSWEConnector::MakeResultMessage(int kind, const char* data, unsigned long length,
                                      const unsigned char** reply, unsigned long* replyLength)
{
    unsigned long size = 0;
    auto put = [&](const void* bytes, unsigned long count) {
        const unsigned long room = bufferSize_ - size;
        if (count > room)
            count = room;
        if (count != 0)
            std::memcpy(buffer_ + size, bytes, count);
        size += count;
    };
    switch (kind) {
    case kPart:
    case kLastPart:
        put("\"", 1);
        put(kind == kPart ? "part" : "last", 4);
        put(data, length);
        put("\"", 1);
        break;
    case kInfoReply: {
        char text[kInfoTextRoom];
        const char* version = delegate_->GetAppVersion();
        const int n = std::snprintf(text, sizeof text, "{\"version\": \"%s\"}", version ? version : "");
        put(text, n < 0 ? 0 : std::strlen(text));
        break;
    }
    case kProtocolError:
        put(kProtocolErrorText, kWordLength);
        break;
    case kProcessingError:
        put(kProcessingErrorText, kWordLength);
        break;
    default:
        put(data, length);
        break;
    }
    *reply = buffer_;
    *replyLength = size;
}

int JSWEConnector::GetResultDataPart(char** text, unsigned long* length, int* last)
{
    const unsigned long maxPart = MaxPartSize(bufferSize_);
    const unsigned long rest = resultLength_ - consumed_;
    const unsigned long part = rest > maxPart ? maxPart : rest;
    *text = nullptr;
    *length = 0;
    *last = rest > maxPart ? 0 : 1;
    char* encoded = nullptr;
    if (!delegate_->BASE64Encode(resultData_ + consumed_, part, &encoded) || !encoded)
        return 0;
    *text = encoded;
    *length = std::strlen(encoded);
    consumed_ += part;
    return 1;
}

void JSWEConnector::SetResultData(unsigned char* data, unsigned long length)
{
    ClearResultData();
    resultData_ = data;
    resultLength_ = length;
    resultPending_ = 1;
}

void JSWEConnector::ClearResultData()
{
    resultPending_ = 0;
    if (resultData_)
        delegate_->FreeMemory(resultData_);
    resultData_ = nullptr;
    resultLength_ = 0;
    consumed_ = 0;
}
