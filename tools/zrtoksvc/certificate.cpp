#include "certificate.h"

#include <cstddef>
#include <cstdint>

namespace zrsvc {

namespace {

// One DER element inside [at, end): its tag, where its content starts and ends.
struct Element {
    uint8_t tag = 0;
    const uint8_t* begin = nullptr;    // the tag byte
    const uint8_t* content = nullptr;
    const uint8_t* end = nullptr;      // one past the content
};

bool Read(const uint8_t* at, const uint8_t* end, Element& e) {
    if (end - at < 2)
        return false;
    e.begin = at;
    e.tag = *at++;
    if ((e.tag & 0x1F) == 0x1F)
        return false;  // long tags have no place before the subject
    size_t length = *at++;
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || static_cast<size_t>(end - at) < bytes)
            return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = (length << 8) | *at++;
    }
    if (static_cast<size_t>(end - at) < length)
        return false;
    e.content = at;
    e.end = at + length;
    return true;
}

}  // namespace

bool CertificateSubject(const tru::Buffer& der, tru::BufferDynamic& subject) {
    constexpr uint8_t kSequence = 0x30, kInteger = 0x02, kVersion = 0xA0;
    const uint8_t* const end = der.Data() + der.Size();
    Element certificate, tbs, field;
    if (der.Size() == 0 || !Read(der.Data(), end, certificate) || certificate.tag != kSequence ||
        certificate.end != end || !Read(certificate.content, certificate.end, tbs) || tbs.tag != kSequence)
        return false;
    const uint8_t* at = tbs.content;
    if (!Read(at, tbs.end, field))
        return false;
    if (field.tag == kVersion) {
        at = field.end;
        if (!Read(at, tbs.end, field))
            return false;
    }
    // serialNumber, signature, issuer, validity, subject
    const uint8_t tags[] = {kInteger, kSequence, kSequence, kSequence, kSequence};
    for (size_t i = 0; i < sizeof tags; ++i) {
        if (i > 0 && !Read(at, tbs.end, field))
            return false;
        if (field.tag != tags[i])
            return false;
        at = field.end;
    }
    return subject.Set(static_cast<uint32_t>(field.end - field.begin), field.begin) == tru::SUCCESS;
}

}  // namespace zrsvc
