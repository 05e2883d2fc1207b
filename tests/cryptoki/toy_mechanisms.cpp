#include "toy_mechanisms.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "objects/object_rules.h"

namespace zrtest {

namespace {

using ByteVector = std::vector<unsigned char>;

ByteVector AsBytes(const tru::Buffer& buffer) { return ByteVector(buffer.Data(), buffer.Data() + buffer.Size()); }

// Little-endian 32-bit sum of the bytes.
ByteVector ByteSum(const ByteVector& data) {
    uint32_t sum = 0;
    for (unsigned char byte : data) sum += byte;
    return ByteVector{static_cast<unsigned char>(sum), static_cast<unsigned char>(sum >> 8),
                 static_cast<unsigned char>(sum >> 16), static_cast<unsigned char>(sum >> 24)};
}

// The output convention of every mechanism data call.
bool Deliver(const ByteVector& bytes, unsigned char* out, unsigned long* outLen) {
    if (out == nullptr) {
        *outLen = bytes.size();
        return true;
    }
    if (*outLen < bytes.size()) {
        *outLen = bytes.size();
        return false;
    }
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    *outLen = bytes.size();
    return true;
}

// Owned records naming class and key type, added where a template lacks them.
void AddClass(zrck::AttributeTemplate& attributes, const CK_OBJECT_CLASS& objectClass, const CK_KEY_TYPE* keyType) {
    zrck::Attribute extra[2];
    extra[0].SetupOwn(CKA_CLASS, &objectClass, sizeof objectClass);
    CK_ULONG count = 1;
    if (keyType != nullptr) extra[count++].SetupOwn(CKA_KEY_TYPE, keyType, sizeof *keyType);
    attributes.AddAttributesIfNotExist(extra, count);
}

const CK_OBJECT_CLASS SECRET_CLASS = CKO_SECRET_KEY;
const CK_OBJECT_CLASS PUBLIC_CLASS = CKO_PUBLIC_KEY;
const CK_OBJECT_CLASS PRIVATE_CLASS = CKO_PRIVATE_KEY;
const CK_KEY_TYPE GENERIC_TYPE = CKK_GENERIC_SECRET;

template <class Derived>
class Toy : public zrck::TokMechanism {
public:
    Toy(CK_MECHANISM_TYPE type, CK_FLAGS flags) {
        SetMechanismType(type);
        SetFlags(flags);
    }
    const char* GetObjectClassName() const override { return "Toy"; }
    zrck::TokMechanism* Clone() const override {
        auto* clone = new Derived();
        clone->AssignAttributes(*this);
        return clone;
    }
    void SetParameter(const zrck::MechanismParameter&) override {}
    void SetDefaultParameter() override {}
    void FreeResources() override {
        mPending.clear();
        mPad = 0;
    }

protected:
    ByteVector mPending;
    unsigned char mPad = 0;
};

class ToyCipher : public Toy<ToyCipher> {
public:
    void GetMechanismSessionState(tru::BufferDynamic& state) override { state.Set(1, &mPad); }
    void SetMechanismSessionState(zrck::MechanismSession&, zrck::CryptoStateEnum, const tru::Buffer& state,
                                  zrck::TokKey* key) override {
        if (key == nullptr || state.Size() != 1) throw zrck::Exception(CKR_SAVED_STATE_INVALID);
        mPad = state.Data()[0];
    }
    ToyCipher() : Toy(TOY_CIPHER, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP) {}
    void EncryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key) override {
        Start(parameter, key);
    }
    void DecryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key) override {
        Start(parameter, key);
    }
    bool Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override {
        return Deliver(Xor(data), out, outLen);
    }
    bool EncryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override {
        return Deliver(Xor(data), out, outLen);
    }
    bool EncryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteVector(), out, outLen);
    }
    bool Decrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override {
        return Deliver(Xor(data), out, outLen);
    }
    bool DecryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override {
        return Deliver(Xor(data), out, outLen);
    }
    bool DecryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteVector(), out, outLen);
    }

