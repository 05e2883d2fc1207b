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

    // The storage guard (device lock, card transaction, busy flag) around the step of an
    // object-changing call that writes to the token; the framework calls it inside the
    // session's call lock, so the session lock always comes before the device lock.
    void RunStorageOperation(zrck::Token& token, const char* name, const std::function<void()>& body) override;
    CK_RV CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) override;

    uint32_t GetBrand() const { return brand_.load(); }
    // The parsed configuration, or null before C_Initialize.
    const vdk::Properties* GetConfiguration() const { return configuration_.get(); }
    SlotFactory* GetDriverSlotFactory() const;
    // Brand from the file of the loaded library that holds this code.
    void PrepareDecoration();

private:
    // Gives a token copy its own files and index record when the copy has none yet.
    void StoreTokenCopy(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE copy);
    CK_RV AttachOrDetach(const zrck::AttributeTemplate& attributes);

    std::atomic<uint32_t> brand_{0};
    std::unique_ptr<vdk::Properties> configuration_;
};

}  // namespace qel
