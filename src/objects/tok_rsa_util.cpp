#include "objects/tok_rsa_util.h"

#include <cstring>

#include "ckbase/exception.h"
#include "objects/mechanism_session.h"
#include "objects/object_token.h"
#include "support/safe_buffer.h"
#include "tru2/exception.h"

namespace zrck {

namespace {

struct DigestInfoPrefix {
    const unsigned char* bytes;
    unsigned int length;
    unsigned int hashLength;
};

// DER DigestInfo up to and including the OCTET STRING header (EMSA-PKCS1-v1_5, RFC 8017).
const unsigned char SHA1_PREFIX[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                     0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
const unsigned char SHA224_PREFIX[] = {0x30, 0x2D, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1C};
const unsigned char SHA256_PREFIX[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const unsigned char SHA384_PREFIX[] = {0x30, 0x41, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
const unsigned char SHA512_PREFIX[] = {0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

void PrepareDigestInfo(const DigestInfoPrefix& prefix, const tru::Buffer& hash, tru::BufferDynamic& output) {
    if (hash.Size() != prefix.hashLength) throw Exception(CKR_GENERAL_ERROR);
    const tru::TResult rc = output.Alloc(prefix.length + prefix.hashLength);
    if (rc != 0) throw tru::Exception(rc);
    std::memcpy(output.Data(), prefix.bytes, prefix.length);
    std::memcpy(output.Data() + prefix.length, hash.Data(), hash.Size());
}

// A zero byte drawn for padding is drawn again, at most this many times in a row.
const unsigned int MAX_ZERO_DRAWS = 100000;
// Replacements for zero bytes are drawn at most this many at a time.
const unsigned int REDRAW_BLOCK = 16;

// Non-zero random bytes, drawn from the token in whole blocks: the token's random pool hands
// them out a device block at a time, so a block costs a few commands, not one per byte. Zero
// bytes are replaced by as many new bytes as there are zeros left.
void FillNonZeroRandom(TokRandomGenerator& random, unsigned char* padding, unsigned int length) {
    tru::Buffer all(padding, length);
    random.GetNext(all);
    unsigned int zerosLeft = 0;
    for (unsigned int i = 0; i < length; ++i) zerosLeft += padding[i] == 0 ? 1u : 0u;
    unsigned char spareBytes[REDRAW_BLOCK];
    vdk::SafeStaticBuffer wipe(spareBytes, sizeof spareBytes);
    unsigned int spareNext = 0;
    unsigned int spareSize = 0;
    unsigned int zerosInARow = 0;
    for (unsigned int i = 0; i < length; ++i) {
        if (padding[i] != 0) continue;
        while (padding[i] == 0) {
            if (++zerosInARow > MAX_ZERO_DRAWS) throw Exception(CKR_FUNCTION_FAILED);
            if (spareNext == spareSize) {
                spareSize = zerosLeft < REDRAW_BLOCK ? zerosLeft : REDRAW_BLOCK;
                tru::Buffer spare(spareBytes, spareSize);
                random.GetNext(spare);
                spareNext = 0;
            }
            padding[i] = spareBytes[spareNext++];
        }
        --zerosLeft;
        zerosInARow = 0;
    }
}

// All ones when the value is zero, else zero; no branch on secret bytes.
unsigned int ZeroMask(unsigned int value) { return ((value | (0u - value)) >> 31) - 1u; }

}  // namespace

void TokRsaUtl::PrepareSha1DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output) {
    PrepareDigestInfo({SHA1_PREFIX, sizeof SHA1_PREFIX, 20}, hash, output);
}
void TokRsaUtl::PrepareSha224DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output) {
    PrepareDigestInfo({SHA224_PREFIX, sizeof SHA224_PREFIX, 28}, hash, output);
}
void TokRsaUtl::PrepareSha256DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output) {
    PrepareDigestInfo({SHA256_PREFIX, sizeof SHA256_PREFIX, 32}, hash, output);
}
void TokRsaUtl::PrepareSha384DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output) {
    PrepareDigestInfo({SHA384_PREFIX, sizeof SHA384_PREFIX, 48}, hash, output);
}
void TokRsaUtl::PrepareSha512DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output) {
    PrepareDigestInfo({SHA512_PREFIX, sizeof SHA512_PREFIX, 64}, hash, output);
}

