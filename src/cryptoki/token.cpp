#include "cryptoki/token.h"

#include "ckbase/exception.h"
#include "cryptoki/library.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/user.h"

namespace zrck {

void TokObjectClassFactory::RegisterClass(CK_OBJECT_CLASS objectClass, CK_ULONG subtype, CreationTest test,
                                          Generator generator) {
    ClassProperties properties{std::move(test), std::move(generator)};
    mRegistrations.push_back(properties);
    const unsigned long long key = (static_cast<unsigned long long>(objectClass) << 32) | (subtype & 0xFFFFFFFFULL);
    mByKey.emplace(key, properties);
}

TokObject* TokObjectClassFactory::Generate(const AttributeTemplate& attributes) const {
    if (const Attribute* objectClass = attributes.GetAttributeIfExists(CKA_CLASS)) {
        const Attribute* keyType = attributes.GetAttributeIfExists(CKA_KEY_TYPE);
        const CK_ULONG subtype = keyType != nullptr ? keyType->GetAsULong() : 0;
        const unsigned long long key =
            (static_cast<unsigned long long>(objectClass->GetAsULong()) << 32) | (subtype & 0xFFFFFFFFULL);
        auto found = mByKey.find(key);
        if (found != mByKey.end() && found->second.couldBeCreated(attributes)) return found->second.generate();
    }
    for (const ClassProperties& registration : mRegistrations) {
        if (registration.couldBeCreated(attributes)) return registration.generate();
    }
    return nullptr;
}

ClassRegistrator::ClassRegistrator(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype,
                                   TokObjectClassFactory::CreationTest test,
                                   TokObjectClassFactory::Generator generator) {
    token->GetClassFactory()->RegisterClass(objectClass, subtype, std::move(test), std::move(generator));
}

Token::Token(Slot* slot)
    : mpSlot(slot),
      mpOperationMutex(CreateNamedMutex("mpOperationMutex")),
      mpClassFactory(new TokObjectClassFactory(this)) {}

Token::~Token() = default;

void Token::EnvelopeSessionState(const tru::Buffer&, tru::BufferDynamic&) { throw Exception(CKR_STATE_UNSAVEABLE); }

CK_ULONG Token::EstimateSessionStateSize(const tru::Buffer&) { throw Exception(CKR_STATE_UNSAVEABLE); }

void Token::UnwrapSessionStateEnvelope(const tru::Buffer&, tru::BufferDynamic&) {
    throw Exception(CKR_STATE_UNSAVEABLE);
}

void Token::UseObjects(const std::vector<UsedObject>&, ObjectUse, const std::function<bool()>& body) { body(); }

std::shared_ptr<TokMechanism> Token::HoldMechanismIfSupported(CK_MECHANISM_TYPE type) {
    // A token that never drops its mechanisms while calls run: the pointer alone.
    return std::shared_ptr<TokMechanism>(std::shared_ptr<TokMechanism>(), GetMechanismIfSupported(type));
}

void Token::CleanDirty() {
    vdk::MutexIntf::Guard guard(*mpOperationMutex, "CleanDirty");
    mDirty.store(false);
}

CK_ULONG Token::CountSessions(const std::function<bool(const SessionFrame&)>& filter) {
    CK_ULONG count = 0;
    const CK_SLOT_ID slotID = mpSlot->GetSlotID();
    mpSlot->EnumerateSessions([&](SessionFrame& session) {
        if (!session.IsClosed() && session.GetSlotID() == slotID && filter(session)) ++count;
        return true;
    });
    return count;
}

CK_ULONG Token::GetSessionCount() {
    return CountSessions([](const SessionFrame&) { return true; });
}

CK_ULONG Token::GetRwSessionCount() {
    return CountSessions([](const SessionFrame& session) { return !session.IsReadOnly(); });
}

int Token::GetExternalRandom(tru::Buffer& output) {
    auto* library = dynamic_cast<Library*>(mpSlot->GetLibrary());
    if (library == nullptr) throw Exception(CKR_GENERAL_ERROR);
    return library->GetExternalRandom(output);
}

bool Token::SignalLogout() {
    const CK_SLOT_ID slotID = mpSlot->GetSlotID();
    auto* library = dynamic_cast<Library*>(mpSlot->GetLibrary());
    if (library == nullptr) throw Exception(CKR_GENERAL_ERROR);
    // Outside the registry lock: each session takes its own call lock.
    for (const SessionPtr& session : library->GetUser()->GetAllSessions()) {
        if (!session->IsClosed() && session->GetSlotID() == slotID) session->LogoutSignaled();
    }
    return true;
}

void Token::CalculateMark(const tru::Buffer&, tru::BufferDynamic&) { throw Exception(CKR_FUNCTION_REJECTED); }

}  // namespace zrck
