// Feeds arbitrary bytes as token answers to every decoder of the device layer.
// Input: operation selector, output capacity, then answers as (length byte, bytes)...
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device/media_zrsc.h"
#include "device/zr_plinq_token.h"

namespace {

class AnswerStream {
public:
    AnswerStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Next()
    {
        return pos_ < size_ ? data_[pos_++] : 0;
    }

    uint32_t Answer(uint8_t* receive, size_t& receiveLength)
    {
        if (pos_ >= size_) {
            return 0x80100016;  // nothing left: a failing transmit
        }
        size_t n = data_[pos_++];
        n = std::min(n, size_ - pos_);
        n = std::min(n, receiveLength);
        std::memcpy(receive, data_ + pos_, n);
        pos_ += n;
        receiveLength = n;
        return 0;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AnswerStream stream(data, size);
    const uint8_t op = stream.Next();
    const size_t capacity = stream.Next() * 2;

    auto device = std::make_unique<ZrSCard>(0, false);
    device->SetTransmitter([&](const uint8_t*, size_t, uint8_t* receive, size_t& receiveLength) {
        return stream.Answer(receive, receiveLength);
    });
    ZrPlinqToken token(std::make_unique<MediaZrSC>(std::move(device)));

    // Exactly sized heap buffers so that any write past them is caught.
    std::vector<uint8_t> out(capacity);
    uint8_t* o = capacity ? out.data() : nullptr;
    size_t length = capacity;
    uint8_t session[32] = {};
    const uint8_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t word = 0;
    bool flag = false;

    switch (op % 16) {
    case 0: {
        _TokenInfo_Struct info;
        token.GetTokenInfo(&info);
        break;
    }
    case 1: token.GetAttr(op >> 4, o, &length); break;
    case 2: token.OpenSession(session); break;
    case 3: token.GetSessionState(session, &word); break;
    case 4: token.GetFileSize(session, 1, &word); break;
    case 5: token.IsFileExists(session, 1, &flag); break;
    case 6: token.ReadFile(session, 1, o, &length); break;
    case 7: token.GetRandom(session, o, std::min<size_t>(capacity, 192), in, sizeof(in)); break;
    case 8: token.GenerateKeyPair(session, static_cast<EParamSet>(op >> 4), TokenObject, o, &length, 0xB4); break;
    case 9: token.GetSignature(session, 0xB4, in, sizeof(in), o, &length); break;
    case 10: token.Encrypt(session, in, 4, RSA_sign_512, in, sizeof(in), o, &length); break;
    case 11: token.Decrypt(session, 0xB4, in, sizeof(in), o, &length); break;
    case 12: token.GetCommonKey(session, 0xB4, in, 4, 1, in, 4, 1, in, 4, o, &length); break;
    case 13: token.GetFirmwareIntegrityCode(in, sizeof(in), o, &length); break;
    case 14: token.TestResponseDelay(static_cast<uint16_t>(op >> 4) * 16, o, capacity); break;
    default: token.VerifySignature(session, in, 4, RSA_sign_512, in, 4, in, 4); break;
    }
    return 0;
}
