#include "driver/qel_library.h"

#include <algorithm>
#include <cstring>

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/user.h"
#include "driver/cache_clock.h"
#include "driver/qel_brand.h"
#include "driver/qel_slot.h"
#include "driver/qel_slot_factory.h"
#include "driver/qel_token.h"
#include "driver/qel_token_tables.h"
#include "driver/token_stored_object.h"
#include "support/entropy.h"
#include "support/os_services.h"
#include "support/vdk_exception.h"

namespace qel {

namespace {

// Loading the library registers the creator hook and nothing else.
struct CreatorRegistration {
    CreatorRegistration() { zrck::LibraryFrame::LibraryCreatorFuncPtr = &Library::Create; }
} creatorRegistration;

void CopyPadded(CK_UTF8CHAR* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

}  // namespace

void Library::Create() { globalLibraryPtr.store(new Library()); }

Library::Library() = default;

Library::~Library() = default;

SlotFactory* Library::GetDriverSlotFactory() const { return static_cast<SlotFactory*>(GetSlotFactory()); }

void Library::PrepareDecoration() {
    brand_.store(ChooseBrand(vdk::GetLibraryFullFilename(reinterpret_cast<const void*>(&Library::Create)),
                             brand_.load()));
}

CK_RV Library::Initialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs) {
    return InitializeLibrary(pInitArgs, [this] {
        PrepareDecoration();
        CacheClock::FollowTestEnvironment();
        // A text the parser rejects leaves an empty configuration, never a partly filled one.
        configuration_.reset(new vdk::Properties());
        try {
            if (!GetConfigText().empty()) configuration_->Parse(GetConfigText());
        } catch (const vdk::Exception&) {
            configuration_.reset(new vdk::Properties());
        }
        SetSlotFactory(std::unique_ptr<zrck::SlotFactory>(new SlotFactory(this)));
    });
}

CK_RV Library::Finalize(CK_VOID_PTR) {
    return FinalizeLibrary([this] {
        // Slots, tokens and storages go before the configuration they read and the layers'
        // process-wide tables they used.
        SetSlotFactory(nullptr);
        configuration_.reset();
        ReleaseLayers();
    });
}

CK_RV Library::GetInfo(CK_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (GetInitCount() < 1) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const BrandTexts& texts = GetBrandTexts(GetBrand());
    pInfo->cryptokiVersion = CK_VERSION{2, 30};
    CopyPadded(pInfo->manufacturerID, sizeof pInfo->manufacturerID, texts.manufacturer);
    pInfo->flags = 0;
    CopyPadded(pInfo->libraryDescription, sizeof pInfo->libraryDescription, texts.description);
    pInfo->libraryVersion = CK_VERSION{1, 0};
    return CKR_OK;
}

int Library::GetConfigFlag(const char* key) const {
    if (!configuration_) return -1;
    try {
        return configuration_->GetAsBool(key, false) ? 1 : 0;
    } catch (const vdk::Exception&) {
        return 0;  // a value that is no Boolean counts as absent
    }
}

int Library::GetExternalRandom(tru::Buffer& output) {
    if (ExternalRandomCallback callback = GetExternalRandomCallback()) {
        const CK_RV rv = callback(output.Data(), output.Size());
        if (rv == CKR_OK) return 0;
        throw zrck::Exception(rv == 1 ? CKR_FUNCTION_CANCELED : rv);
    }
    if (output.Size() == 0) return 0;
    if (vdk::GetEntropySlow(output.Data(), output.Size()) < output.Size()) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return 0;
}

// ---- vendor attributes ----

CK_RV Library::SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    if (pTemplate == nullptr) return CKR_ARGUMENTS_BAD;
    zrck::AttributeTemplate attributes(pTemplate, ulCount);
    if (const zrck::Attribute* callback = attributes.GetAttributeIfExists(CKA_ZR_EXT_RANDOM_CALLBACK)) {
        ExternalRandomCallback function = nullptr;
        if (callback->GetLength() != sizeof function || callback->GetRecord()->pValue == nullptr) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        std::memcpy(&function, callback->GetRecord()->pValue, sizeof function);
        SetExternalRandomCallback(function);
        return CKR_OK;
    }
    // Attaching and detaching need the slot table of an initialised library.
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return AttachOrDetach(attributes);
}

