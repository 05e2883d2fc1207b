#pragma once

#include <atomic>
#include <memory>

#include "cryptoki/library.h"
#include "support/properties.h"

namespace qel {

class SlotFactory;

// The token driver's library object: start-up and shutdown, the brand chosen from the
// library's own file name, the configuration from pReserved, the vendor attributes of
// C_SetLibraryAttributes, the external random source, and the storage-wide guard around every
// object-changing call.
//
// Configuration keys (property text given as pReserved of CK_C_INITIALIZE_ARGS):
//   ResponseDelay = <integer>          sent to each token as its response delay when positive
//   MozillaNSSCompatibility = <bool>   a CK_BBOOL attribute of length 0 reads as false
class Library : public zrck::Library {
public:
    // The creator hook registered by this unit's static initialiser.
    static void Create();

    Library();
    ~Library() override;

    CK_RV Initialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs) override;
    CK_RV Finalize(CK_VOID_PTR pReserved) override;
    CK_RV GetInfo(CK_INFO_PTR pInfo) override;
    CK_RV SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) override;
    bool IsWaitForSlotEventAvailable() const override { return false; }
    CK_RV PrepareMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs) override { return PrepareRecursiveMutexes(pInitArgs); }
    bool NeedToCreateOwnThreads() override { return false; }
    // Fills the whole buffer from the application's callback or the system's entropy; throws.
    int GetExternalRandom(tru::Buffer& output) override;
    void UpdateTokens() override {}
    int GetConfigFlag(const char* key) const override;

    CK_RV SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                            CK_ULONG ulCount) override;
    CK_RV CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                       CK_OBJECT_HANDLE_PTR phObject) override;
    CK_RV CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) override;
    CK_RV DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) override;
    CK_RV GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) override;
    CK_RV GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                          CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                          CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                          CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) override;
    CK_RV DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) override;
    CK_RV UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                    CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) override;

    uint32_t GetBrand() const { return brand_.load(); }
    // The parsed configuration, or null before C_Initialize.
    const vdk::Properties* GetConfiguration() const { return configuration_.get(); }
    SlotFactory* GetDriverSlotFactory() const;
    // Brand from the file of the loaded library that holds this code.
    void PrepareDecoration();

private:
    template <class Body>
    CK_RV WithStorageGuard(CK_SESSION_HANDLE hSession, const char* operation, Body body);
    // Gives a token copy its own files and index record when the copy has none yet.
    void StoreTokenCopy(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE copy);
    CK_RV AttachOrDetach(const zrck::AttributeTemplate& attributes);

    std::atomic<uint32_t> brand_{0};
    std::unique_ptr<vdk::Properties> configuration_;
};

}  // namespace qel