void TokRsaUtl::DoPkcs1Padding(MechanismSession& session, unsigned char blockType, const tru::Buffer& data,
                               unsigned int blockLength, tru::BufferDynamic& output) {
    if (data.Empty()) throw Exception(CKR_DATA_LEN_RANGE);
    ObjectToken* token = session.GetOwnerToken();
    if (token == nullptr) throw Exception(CKR_DEVICE_REMOVED);
    TokRandomGenerator random(token);
    DoPkcs1Padding(random, blockType, data, blockLength, output);
}

void TokRsaUtl::DoPkcs1Padding(TokRandomGenerator& random, unsigned char blockType, const tru::Buffer& data,
                               unsigned int blockLength, tru::BufferDynamic& output) {
    if (data.Empty()) throw Exception(CKR_DATA_LEN_RANGE);
    const long long paddingLength = static_cast<long long>(blockLength) - data.Size() - 3;
    if (paddingLength < MIN_PADDING) throw Exception(CKR_DATA_LEN_RANGE);
    if (blockType > BLOCK_TYPE_ENCRYPTION) throw Exception(CKR_DATA_INVALID);
    const tru::TResult rc = output.Alloc(blockLength);
    if (rc != 0) throw tru::Exception(rc);
    unsigned char* block = output.Data();
    block[0] = 0x00;
    block[1] = blockType;
    unsigned char* padding = block + 2;
    if (blockType == BLOCK_TYPE_ENCRYPTION) {
        FillNonZeroRandom(random, padding, static_cast<unsigned int>(paddingLength));
    } else {
        std::memset(padding, blockType == BLOCK_TYPE_SIGNATURE ? 0xFF : 0x00, static_cast<size_t>(paddingLength));
    }
    padding[paddingLength] = 0x00;
    std::memcpy(padding + paddingLength + 1, data.Data(), data.Size());
}

void TokRsaUtl::DoPkcs1UnPadding(const tru::Buffer& block, unsigned int blockLength, unsigned char blockType,
                                 tru::BufferDynamic& output) {
    if (blockType != BLOCK_TYPE_SIGNATURE && blockType != BLOCK_TYPE_ENCRYPTION) throw Exception(CKR_GENERAL_ERROR);
    const CK_RV failure = blockType == BLOCK_TYPE_ENCRYPTION ? CKR_ENCRYPTED_DATA_INVALID : CKR_SIGNATURE_INVALID;
    if (block.Size() != blockLength || blockLength < 2 + MIN_PADDING + 2) throw Exception(failure);

    // One pass over the whole block; good stays all ones only for a well-formed block.
    const unsigned char* bytes = block.Data();
    unsigned int good = ZeroMask(bytes[0]) & ZeroMask(bytes[1] ^ blockType);
    unsigned int separatorSeen = 0;
    unsigned int separator = 0;
    for (unsigned int i = 2; i < blockLength; ++i) {
        const unsigned int isZero = ZeroMask(bytes[i]);
        const unsigned int firstZero = isZero & ~separatorSeen;
        separator |= i & firstZero;
        // Padding bytes of a signature block must all be 0xFF.
        if (blockType == BLOCK_TYPE_SIGNATURE) good &= separatorSeen | isZero | ZeroMask(bytes[i] ^ 0xFFu);
        separatorSeen |= isZero;
    }
    good &= separatorSeen;
    // At least eight padding bytes before the separator and one data byte after it.
    good &= ~ZeroMask(static_cast<unsigned int>(separator >= 2 + MIN_PADDING));
    good &= ~ZeroMask(static_cast<unsigned int>(separator + 1 < blockLength));
    if (good == 0) throw Exception(failure);

    const unsigned int dataLength = blockLength - separator - 1;
    const tru::TResult rc = output.Alloc(dataLength);
    if (rc != 0) throw tru::Exception(rc);
    std::memcpy(output.Data(), bytes + separator + 1, dataLength);
}

}  // namespace zrck