private:
    void Start(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key) {
        EnsureParameterEmpty(parameter);
        FreeResources();
        const tru::Buffer value = key.GetValueToWrap();
        mPad = value.Size() != 0 ? value.Data()[0] : 0x5A;
    }
    ByteVector Xor(const tru::Buffer& data) const {
        ByteVector bytes = AsBytes(data);
        for (unsigned char& byte : bytes) byte ^= mPad;
        return bytes;
    }
};

class ToySign : public Toy<ToySign> {
public:
    ToySign() : Toy(TOY_SIGN, CKF_SIGN | CKF_VERIFY | CKF_SIGN_RECOVER | CKF_VERIFY_RECOVER) {}
    void SignInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokPrivateKey&) override { FreeResources(); }
    void SignInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokSecretKey&) override { FreeResources(); }
    void VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokPublicKey&) override { FreeResources(); }
    void VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokSecretKey&) override { FreeResources(); }
    void SignRecoverInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokPrivateKey&) override {
        FreeResources();
    }
    void VerifyRecoverInit(zrck::MechanismSession&, const zrck::MechanismParameter&, zrck::TokPublicKey&) override {
        FreeResources();
    }
    bool Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteSum(AsBytes(data)), out, outLen);
    }
    void SignUpdate(zrck::MechanismSession&, const tru::Buffer& data) override { Append(data); }
    bool SignFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteSum(mPending), out, outLen);
    }
    bool Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature) override {
        return ByteSum(AsBytes(data)) == AsBytes(signature);
    }
    void VerifyUpdate(zrck::MechanismSession&, const tru::Buffer& data) override { Append(data); }
    bool VerifyFinal(zrck::MechanismSession&, const tru::Buffer& signature) override {
        return ByteSum(mPending) == AsBytes(signature);
    }
    bool SignRecover(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override {
        return Deliver(Reversed(data), out, outLen);
    }
    bool VerifyRecover(zrck::MechanismSession&, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override {
        return Deliver(Reversed(signature), out, outLen);
    }

private:
    void Append(const tru::Buffer& data) { mPending.insert(mPending.end(), data.Data(), data.Data() + data.Size()); }
    static ByteVector Reversed(const tru::Buffer& data) {
        ByteVector bytes = AsBytes(data);
        std::reverse(bytes.begin(), bytes.end());
        return bytes;
    }
};

struct SlowDigestGate {
    std::mutex mutex;
    std::condition_variable letGo;
    bool held = false;
};

SlowDigestGate& Gate() {
    static SlowDigestGate gate;
    return gate;
}

void AwaitSlowDigestsLetGo() {
    SlowDigestGate& gate = Gate();
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.letGo.wait(lock, [&] { return !gate.held; });
}

class ToyDigest : public Toy<ToyDigest> {
public:
    ToyDigest() : Toy(TOY_DIGEST, CKF_DIGEST) {}
    void GetMechanismSessionState(tru::BufferDynamic& state) override {
        state.Set(static_cast<uint32_t>(mPending.size()), mPending.data());
    }
    void SetMechanismSessionState(zrck::MechanismSession&, zrck::CryptoStateEnum kind, const tru::Buffer& state,
                                  zrck::TokKey*) override {
        if (kind != zrck::CRYPTO_STATE_DIGEST) throw zrck::Exception(CKR_SAVED_STATE_INVALID);
        mPending = AsBytes(state);
    }
    bool IsDigestNullDataAvailable() const override { return true; }
    void DigestInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter) override {
        EnsureParameterEmpty(parameter);
        FreeResources();
    }
    bool Digest(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteSum(AsBytes(data)), out, outLen);
    }
    void DigestUpdate(zrck::MechanismSession&, const tru::Buffer& data) override {
        mPending.insert(mPending.end(), data.Data(), data.Data() + data.Size());
        if (data.Size() == std::strlen(TOY_SLOW_KEY_VALUE) &&
            std::memcmp(data.Data(), TOY_SLOW_KEY_VALUE, data.Size()) == 0) {
            ++ToySlowDigests();
            AwaitSlowDigestsLetGo();
            --ToySlowDigests();
        }
    }
    bool DigestFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen) override {
        return Deliver(ByteSum(mPending), out, outLen);
    }
};

