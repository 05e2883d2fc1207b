// Saved operation state: the session's operation records written as a record the token
// wraps into an envelope, and restored from one.
#include <cstring>
#include <memory>

#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/unblock_guard.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"
#include "support/safe_buffer.h"
#include "support/serialization.h"
#include "support/vdk_exception.h"

namespace zrck {

namespace {

const uint8_t STATE_FORMAT = 1;
// Envelopes up to this length are refused before the token sees them.
const CK_ULONG MIN_ENVELOPE_LENGTH = 24;

struct SavedOperation {
    CK_MECHANISM_TYPE type = 0;
    uint8_t mode = 0;
    uint8_t kind = 0;
    vdk::SafeBuffer keyMark;
    vdk::SafeBuffer state;
};

void KeyMarkOf(const SessionFrame::TOperationParams& record, tru::BufferDynamic& mark) {
    if (auto* key = dynamic_cast<TokKey*>(record.keyObject.get())) key->GetKeyMark(mark);
}

void WriteOperation(vdk::OutputBuffer& writer, const SessionFrame::TOperationParams& record,
                    const tru::Buffer& mark, const tru::Buffer& state) {
    writer.WriteInt(static_cast<uint32_t>(record.mechanism->GetMechanismType()));
    writer.WriteByte(static_cast<uint8_t>(record.mode));
    writer.WriteByte(static_cast<uint8_t>(record.kind));
    writer.WriteShortPacket(mark);
    writer.WriteShortPacket(state);
}

void ReadOperation(vdk::InputBuffer& reader, SavedOperation& operation) {
    operation.type = reader.ReadInt();
    operation.mode = reader.ReadByte();
    operation.kind = reader.ReadByte();
    reader.ReadShortPacket(operation.keyMark);
    reader.ReadShortPacket(operation.state);
}

// The key a record names.
TokObjectPtr FindKey(Slot& slot, CK_OBJECT_HANDLE handle) {
    TokObjectPtr object = slot.GetBlockObjectIfExists(handle);
    if (!object) throw Exception(CKR_KEY_HANDLE_INVALID);
    UnblockGuard guard(slot, object);
    const CK_OBJECT_CLASS objectClass = object->GetClass();
    if ((objectClass != CKO_PUBLIC_KEY && objectClass != CKO_PRIVATE_KEY && objectClass != CKO_SECRET_KEY) ||
        dynamic_cast<TokKey*>(object.get()) == nullptr) {
        throw Exception(CKR_OBJECT_HANDLE_INVALID);
    }
    return object;
}

// The key's mark must equal the saved one.
void CheckKeyMark(TokKey* key, const tru::Buffer& savedMark) {
    if (key == nullptr) return;
    tru::BufferDynamic current;
    key->GetKeyMark(current);
    if (current.Size() != savedMark.Size() ||
        (current.Size() != 0 && std::memcmp(current.Data(), savedMark.Data(), current.Size()) != 0)) {
        throw Exception(CKR_KEY_CHANGED);
    }
}

bool IsValidKind(uint8_t kind) { return kind >= CRYPTO_STATE_ENCRYPT && kind <= CRYPTO_STATE_VERIFY_RECOVER; }
bool IsValidMode(uint8_t mode) { return mode <= SessionFrame::MODE_MULTI_PART; }

}  // namespace

void SessionFrame::GetOperationState(unsigned char* out, CK_ULONG* outLen) {
    InSession([&](Token* token) {
        if (!mPrimary.InUse()) throw Exception(CKR_OPERATION_NOT_INITIALIZED);
        if (!token->IsOperationStateSaveable()) throw Exception(CKR_STATE_UNSAVEABLE);
        vdk::OutputBuffer writer(vdk::Math::HOST, 32);
        if (mPrimary.mechanism == nullptr) throw Exception(CKR_OPERATION_NOT_INITIALIZED);
        vdk::SafeBuffer primaryMark, primaryState, secondaryMark, secondaryState;
        KeyMarkOf(mPrimary, primaryMark);
        mPrimary.mechanism->GetMechanismSessionState(primaryState);
        const bool secondary = mSecondary.InUse() && mSecondary.mechanism != nullptr;
        if (secondary) {
            mSecondary.mechanism->GetMechanismSessionState(secondaryState);
            KeyMarkOf(mSecondary, secondaryMark);
        }
        writer.WriteByte(STATE_FORMAT);
        WriteOperation(writer, mPrimary, primaryMark, primaryState);
        if (secondary) WriteOperation(writer, mSecondary, secondaryMark, secondaryState);
        writer.Shrink();
        vdk::SafeBuffer record;
        writer.GetBuffer(record);
        if (out == nullptr) {
            *outLen = token->EstimateSessionStateSize(record);
            return;
        }
        vdk::SafeBuffer envelope;
        token->EnvelopeSessionState(record, envelope);
        if (*outLen < envelope.Size()) {
            *outLen = envelope.Size();
            throw BufferTooSmallException();
        }
        std::memcpy(out, envelope.Data(), envelope.Size());
        *outLen = envelope.Size();
    });
}

void SessionFrame::SetOperationState(const tru::Buffer& envelope, CK_OBJECT_HANDLE encryptionKey,
                                     CK_OBJECT_HANDLE authenticationKey) {
    InSession([&](Token* token) {
        if (!token->IsOperationStateSaveable()) throw Exception(CKR_STATE_UNSAVEABLE);
        if (envelope.Size() <= MIN_ENVELOPE_LENGTH) throw Exception(CKR_SAVED_STATE_INVALID);
        vdk::SafeBuffer record;
        token->UnwrapSessionStateEnvelope(envelope, record);
        if (record.Size() == 0) throw Exception(CKR_SAVED_STATE_INVALID);
        SavedOperation primary, secondary;
        bool hasSecondary = false;
        try {
            vdk::InputBuffer reader(vdk::Math::HOST, record);
            if (reader.ReadByte() != STATE_FORMAT) throw Exception(CKR_SAVED_STATE_INVALID);
            ReadOperation(reader, primary);
            hasSecondary = reader.GetRemaining() != 0;
            if (hasSecondary) ReadOperation(reader, secondary);
            if (reader.GetRemaining() != 0) throw Exception(CKR_SAVED_STATE_INVALID);
        } catch (const vdk::Exception&) {
            // A record that ends inside a field is as invalid as one with a wrong format.
            throw Exception(CKR_SAVED_STATE_INVALID);
        }
        // Two operations cannot be restored into a session that runs one at a time.
        if (hasSecondary && !mSecondaryOperationAllowed) throw Exception(CKR_SAVED_STATE_INVALID);
        // Kinds and modes a session could never have had make the record invalid.
        if (!IsValidKind(primary.kind) || !IsValidMode(primary.mode) ||
            (hasSecondary && (!IsValidKind(secondary.kind) || !IsValidMode(secondary.mode) ||
                              secondary.kind == primary.kind))) {
            throw Exception(CKR_SAVED_STATE_INVALID);
        }
        Slot& slot = *token->GetSlot();
        TokObjectPtr primaryObject, secondaryObject;
        if (primary.keyMark.Size() == 0) {
            if (encryptionKey != 0 || authenticationKey != 0) throw Exception(CKR_KEY_NOT_NEEDED);
        } else {
            if (encryptionKey == 0 && authenticationKey == 0) throw Exception(CKR_KEY_NEEDED);
            primaryObject = FindKey(slot, encryptionKey != 0 ? encryptionKey : authenticationKey);
        }
        if (hasSecondary) {
            if (secondary.keyMark.Size() != 0) {
                if (encryptionKey == 0 || authenticationKey == 0) throw Exception(CKR_KEY_NEEDED);
                secondaryObject = FindKey(slot, authenticationKey);
            } else if (encryptionKey != 0 && authenticationKey != 0) {
                throw Exception(CKR_KEY_NOT_NEEDED);
            }
        }
        auto* primaryKey = dynamic_cast<TokKey*>(primaryObject.get());
        auto* secondaryKey = dynamic_cast<TokKey*>(secondaryObject.get());
        // Restored into fresh clones, so a failure leaves the running operations untouched.
        std::unique_ptr<TokMechanism> primaryMechanism;
        std::unique_ptr<TokMechanism> secondaryMechanism;
        const std::vector<TokObjectPtr> held = UseKeys(
            token, {{primaryObject.get(), CKR_KEY_HANDLE_INVALID}, {secondaryObject.get(), CKR_KEY_HANDLE_INVALID}},
            Token::ObjectUse::Now, [&] {
                CheckKeyMark(primaryKey, primary.keyMark);
                primaryMechanism = CloneMechanism(token, primary.type);
                primaryMechanism->SetMechanismSessionState(*this, static_cast<CryptoStateEnum>(primary.kind),
                                                           primary.state, primaryKey);
                if (hasSecondary) {
                    CheckKeyMark(secondaryKey, secondary.keyMark);
                    secondaryMechanism = CloneMechanism(token, secondary.type);
                    secondaryMechanism->SetMechanismSessionState(*this, static_cast<CryptoStateEnum>(secondary.kind),
                                                                 secondary.state, secondaryKey);
                }
                return true;
            });
        mPrimary.ResetOperation();
        mSecondary.ResetOperation();
        TokMechanism* installedPrimary = primaryMechanism.release();
        mMechCache.Put(installedPrimary);
        mPrimary.Set(static_cast<CryptoStateEnum>(primary.kind), held[0], installedPrimary);
        mPrimary.mode = static_cast<OperationModeEnum>(primary.mode);
        if (secondaryMechanism) {
            TokMechanism* installedSecondary = secondaryMechanism.release();
            mMechCache.Put(installedSecondary, installedPrimary);
            mSecondary.Set(static_cast<CryptoStateEnum>(secondary.kind), held[1], installedSecondary);
            mSecondary.mode = static_cast<OperationModeEnum>(secondary.mode);
        }
    });
}

}  // namespace zrck
