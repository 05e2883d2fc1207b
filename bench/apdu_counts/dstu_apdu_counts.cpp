// The main road with a DSTU 4145 key, one step at a time, with the APDUs each step sent to the
// simulated token (its counters). Also the document signature, printed for the demo.
// Runs inside the rig (tools/tokensim/rig.sh), which names the control socket in TOKENSIM_CONTROL.
//
// The framework's key and signature bodies are not built yet: the steps that need them drive
// the driver's token, slot and the DSTU 4145 classes the way those bodies will.
#include "control_client.h"
#include "cryptoki/exception.h"
#include "cryptoki/library_frame.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/zr_pkcs11.h"
#include "driver/qel_library.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "national/ua_sgn_token_rows.h"
#include "national/ua_sgn_util.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kUserPin = "12345678";

class BenchSession : public zrck::SessionFrame {
public:
    explicit BenchSession(std::shared_ptr<qel::Token> owner) : token_(std::move(owner)) { SetReadOnly(false); }
    zrck::Token* GetOwnerToken() override { return token_.get(); }
    zrck::TokenPtr LockToken() const override { return token_; }
    bool CouldSeePrivateObjects() const override { return true; }
    void Close() override {}
    void FillSessionInfo(CK_SESSION_INFO_PTR) override {}
    CK_STATE GetState() override { return CKS_RW_USER_FUNCTIONS; }
    void SeedRandom(const tru::Buffer&) override {}
    void GenerateRandom(tru::Buffer&) override {}

private:
    std::shared_ptr<qel::Token> token_;
};

// Runs one step and prints the commands it sent.
class Counter {
public:
    explicit Counter(const tokensim::rig::ControlClient& control) : control_(control) {}

    void Step(const char* name, const std::function<void()>& body)
    {
        const auto before = control_.Counters();
        body();
        const auto after = control_.Counters();
        uint64_t total = 0;
        std::string detail;
        for (const auto& entry : after) {
            const auto found = before.find(entry.first);
            const uint64_t sent = entry.second - (found == before.end() ? 0 : found->second);
            if (sent == 0 || entry.first == "total") continue;  // the sum the simulator keeps itself
            total += sent;
            detail += " " + entry.first + "=" + std::to_string(sent);
        }
        std::printf("%-46s %3llu APDU%s%s\n", name, static_cast<unsigned long long>(total), total == 1 ? " " : "s",
                    detail.c_str());
    }

private:
    const tokensim::rig::ControlClient& control_;
};