// Marks a key as made on the token, as a generating mechanism does.
template <class Key>
void MarkGenerated(Key& key, CK_MECHANISM_TYPE mechanism) {
    key.SetLocal(CK_TRUE);
    key.SetKeyGenMechanism(mechanism);
}

class ToyKeyGen : public Toy<ToyKeyGen> {
public:
    ToyKeyGen() : Toy(TOY_KEY_GEN, CKF_GENERATE) {}
    KeyPointer GenerateKey(zrck::MechanismSession& session, const zrck::MechanismParameter&,
                           zrck::AttributeTemplate& attributes) override {
        AddClass(attributes, SECRET_CLASS, &GENERIC_TYPE);
        KeyPointer object = session.CreateObject(attributes, true);
        auto& key = dynamic_cast<ToySecretKey&>(*object);
        const ByteVector value(16, 0x11);
        key.SetValue(tru::Buffer(value.data(), static_cast<uint32_t>(value.size())));
        key.SetValueLen(value.size());
        MarkGenerated(key, TOY_KEY_GEN);
        key.SetIsAlwaysSensitive(key.GetIsSensitive());
        key.SetIsNeverExtractable(!key.GetIsExtractable());
        return object;
    }
};

class ToyKeyPairGen : public Toy<ToyKeyPairGen> {
public:
    ToyKeyPairGen() : Toy(TOY_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR) {}
    KeyPair GenerateKeyPair(zrck::MechanismSession& session, const zrck::MechanismParameter&,
                            zrck::AttributeTemplate& publicAttributes,
                            zrck::AttributeTemplate& privateAttributes) override {
        AddClass(publicAttributes, PUBLIC_CLASS, nullptr);
        AddClass(privateAttributes, PRIVATE_CLASS, nullptr);
        KeyPointer publicKey = session.CreateObject(publicAttributes, true);
        KeyPointer privateKey = session.CreateObject(privateAttributes, true);
        MarkGenerated(dynamic_cast<zrck::TokKey&>(*publicKey), TOY_KEY_PAIR_GEN);
        MarkGenerated(dynamic_cast<zrck::TokKey&>(*privateKey), TOY_KEY_PAIR_GEN);
        return KeyPair(publicKey, privateKey);
    }
};

class ToyDerive : public Toy<ToyDerive> {
public:
    ToyDerive() : Toy(TOY_DERIVE, CKF_DERIVE) {}
    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter,
                         zrck::TokGenericSecretKey& baseKey, zrck::AttributeTemplate& attributes) override {
        ByteVector value = AsBytes(baseKey.GetValue());
        const ByteVector data = AsBytes(parameter.GetParameter());
        value.insert(value.end(), data.begin(), data.end());
        return MakeSecret(session, value, attributes);
    }
    // From a private key a key is made only when data is given.
    KeyPointer DeriveKey(zrck::MechanismSession& session, zrck::MechanismParameter& parameter, zrck::TokPrivateKey&,
                         zrck::AttributeTemplate& attributes) override {
        if (parameter.GetParameter().Size() == 0) return nullptr;
        return MakeSecret(session, AsBytes(parameter.GetParameter()), attributes);
    }

private:
    static KeyPointer MakeSecret(zrck::MechanismSession& session, const ByteVector& value, zrck::AttributeTemplate& attributes) {
        AddClass(attributes, SECRET_CLASS, &GENERIC_TYPE);
        KeyPointer object = session.CreateObject(attributes, true);
        auto& key = dynamic_cast<ToySecretKey&>(*object);
        key.SetValue(tru::Buffer(value.data(), static_cast<uint32_t>(value.size())));
        return object;
    }
};

template <class Object>
void Register(zrck::Token& token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype,
              zrck::TokObjectClassFactory::CreationTest test) {
    zrck::ClassRegistrator(&token, objectClass, subtype, std::move(test), [] { return new Object(); });
}

}  // namespace

bool ToySecretKey::ClassCouldBeCreated(const zrck::AttributeTemplate& attributes) {
    return zrck::TemplateNamesClass(attributes, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_GENERIC_SECRET);
}