CK_RV Library::AttachOrDetach(const zrck::AttributeTemplate& attributes) {
    const zrck::Attribute* slotId = attributes.GetAttributeIfExists(CKA_ZR_SLOT_ID);
    const zrck::Attribute* context = attributes.GetAttributeIfExists(CKA_ZR_SMART_CONTEXT);
    const zrck::Attribute* detach = attributes.GetAttributeIfExists(CKA_ZR_TOKEN_DETACH);
    SlotFactory& factory = *GetDriverSlotFactory();

    if (detach != nullptr && slotId != nullptr) {
        std::shared_ptr<Slot> slot = std::static_pointer_cast<Slot>(factory.FindSlotByID(slotId->GetAsULong()));
        if (!slot) return CKR_SLOT_ID_INVALID;
        if (detach->GetAsBool()) {
            if (!slot->IsInitialized()) return CKR_TOKEN_NOT_PRESENT;
            std::shared_ptr<Token> token = slot->GetDriverToken();
            if (token && token->GetSessionCount() != 0) return CKR_SESSION_EXISTS;
            slot->DetachToken();
            return CKR_OK;
        }
        if (context == nullptr) return CKR_TEMPLATE_INCOMPLETE;
        const SCARDHANDLE handle = static_cast<SCARDHANDLE>(context->GetAsULong());
        if (slot->IsInitialized()) {
            slot->ReattachToken(handle);
        } else {
            slot->AttachToken(handle);
        }
        return CKR_OK;
    }
    if (detach == nullptr && context != nullptr && slotId != nullptr) {
        const SCARDHANDLE handle = static_cast<SCARDHANDLE>(context->GetAsULong());
        CK_ATTRIBUTE* out = slotId->GetRecord();
        // The answer's room is checked first: a refused call attaches nothing.
        if (out->pValue != nullptr && out->ulValueLen < sizeof(CK_SLOT_ID)) {
            out->ulValueLen = sizeof(CK_SLOT_ID);
            return CKR_BUFFER_TOO_SMALL;
        }
        const CK_SLOT_ID id = factory.AttachToken(handle)->GetSlotID();
        if (out->pValue != nullptr) std::memcpy(out->pValue, &id, sizeof id);
        out->ulValueLen = sizeof(CK_SLOT_ID);
        return CKR_OK;
    }
    return CKR_TEMPLATE_INCOMPLETE;
}

// ---- object-changing calls ----

void Library::RunStorageOperation(zrck::Token& owner, const char* name, const std::function<void()>& body) {
    auto* token = dynamic_cast<Token*>(&owner);
    if (token == nullptr || token->GetStorage() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    TokenStorage::GlobalBusyGuard guard(*token->GetStorage(), name);
    body();
}

CK_RV Library::CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
    const CK_RV rv = zrck::Library::CopyObject(hSession, hObject, pTemplate, ulCount, phNewObject);
    if (rv == CKR_OK && phNewObject != nullptr && *phNewObject != 0) StoreTokenCopy(hSession, *phNewObject);
    return rv;
}

void Library::StoreTokenCopy(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE copyHandle) {
    zrck::SessionPtr session = GetUser()->GetSession(hSession, false);
    zrck::TokenPtr owner = session->LockToken();
    if (!owner || owner->GetSlot() == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    auto* slot = dynamic_cast<Slot*>(owner->GetSlot());
    if (slot == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    zrck::TokObjectPtr copy = slot->GetBlockObjectIfExists(copyHandle);
    if (!copy) return;
    struct Release {
        Slot& slot;
        const zrck::TokObjectPtr& object;
        ~Release() { slot.ReleaseObject(object); }
    } release{*slot, copy};
    auto* stored = dynamic_cast<TokenStoredObject*>(copy.get());
    if (copy->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN || stored == nullptr) return;
    // The framework may have written the copy already; a copy never shares its source's files.
    if (stored->GetObjectFile() != 0) return;
    auto* token = dynamic_cast<Token*>(owner.get());
    if (token == nullptr || token->GetStorage() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    TokenStorage::GlobalBusyGuard guard(*token->GetStorage(), "Library::CopyObject");
    stored->StoreAttributes();  // reserves the copy's own files first
    stored->SetStorageID(static_cast<uint32_t>(stored->GetAttributeFile()) << 16 |
                         static_cast<uint32_t>(stored->GetObjectFile()));
    slot->RegisterObject(*copy);
    owner->Update(true);
}


}  // namespace qel
