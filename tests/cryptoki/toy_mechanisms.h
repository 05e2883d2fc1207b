// Toy key classes and mechanisms of the fake token: trivially checkable cryptography, so the
// session engine's rules can be tested through the real C_ functions.
#ifndef ZR_TESTS_TOY_MECHANISMS_H
#define ZR_TESTS_TOY_MECHANISMS_H

#include <atomic>
#include <memory>
#include <vector>

#include "fake_objects.h"

namespace zrck {
class Token;
}

namespace zrtest {

// Mechanism types the toys answer to.
const CK_MECHANISM_TYPE TOY_CIPHER = CKM_AES_ECB;                      // XOR with the key's first byte
const CK_MECHANISM_TYPE TOY_SIGN = CKM_SHA256_HMAC;                    // 4-byte byte sum; recovery reverses
const CK_MECHANISM_TYPE TOY_DIGEST = CKM_MD5;                          // 4-byte byte sum, empty input fine
const CK_MECHANISM_TYPE TOY_KEY_GEN = CKM_GENERIC_SECRET_KEY_GEN;      // 16-byte secret 0x11..
const CK_MECHANISM_TYPE TOY_KEY_PAIR_GEN = CKM_EC_KEY_PAIR_GEN;        // public and private key
const CK_MECHANISM_TYPE TOY_DERIVE = CKM_CONCATENATE_BASE_AND_DATA;    // base value + parameter
// A label that makes the fake token refuse to write the object.
constexpr const char* TOY_NO_ROOM_LABEL = "no room";

// A generic secret whose usage flags all follow the template.
class ToySecretKey : public FakeSecretKey {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes);

    CK_BBOOL GetCouldEncrypt() const override { return mEncrypt; }
    void SetCouldEncrypt(CK_BBOOL value) override { mEncrypt = value; }
    CK_BBOOL GetCouldDecrypt() const override { return mDecrypt; }
    void SetCouldDecrypt(CK_BBOOL value) override { mDecrypt = value; }
    CK_BBOOL GetCouldWrap() const override { return mWrap; }
    void SetCouldWrap(CK_BBOOL value) override { mWrap = value; }
    CK_BBOOL GetCouldUnwrap() const override { return mUnwrap; }
    void SetCouldUnwrap(CK_BBOOL value) override { mUnwrap = value; }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override { return type != TOY_DIGEST; }
    zrck::TokObject* GenerateCopy() override { return nullptr; }
    // The label stands for the key: a renamed key has changed.
    void GetKeyMark(tru::BufferDynamic& mark) override;

private:
    CK_BBOOL mEncrypt = CK_FALSE, mDecrypt = CK_FALSE, mWrap = CK_FALSE, mUnwrap = CK_FALSE;
};

// The fake token's write: an object labelled TOY_NO_ROOM_LABEL does not fit.
void RefuseNoRoom(zrck::TokObject* object);

// A key whose value is this is digested slowly: while slow digests are held, its digest waits
// until they are let go, holding the key in use meanwhile.
constexpr const char* TOY_SLOW_KEY_VALUE = "slow-key";
void ToyHoldSlowDigests(bool hold);
// Slow digests running now, and storage steps the fake library began meanwhile.
std::atomic<int>& ToySlowDigests();
std::atomic<int>& ToyStorageWhileInUse();

// Saved operation states of the fake token: whether it saves them, and its envelope (a fixed
// 32-byte header before the record).
std::atomic<bool>& ToyStateSaveable();
void ToyEnvelope(const tru::Buffer& record, tru::BufferDynamic& envelope);
void ToyUnwrapEnvelope(const tru::Buffer& envelope, tru::BufferDynamic& record);

// Registers the toy object classes with the token and appends the toy mechanisms.
void InstallToys(zrck::Token& token, std::vector<std::shared_ptr<zrck::TokMechanism>>& mechanisms);

}  // namespace zrtest

#endif  // ZR_TESTS_TOY_MECHANISMS_H
