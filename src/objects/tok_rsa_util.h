// Host-side PKCS#1 v1.5 formatting for the RSA mechanisms: DigestInfo encodings and block
// padding and unpadding. The raw RSA operation runs on the token.
#ifndef ZR_OBJECTS_TOK_RSA_UTIL_H
#define ZR_OBJECTS_TOK_RSA_UTIL_H

#include "objects/object_types.h"
#include "objects/tok_object.h"

namespace zrck {

class TokRsaUtl {
public:
    TokRsaUtl() = delete;

    static const unsigned char BLOCK_TYPE_ZERO = 0;
    static const unsigned char BLOCK_TYPE_SIGNATURE = 1;
    static const unsigned char BLOCK_TYPE_ENCRYPTION = 2;
    // Shortest padding string PKCS#1 v1.5 allows.
    static const unsigned int MIN_PADDING = 8;

    // DER DigestInfo prefix followed by the hash; a hash of another length than the
    // algorithm's throws CKR_GENERAL_ERROR.
    static void PrepareSha1DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output);
    static void PrepareSha224DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output);
    static void PrepareSha256DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output);
    static void PrepareSha384DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output);
    static void PrepareSha512DigestInfo(const tru::Buffer& hash, tru::BufferDynamic& output);

    // The k-byte block 00 BT PS 00 data. Block type 2 draws its padding from the session's
    // token in blocks, zero bytes drawn again. Empty data or data longer than k - 11 bytes:
    // CKR_DATA_LEN_RANGE; a session without a token: CKR_DEVICE_REMOVED; a block type
    // other than 0, 1 and 2: CKR_DATA_INVALID.
    static void DoPkcs1Padding(MechanismSession& session, unsigned char blockType, const tru::Buffer& data,
                               unsigned int blockLength, tru::BufferDynamic& output);
    static void DoPkcs1Padding(TokRandomGenerator& random, unsigned char blockType, const tru::Buffer& data,
                               unsigned int blockLength, tru::BufferDynamic& output);

    // Extracts the data of a block of the expected type: type 1 needs at least eight 0xFF
    // padding bytes, type 2 at least eight non-zero ones, then the zero separator and at
    // least one data byte. Every failure of a type-2 block gives CKR_ENCRYPTED_DATA_INVALID
    // and the block is examined whole, so a decryption reveals nothing about where it
    // failed; every failure of a type-1 block gives CKR_SIGNATURE_INVALID.
    static void DoPkcs1UnPadding(const tru::Buffer& block, unsigned int blockLength, unsigned char blockType,
                                 tru::BufferDynamic& output);
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_RSA_UTIL_H