void InstallToys(zrck::Token& token, std::vector<std::shared_ptr<zrck::TokMechanism>>& mechanisms) {
    Register<FakeDataObject>(token, CKO_DATA, 0, &FakeDataObject::ClassCouldBeCreated);
    Register<ToySecretKey>(token, CKO_SECRET_KEY, CKK_GENERIC_SECRET, &ToySecretKey::ClassCouldBeCreated);
    Register<FakePrivateKey>(token, CKO_PRIVATE_KEY, CKK_EC, [](const zrck::AttributeTemplate& attributes) {
        return zrck::TemplateNamesClass(attributes, CKO_PRIVATE_KEY);
    });
    Register<FakePublicKey>(token, CKO_PUBLIC_KEY, CKK_EC, [](const zrck::AttributeTemplate& attributes) {
        return zrck::TemplateNamesClass(attributes, CKO_PUBLIC_KEY);
    });
    mechanisms.push_back(std::make_shared<ToyCipher>());
    mechanisms.push_back(std::make_shared<ToySign>());
    mechanisms.push_back(std::make_shared<ToyDigest>());
    mechanisms.push_back(std::make_shared<ToyKeyGen>());
    mechanisms.push_back(std::make_shared<ToyKeyPairGen>());
    mechanisms.push_back(std::make_shared<ToyDerive>());
}

void ToySecretKey::GetKeyMark(tru::BufferDynamic& mark) {
    const std::string prefix = "mark:";
    ByteVector bytes(prefix.begin(), prefix.end());
    const ByteVector label = AsBytes(GetLabel());
    bytes.insert(bytes.end(), label.begin(), label.end());
    mark.Set(static_cast<uint32_t>(bytes.size()), bytes.data());
}

namespace {
const char ENVELOPE_HEADER[] = "fake token saved state envelope";  // 31 characters and its terminator
}

void ToyHoldSlowDigests(bool hold) {
    SlowDigestGate& gate = Gate();
    {
        std::lock_guard<std::mutex> lock(gate.mutex);
        gate.held = hold;
    }
    gate.letGo.notify_all();
}

std::atomic<int>& ToySlowDigests() {
    static std::atomic<int> running{0};
    return running;
}

std::atomic<int>& ToyStorageWhileInUse() {
    static std::atomic<int> count{0};
    return count;
}

std::atomic<bool>& ToyStateSaveable() {
    static std::atomic<bool> saveable{false};
    return saveable;
}

void ToyEnvelope(const tru::Buffer& record, tru::BufferDynamic& envelope) {
    ByteVector bytes(ENVELOPE_HEADER, ENVELOPE_HEADER + sizeof ENVELOPE_HEADER);
    const ByteVector body = AsBytes(record);
    bytes.insert(bytes.end(), body.begin(), body.end());
    envelope.Set(static_cast<uint32_t>(bytes.size()), bytes.data());
}

void ToyUnwrapEnvelope(const tru::Buffer& envelope, tru::BufferDynamic& record) {
    if (envelope.Size() < sizeof ENVELOPE_HEADER ||
        std::memcmp(envelope.Data(), ENVELOPE_HEADER, sizeof ENVELOPE_HEADER) != 0) {
        throw zrck::Exception(CKR_SAVED_STATE_INVALID);
    }
    record.Set(envelope.Size() - static_cast<uint32_t>(sizeof ENVELOPE_HEADER),
               envelope.Data() + sizeof ENVELOPE_HEADER);
}

void RefuseNoRoom(zrck::TokObject* object) {
    auto* storage = dynamic_cast<zrck::TokStorageObject*>(object);
    if (storage == nullptr) return;
    const tru::Buffer& label = storage->GetLabel();
    if (label.Size() == std::strlen(TOY_NO_ROOM_LABEL) &&
        std::memcmp(label.Data(), TOY_NO_ROOM_LABEL, label.Size()) == 0) {
        throw zrck::Exception(CKR_DEVICE_MEMORY);
    }
}

}  // namespace zrtest
