#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "device/zr_scard.h"

// A token stand-in behind ZrSCard's transmit seam: records every APDU sent and answers from a
// queue (then with the default answer).
namespace devtest {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const std::string& text)
{
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string ToHex(const uint8_t* data, size_t length)
{
    std::string out;
    char b[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(b, sizeof(b), i == 0 ? "%02X" : " %02X", data[i]);
        out += b;
    }
    return out;
}

inline std::string ToHex(const Bytes& bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

// Normalises hex text to the form ToHex gives.
inline std::string Hex(const std::string& text)
{
    return ToHex(FromHex(text));
}

struct ScriptedCard {
    struct Answer {
        uint32_t transmitResult;
        Bytes bytes;
    };

    std::vector<Bytes> sent;
    std::deque<Answer> answers;
    Answer fallback{0, FromHex("01 00 90 00")};

    void Queue(const std::string& hex, uint32_t transmitResult = 0)
    {
        answers.push_back({transmitResult, FromHex(hex)});
    }
    void Queue(const Bytes& bytes) { answers.push_back({0, bytes}); }

    ZrSCard::Transmitter Transmitter()
    {
        return [this](const uint8_t* send, size_t sendLength, uint8_t* receive, size_t& receiveLength) {
            sent.emplace_back(send, send + sendLength);
            Answer a = fallback;
            if (!answers.empty()) {
                a = answers.front();
                answers.pop_front();
            }
            if (a.transmitResult != 0) {
                return a.transmitResult;
            }
            if (a.bytes.size() > receiveLength) {
                return static_cast<uint32_t>(0x80100008);  // SCARD_E_INSUFFICIENT_BUFFER
            }
            std::copy(a.bytes.begin(), a.bytes.end(), receive);
            receiveLength = a.bytes.size();
            return 0u;
        };
    }

    std::string SentHex(size_t i) const { return i < sent.size() ? ToHex(sent[i]) : "<nothing sent>"; }

    std::unique_ptr<ZrSCard> MakeDevice()
    {
        auto device = std::make_unique<ZrSCard>(0, false);
        device->SetTransmitter(Transmitter());
        return device;
    }
};

// 32 distinct bytes used as a device session handle.
inline Bytes SessionBytes()
{
    Bytes s(32);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<uint8_t>(0xA0 + i);
    }
    return s;
}

}  // namespace devtest
