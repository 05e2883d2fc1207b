// The session's object search: the handles are collected once at C_FindObjectsInit and
// handed out in batches.
#include <algorithm>
#include <unordered_set>

#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/unblock_guard.h"
#include "objects/tok_object.h"

namespace zrck {

namespace {

enum SearchVisibility { SEARCH_PUBLIC = 1, SEARCH_PRIVATE = 2, SEARCH_BOTH = 3 };

struct SearchEnumerationData : Slot::ObjEnumerationData {
    const AttributeTemplate* attributes = nullptr;
    std::unordered_set<CK_OBJECT_HANDLE> found;
    std::vector<CK_OBJECT_HANDLE>* results = nullptr;
};

bool SearchCallback(TokObject& object, Slot::ObjEnumerationData* record) {
    auto* data = static_cast<SearchEnumerationData*>(record);
    if (object.IsDeleted() || !object.IsObjectMeetConditions(*data->attributes)) return true;
    if (TokStorageObject::IsTokStorageObject(&object) &&
        TokStorageObject::AsTokStorageObject(&object)->IsPrivateObject()) {
        const int visibility = data->accelerator != nullptr ? data->accelerator->visibility : SEARCH_PUBLIC;
        if (visibility != SEARCH_PRIVATE && visibility != SEARCH_BOTH) return true;
    }
    if (data->found.insert(object.GetHandle()).second) data->results->push_back(object.GetHandle());
    return true;
}

bool IsSearchableClass(CK_OBJECT_CLASS objectClass) {
    return objectClass <= CKO_MECHANISM || objectClass == CKO_ZR_CRL;
}

}  // namespace

SearchFinalizer::~SearchFinalizer() {
    if (!mDismissed && mSession != nullptr) mSession->EndSearch();
}

void SessionFrame::EndSearch() {
    std::lock_guard<CallMutex> call(GetCallMutex());
    mSearchResults.clear();
    mSearchPosition = 0;
    mSearchActive = false;
}

void SessionFrame::StartSearch(AttributeTemplate& attributes) {
    InSession([&](Token* token) {
        token->GetSlot()->VerifyTemplateArgument(attributes);
        Slot::SearchAccelerator accelerator;
        accelerator.tokenObjectsWanted = true;
        accelerator.visibility = SEARCH_PUBLIC;
        mSearchResults.clear();
        mSearchPosition = 0;
        const Attribute* tokenEntry = attributes.GetAttributeIfExists(CKA_TOKEN);
        if (tokenEntry != nullptr && !tokenEntry->GetAsBool()) accelerator.tokenObjectsWanted = false;
        const Attribute* privateEntry = attributes.GetAttributeIfExists(CKA_PRIVATE);
        // Private objects are the user's: a security officer's search sees the public ones.
        if (IsUserLogged(token)) {
            accelerator.visibility =
                privateEntry == nullptr ? SEARCH_BOTH : (privateEntry->GetAsBool() ? SEARCH_PRIVATE : SEARCH_PUBLIC);
        } else if (privateEntry != nullptr && privateEntry->GetAsBool()) {
            mSearchActive = true;
            return;
        }
        if (const Attribute* classEntry = attributes.GetAttributeIfExists(CKA_CLASS)) {
            if (classEntry->GetLength() != sizeof(CK_ULONG)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            const CK_OBJECT_CLASS objectClass = classEntry->GetAsULong();
            // A class no object can have matches nothing.
            if (!IsSearchableClass(objectClass)) {
                mSearchActive = true;
                return;
            }
            accelerator.classGiven = true;
            accelerator.objectClass = objectClass;
        }
        mSearchActive = true;
        ExecuteSearch(token, accelerator, attributes);
    });
}

void SessionFrame::ExecuteSearch(Token* token, Slot::SearchAccelerator& accelerator,
                                 const AttributeTemplate& attributes) {
    mSearchResults.clear();
    SearchEnumerationData data;
    data.accelerator = &accelerator;
    data.attributes = &attributes;
    data.results = &mSearchResults;
    token->GetSlot()->EnumerateObjects(&SearchCallback, &data);
    std::sort(mSearchResults.begin(), mSearchResults.end());
    mSearchPosition = 0;
}

CK_ULONG SessionFrame::Search(CK_OBJECT_HANDLE* handles, CK_ULONG maximum) {
    std::lock_guard<CallMutex> call(GetCallMutex());
    ApplyPendingLogout();
    if (!mSearchActive) throw Exception(CKR_OPERATION_NOT_INITIALIZED);
    CK_ULONG count = 0;
    while (count < maximum && mSearchPosition < mSearchResults.size()) {
        handles[count++] = mSearchResults[mSearchPosition++];
    }
    return count;
}

}  // namespace zrck