void Check(CK_RV rv, const char* what)
{
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s failed: 0x%lX\n", what, static_cast<unsigned long>(rv));
        std::exit(1);
    }
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const char* socket = std::getenv("TOKENSIM_CONTROL");
    if (socket == nullptr) {
        std::fprintf(stderr, "run inside the rig: tools/tokensim/rig.sh --sim \"--so-pin 87654321 --user-pin %s\" -- %s\n",
                     kUserPin, argv[0]);
        return 2;
    }
    const std::string text = argc > 1 ? argv[1] : "A document signed with a DSTU 4145 key on the token.";
    const std::vector<uint8_t> document(text.begin(), text.end());
    tokensim::rig::ControlClient control(socket);
    Counter counter(control);
    const zrck::MechanismParameter none(0, tru::Buffer());

    zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    Check(C_Initialize(&args), "C_Initialize");
    CK_SLOT_ID slotId = 0;
    CK_ULONG count = 1;
    Check(C_GetSlotList(CK_TRUE, &slotId, &count), "C_GetSlotList");


    std::printf("APDUs per step of the main road (set 11, m = 257), logged in with the key found:\n");
    CK_SESSION_HANDLE session = 0;
    counter.Step("C_OpenSession", [&] {
        Check(C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    });
    counter.Step("C_Login (user)", [&] {
        Check(C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), "C_Login");
    });
    zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->GetSlotByID(slotId);
    auto token = std::dynamic_pointer_cast<qel::Token>(slot->GetToken());
    if (!qel::UASgnTokenTablesRegistered()) return 1;
    BenchSession frame(token);
    std::shared_ptr<zrck::TokObject> privateKey;
    std::shared_ptr<zrck::TokObject> publicKey;
    zrck::Slot::SearchAccelerator filter;
    filter.classGiven = true;
    filter.objectClass = CKO_PRIVATE_KEY;
    zrck::Slot::ObjEnumerationData search;
    search.accelerator = &filter;
    zrck::TokObject* found = nullptr;
    auto find = [&] {
        found = nullptr;
        slot->EnumerateObjects(
            [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
                if (&object == privateKey.get() && privateKey) found = &object;
                return true;
            },
            &search);
    };
    counter.Step("C_FindObjects* (first after login)", find);
    // Not measured: a key pair on the token, filed in its index as a library call ends.
    try {
        CK_ATTRIBUTE publicRecord{CKA_EC_PARAMS, const_cast<uint8_t*>(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE.Data()),
                                  qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE.Size()};
        CK_ATTRIBUTE privateRecord{CKA_LABEL, const_cast<char*>("road"), 4};
        zrck::AttributeTemplate publicTemplate(&publicRecord, 1);
        zrck::AttributeTemplate privateTemplate(&privateRecord, 1);
        std::unique_ptr<zrck::TokMechanism> generator(token->GetMechanismIfSupported(CKM_DSTU4145_KEY_PAIR_GEN)->Clone());
        auto pair = generator->GenerateKeyPair(frame, none, publicTemplate, privateTemplate);
        publicKey = pair.first;
        privateKey = pair.second;
        for (const auto& key : {publicKey, privateKey}) {
            slot->AddObject(key);
            token->SetDirty(key.get(), nullptr);
        }
        token->Update(true);
    } catch (const zrck::Exception& e) {
        std::fprintf(stderr, "key-pair generation failed: 0x%lX\n", static_cast<unsigned long>(e.GetCode()));
        return 1;
    }
    counter.Step("C_FindObjects* (after this process's change)", find);
    counter.Step("C_FindObjects* (nothing changed)", find);
    if (found == nullptr) {
        std::fprintf(stderr, "the key was not found\n");
        return 1;
    }
    std::unique_ptr<zrck::TokMechanism> signer(token->GetMechanismIfSupported(CKM_GOST34311_DSTU4145)->Clone());
    const tru::Buffer data(document.data(), static_cast<uint32_t>(document.size()));
    unsigned long length = 0;
    std::vector<uint8_t> signature;
    try {
        counter.Step("C_SignInit (CKM_GOST34311_DSTU4145)", [&] {
            signer->SignInit(frame, none, dynamic_cast<zrck::TokPrivateKey&>(*found));
        });
        counter.Step("C_Sign (length query)", [&] { signer->Sign(frame, data, nullptr, &length); });
        signature.resize(length);
        counter.Step("C_Sign", [&] { signer->Sign(frame, data, signature.data(), &length); });
        signature.resize(length);
        bool accepted = false;
        counter.Step("C_VerifyInit + C_Verify", [&] {
            std::unique_ptr<zrck::TokMechanism> verifier(
                token->GetMechanismIfSupported(CKM_GOST34311_DSTU4145)->Clone());
            verifier->VerifyInit(frame, none, dynamic_cast<zrck::TokPublicKey&>(*publicKey));
            accepted = verifier->Verify(frame, data, tru::Buffer(signature.data(), static_cast<uint32_t>(signature.size())));
        });
        std::printf("\ndocument:  \"%s\"\nsignature: %s (%zu bytes)\nverified:  %s\n", text.c_str(),
                    Hex(signature).c_str(), signature.size(), accepted ? "yes" : "NO");
        if (!accepted) return 1;
    } catch (const zrck::Exception& e) {
        std::fprintf(stderr, "signature failed: 0x%lX\n", static_cast<unsigned long>(e.GetCode()));
        return 1;
    }
    signer.reset();
    C_Finalize(nullptr);
    return 0;
}
