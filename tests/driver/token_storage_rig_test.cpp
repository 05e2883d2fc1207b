// Token storage against the simulated token through the real pcscd: connection, presence,
// device sessions, PINs, random data, revision, resets and removal.
#include "storage_rig_fixture.h"

using namespace drivertest;
using qel::TokenStorage;

namespace {

struct RecognitionCase {
    const char* name;
    std::vector<std::string> simulator;
    int brand;
    bool recognised;
    uint32_t model;
};

class RecognitionTest : public StorageRigTest, public ::testing::WithParamInterface<RecognitionCase> {
protected:
    void SetUp() override
    {
        simulatorOptions = GetParam().simulator;
        host.brand = GetParam().brand;
        StorageRigTest::SetUp();
    }
};

TEST_P(RecognitionTest, AcceptsOnlyTheBrandsAtrs)
{
    const RecognitionCase& c = GetParam();
    EXPECT_TRUE(storage->IsPresent());
    EXPECT_EQ(storage->IsRecognized(), c.recognised);
    EXPECT_EQ(storage->GetModelFlag(), c.model);
    if (c.recognised) {
        EXPECT_EQ(storage->GetSerialNumber().ToString(), "SIM0000000000001");
        EXPECT_EQ(host.connected.load(), 1);
    } else {
        EXPECT_EQ(storage->VerifyTokenPresence(), CKR_TOKEN_NOT_RECOGNIZED);
        EXPECT_CKR(storage->OpenDevSessionInt(), CKR_TOKEN_NOT_RECOGNIZED);
        EXPECT_TRUE(storage->IsTokenPresentM());  // a foreign card still occupies the reader
    }
}

INSTANTIATE_TEST_SUITE_P(
    BrandsAndModels, RecognitionTest,
    ::testing::Values(RecognitionCase{"brand0_full", {}, 0, true, 0},
                      RecognitionCase{"brand0_lite", {"--model", "lite"}, 0, true, 1},
                      RecognitionCase{"brand1_full", {"--brand", "1"}, 1, true, 0},
                      RecognitionCase{"brand1_card_for_brand0_library", {"--brand", "1"}, 0, false, 0},
                      RecognitionCase{"brand1_lite_not_in_table", {"--brand", "1", "--model", "lite"}, 1, false, 0},
                      RecognitionCase{"atr_of_20_bytes", {"--atr", "long"}, 0, false, 0},
                      RecognitionCase{"nonzero_byte_16", {"--atr", "bad-tail"}, 0, false, 0},
                      RecognitionCase{"foreign_card", {"--atr", "foreign"}, 0, false, 0}),
    [](const ::testing::TestParamInfo<RecognitionCase>& info) { return std::string(info.param.name); });

class TokenStorageRig : public StorageRigTest {};

class NewTokenRig : public StorageRigTest {
protected:
    void SetUp() override
    {
        simulatorOptions = {"--serial", kSerial, "--random-length", "24"};
        StorageRigTest::SetUp();
    }
};

TEST_F(NewTokenRig, InitialisationKeepsTheSoLoggedInAndSetsTheUserPin)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_InitToken");
        storage->InitializeSO(Text(kSoPin), Text("fresh token"));
    }
    EXPECT_EQ(host.randomRequests.load(), 1);
    EXPECT_TRUE(storage->IsSoPinKept());
    EXPECT_EQ(storage->GetTokenDataRevision(), 0u);
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_InitPIN");
        storage->InitPIN(Text(kUserPin));
    }
    EXPECT_TRUE(storage->IsSoPinKept());
    EXPECT_NE(storage->GetTokenDataRevision(), 0u) << "user PIN initialisation counts as a change";
    storage->LogoutUserM();
    storage->LoginUserM(Text(kUserPin));
    storage->ReadTokenInternalInfoM();
    EXPECT_EQ(storage->GetTokenLabelM().substr(0, 11), "fresh token");
}

TEST_F(TokenStorageRig, PresenceIsCachedThenFollowsRemovalAndSwap)
{
    qel::CacheClock::Freeze();
    ASSERT_TRUE(storage->IsTokenPresentM());  // reads the serial once
    Sim().ResetCounters();
    EXPECT_TRUE(storage->IsTokenPresentM());
    EXPECT_EQ(Sim().Counters()["total"], 0u) << "a fresh presence answer sends nothing";

    // The slot is told about the new card with the storage mutex released: another thread can
    // use the storage from inside the notification (the slot closing sessions does).
    bool usableFromAnotherThread = false;
    host.onConnected = [&] {
        std::thread other([&] { usableFromAnotherThread = !storage->GetTokenLabelM().empty(); });
        other.join();
    };
    rig->SwapCard("OTHERTOKEN");
    storage->ResetDeviceCache();
    EXPECT_FALSE(storage->IsTokenPresentM()) << "another token in the reader: this one is gone";
    const int connections = host.connected.load();
    storage->ResetDeviceCache();
    EXPECT_TRUE(storage->IsTokenPresentM()) << "a later check takes the new token";
    EXPECT_EQ(storage->GetSerialNumber().ToString(), "OTHERTOKEN      ");
    EXPECT_EQ(host.connected.load(), connections + 1);
    EXPECT_TRUE(usableFromAnotherThread);
    host.onConnected = nullptr;

    rig->RemoveCard();
    storage->ResetDeviceCache();
    EXPECT_FALSE(storage->IsTokenPresentM());
    EXPECT_CKR(storage->GenerateUserRandomM(*std::make_unique<tru::BufferDynamic>(8)), CKR_DEVICE_REMOVED);
    rig->InsertCard();
    EXPECT_TRUE(storage->IsTokenPresentM());
}

TEST_F(TokenStorageRig, RemovalDuringUseReportsDeviceRemoved)
{
    storage->LoginUserM(Text(kUserPin));
    rig->RemoveCard();
    std::vector<qel::storage::IndexFileRecord> list;
    EXPECT_CKR(storage->ListObjectsM(qel::PublicObject, 0, list), CKR_DEVICE_REMOVED);
    EXPECT_EQ(storage->VerifyTokenPresence(), CKR_DEVICE_REMOVED);
    EXPECT_EQ(host.slotEvents.load(), 1);
}

// A command cut off by the pull answers "removed" once the reader is seen empty, and presence
// follows the reader's state at once, also for a card pulled and put back, whatever the cached
// presence answer says.
TEST_F(TokenStorageRig, PullCutsACommandAndPresenceFollowsTheReader)
{
    qel::CacheClock::Freeze();
    std::vector<qel::storage::IndexFileRecord> list;
    tru::BufferDynamic random(40);
    const std::vector<std::pair<const char*, std::function<void()>>> cut = {
        {"a listing", [&] { storage->ListObjectsM(qel::PublicObject, 0, list); }},
        {"a login", [&] { storage->LoginUserM(Text(kUserPin)); }},
        {"random data", [&] { storage->GenerateUserRandomM(random); }},
    };
    for (const auto& operation : cut) {
        storage->LoginUserM(Text(kUserPin));
        Sim().PullAfter(0);
        EXPECT_CKR(operation.second(), CKR_DEVICE_REMOVED);
        EXPECT_FALSE(storage->IsTokenPresentM()) << operation.first << " cut off";
        // The answer comes at once; the card is put back once pcscd has seen it go (a card put
        // back before that is reached again only at vpcd's next poll).
        ASSERT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15)));
        rig->InsertCard();
        EXPECT_TRUE(storage->IsTokenPresentM()) << "put back after " << operation.first << " was cut off";
    }
    ASSERT_TRUE(storage->IsTokenPresentM()) << "the presence answer is now cached";

    rig->RemoveCard();
    EXPECT_FALSE(storage->IsTokenPresentM()) << "the reader is empty";
    rig->InsertCard();
    EXPECT_TRUE(storage->IsTokenPresentM());
    rig->RemoveCard();
    rig->InsertCard();
    EXPECT_FALSE(storage->IsTokenPresentM()) << "pulled and put back: the connection's card is gone";
    EXPECT_TRUE(storage->IsTokenPresentM()) << "the card put back is taken";
}

TEST_F(TokenStorageRig, OneDeviceSessionIsSharedAndClosedAtTheEnd)
{
    storage->LoginUserM(Text(kUserPin));
    std::vector<qel::storage::IndexFileRecord> list;
    storage->ListObjectsM(qel::PublicObject, 0, list);
    tru::BufferDynamic random(40);
    storage->GenerateUserRandomM(random);
    EXPECT_EQ(Sim().SessionCount(), 1u);
    EXPECT_EQ(Count("OpenSession"), 1u);
    storage.reset();
    EXPECT_EQ(Sim().SessionCount(), 0u);
}

TEST_F(TokenStorageRig, SessionThatCannotBeClosedIsClosedOnTheNextConnection)
{
    storage->LoginUserM(Text(kUserPin));  // also closes what earlier tests left for this serial
    const size_t before = TokenStorage::LostSessionCount();
    Sim().ForceStatus(4, 1, "CloseSession");  // busy
    storage->ClearDevSessionM();
    EXPECT_FALSE(storage->IsSessionOpened());
    EXPECT_EQ(TokenStorage::LostSessionCount(), before + 1);
    EXPECT_EQ(Sim().SessionCount(), 1u);

    auto second = NewStorage(&otherHost);  // a new connection to the same token
    EXPECT_EQ(TokenStorage::LostSessionCount(), before);
    EXPECT_EQ(Sim().SessionCount(), 0u);

    // Never listed: an all-zero handle or a blank serial.
    const uint8_t zeroSession[32] = {};
    uint8_t someSession[32] = {};
    someSession[0] = 1;
    TokenStorage::SaveLostSession(Text("ZRDRV0001       "), zeroSession);
    TokenStorage::SaveLostSession(Text("                "), someSession);
    EXPECT_EQ(TokenStorage::LostSessionCount(), before);
}

TEST_F(TokenStorageRig, UserLoginWrongAndLockedPins)
{
    EXPECT_CKR(storage->LoginUserM(Text("00000000")), CKR_PIN_INCORRECT);
    storage->LoginUserM(Text(kUserPin));
    EXPECT_TRUE(storage->IsUserLoggedCached());
    storage->LogoutUserM();
    EXPECT_FALSE(storage->IsUserLoggedCached());
    for (int i = 0; i < 10; ++i) {
        try {
            storage->LoginUserM(Text("00000000"));
        } catch (const zrck::Exception& e) {
            if (e.GetCode() == CKR_PIN_LOCKED) {
                break;
            }
            ASSERT_EQ(e.GetCode(), CKR_PIN_INCORRECT);
        }
    }
    EXPECT_CKR(storage->LoginUserM(Text(kUserPin)), CKR_PIN_LOCKED);
}

TEST_F(TokenStorageRig, PinChangesAndUserPinInitialisation)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_SetPIN");
        storage->ChangePIN(Text(kUserPin), Text("11112222"));
    }
    EXPECT_CKR(storage->VerifyUserPassword(Text(kUserPin)), CKR_PIN_INCORRECT);
    storage->VerifyUserPassword(Text("11112222"));
    EXPECT_GT(host.randomRequests.load(), 0);

    storage->LoginSoM(Text(kSoPin));
    EXPECT_TRUE(storage->IsSoPinKept());
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_InitPIN");
        storage->InitPIN(Text("33334444"));
    }
    EXPECT_TRUE(storage->IsSoPinKept()) << "the SO stays logged in after initialising the user PIN";
    {
        // A failure half-way keeps the SO logged in as well.
        TokenStorage::GlobalBusyGuard guard(*storage, "C_InitPIN");
        Sim().ForceStatus(11, 1, "InitUserPIN");
        EXPECT_CKR(storage->InitPIN(Text("55556666")), CKR_DEVICE_ERROR);
    }
    EXPECT_TRUE(storage->IsSoPinKept());
    storage->VerifyUserPassword(Text("33334444"));

    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_SetPIN");
        storage->ChangePIN(Text(kSoPin), Text("99998888"));
    }
    storage->SetUserAuthMaxCountM(5);
    EXPECT_EQ(storage->GetUserAuthMaxCountM(), 5u);
    storage->LogoutUserM();
    EXPECT_FALSE(storage->IsSoPinKept());
    EXPECT_CKR(storage->SetUserAuthMaxCountM(5), CKR_USER_NOT_LOGGED_IN);
    EXPECT_CKR(storage->LoginSoM(Text(kSoPin)), CKR_PIN_INCORRECT);
    storage->LoginSoM(Text("99998888"));
}

TEST_F(TokenStorageRig, RandomComesInBlocksAndNeedsALogin)
{
    Sim().ResetCounters();
    tru::BufferDynamic ten(10);
    EXPECT_CKR(storage->GenerateUserRandomM(ten), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Count("GetRand"), 0u) << "a cached logout is believed";

    storage->LoginUserM(Text(kUserPin));
    storage->GenerateUserRandomM(ten);
    EXPECT_EQ(Count("GetRand"), 1u);
    tru::BufferDynamic rest(22);
    storage->GenerateUserRandomM(rest);
    EXPECT_EQ(Count("GetRand"), 1u) << "the 22 bytes left of the block serve the next request";
    tru::BufferDynamic more(33);
    storage->GenerateUserRandomM(more);
    EXPECT_EQ(Count("GetRand"), 3u);
    EXPECT_NE(ten.ToHex(), "00000000000000000000");
    storage->SeedUserRandomM(Text("seed"));
}

TEST_F(TokenStorageRig, RevisionStartsRandomThenCountsAndIsSeenByASecondConnection)
{
    storage->LoginUserM(Text(kUserPin));
    EXPECT_EQ(storage->GetTokenDataRevision(), 0u) << "no file 0 yet";
    auto second = NewStorage(&otherHost);
    second->LoginUserM(Text(kUserPin));
    EXPECT_FALSE(second->IsTokenDataChangedM());

    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        long obj = 0, attr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        storage->WriteDataFileM(obj, Text("v"));
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    const uint32_t first = storage->GetTokenDataRevision();
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        EXPECT_FALSE(storage->CheckAndUpdateRevision()) << "nothing changed in this call";
        storage->DeleteStorageObject(2u << 16 | 1u, true);
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    EXPECT_EQ(storage->GetTokenDataRevision(), first + 1);
    second->ResetDeviceCache();
    EXPECT_TRUE(second->IsTokenDataChangedM());
    EXPECT_EQ(second->GetTokenDataRevision(), first + 1);
}

TEST_F(TokenStorageRig, BrokenRevisionFileFails)
{
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        storage->OpenDevSessionInt();
        const uint8_t three[3] = {1, 2, 3};
        storage->WriteFileD(0, 0, three, 3);
    }
    storage->ResetDeviceCache();
    EXPECT_CKR(storage->GetTokenDataRevision(), CKR_FUNCTION_FAILED);
}

TEST_F(TokenStorageRig, FileReadsTakeTwoCommandsAndSurviveAChangeBetweenThem)
{
    storage->LoginUserM(Text(kUserPin));
    const uint8_t content[5] = {2, 0, 1, 0, 0x41};
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        storage->OpenDevSessionInt();
        storage->WriteFileD(5, 0, content, sizeof content);
    }
    // The token statuses forced on the read that follows the size: 107 "invalid offset" (the
    // file shrank), 105 "missing" (deleted in between).
    struct Case {
        const char* name;
        uint8_t status;
        unsigned times;
        std::string hex;  // what the read gives; empty with `fails`
        bool fails;
        uint64_t sizes, reads;
    };
    const Case cases[] = {
        {"plain read", 0, 0, "0200010041", false, 1, 1},
        {"file shrank: measured again", 107, 1, "0200010041", false, 2, 2},
        {"keeps shrinking: a device error", 107, 2, "", true, 2, 2},
        {"deleted in between: empty", 105, 1, "", false, 1, 1},
    };
    for (const Case& c : cases) {
        Sim().ResetCounters();
        if (c.times != 0) Sim().ForceStatus(c.status, c.times, "ReadFile");
        tru::BufferDynamic contents;
        TokenStorage::BusyGuard guard(*storage, "test");
        if (c.fails) {
            EXPECT_THROW(storage->ReadFileD(5, contents), zrck::Exception) << c.name;
        } else {
            storage->ReadFileD(5, contents);
        }
        EXPECT_EQ(contents.ToHex(), c.hex) << c.name;
        EXPECT_EQ(Count("GetFileSize"), c.sizes) << c.name;
        EXPECT_EQ(Count("ReadFile"), c.reads) << c.name;
        Sim().ClearFaults();
    }

    // The card pulled between the size and the read: an error, nothing half-read.
    Sim().PullAfter(1);
    tru::BufferDynamic contents;
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        EXPECT_THROW(storage->ReadFileD(5, contents), zrck::Exception);
    }
    EXPECT_TRUE(contents.Empty());
}

TEST_F(TokenStorageRig, RevisionIsReadInOneCommandAndAShortAnswerIsJudgedWhole)
{
    qel::CacheClock::Freeze();
    storage->LoginUserM(Text(kUserPin));
    Sim().ResetCounters();
    storage->ResetDeviceCache();
    EXPECT_EQ(storage->GetTokenDataRevision(), 0u) << "no file 0";
    EXPECT_EQ(Sim().Counters().at("total"), 1u);
    EXPECT_EQ(storage->GetTokenDataRevision(), 0u);
    EXPECT_EQ(Sim().Counters().at("total"), 1u) << "revision 0 is cached like any other";

    const uint8_t revision[4] = {0x78, 0x56, 0x34, 0x12};
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        storage->OpenDevSessionInt();
        storage->CreateFileD(0, TokenObject);  // an empty file 0: revision 0
    }
    EXPECT_FALSE(storage->IsTokenDataChangedM());
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        storage->WriteFileD(0, 0, revision, 4);
    }
    Sim().ResetCounters();
    Sim().ForceStatus(107, 1, "ReadFile");  // a 107 on the revision read: the file read whole
    EXPECT_TRUE(storage->IsTokenDataChangedM());
    EXPECT_EQ(storage->GetTokenDataRevision(), 0x12345678u);
    EXPECT_EQ(Count("ReadFile"), 2u);
    EXPECT_EQ(Count("GetFileSize"), 1u);
    Sim().ResetCounters();
    EXPECT_FALSE(storage->IsTokenDataChangedM());
    EXPECT_EQ(Sim().Counters().at("total"), 1u) << "four bytes, no size query";
}

TEST_F(TokenStorageRig, CardResetRepeatsTheCommand)
{
    storage->LoginUserM(Text(kUserPin));
    std::vector<qel::storage::IndexFileRecord> list;
    rig->ResetCard();
    storage->ListObjectsM(qel::PublicObject, 0, list);  // reconnects and repeats
    rig->ResetCard();
    EXPECT_EQ(storage->GetUserAuthMaxCountM(), 10u);
}

TEST_F(TokenStorageRig, InvalidSessionRenewsForFilesButFailsASignature)
{
    storage->LoginUserM(Text(kUserPin));
    tru::BufferDynamic publicKey;
    long slot = 0, attr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, publicKey, slot, attr);
        storage->CheckAndUpdateRevision();
    }
    tru::BufferDynamic signature;
    const uint8_t hash[32] = {1};
    storage->GenerateSignatureM(slot, tru::Buffer(hash, 32), signature);
    EXPECT_EQ(signature.Size(), 42u);
    const uint64_t opened = Count("OpenSession");
    Sim().ForceStatus(41, 1, "GetFileSize");  // invalid session ID
    std::vector<qel::storage::IndexFileRecord> list;
    EXPECT_EQ(storage->ListObjectsM(qel::PublicObject, 0, list), 0u);
    EXPECT_EQ(Count("OpenSession"), opened + 1);

    Sim().ForceStatus(41, 1, "Sign");
    EXPECT_CKR(storage->GenerateSignatureM(slot, tru::Buffer(hash, 32), signature), CKR_SESSION_HANDLE_INVALID);
    EXPECT_FALSE(storage->IsSessionOpened());
}

TEST_F(TokenStorageRig, BusyStateNestsAndCountsAsPresent)
{
    {
        TokenStorage::GlobalBusyGuard outer(*storage, "C_CreateObject");
        {
            TokenStorage::BusyGuard inner(*storage, "ReadDataFileM");
        }
        EXPECT_TRUE(storage->IsBusy()) << "the end of an inner guard keeps the outer one busy";
        storage->ResetDeviceCache();
        Sim().ResetCounters();
        EXPECT_TRUE(storage->IsTokenPresentM());
        EXPECT_EQ(storage->VerifyTokenPresence(), CKR_OK);
        EXPECT_EQ(Sim().Counters()["total"], 0u) << "a busy storage is present without asking";
    }
    EXPECT_FALSE(storage->IsBusy());
}

TEST_F(TokenStorageRig, ResponseDelaySetUpGivesUpAfterAFewAttempts)
{
    storage->SetupResponseDelay(20);
    Sim().ResetCounters();
    Sim().ForceStatus(11, 100, "SetResponseDelay");  // internal error, for ever
    EXPECT_CKR(storage->SetupResponseDelay(20), CKR_DEVICE_ERROR);
    EXPECT_EQ(Count("SetResponseDelay"), 3u);
}

TEST_F(TokenStorageRig, FileHelpers)
{
    EXPECT_TRUE(storage->IsFileExistsM(200)) << "key slots are never asked for";
    EXPECT_FALSE(storage->IsFileExistsM(9));
    EXPECT_EQ(TokenStorage::GetIndexFileIDFor(126), 0x7E);
    EXPECT_EQ(TokenStorage::GetIndexFileIDFor(128), 0xB3);
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        storage->AllocateFileHeader(9, 8);
        uint8_t headerBytes[4] = {};
        tru::Buffer header(headerBytes, 4);
        storage->WriteFileHeader(10, header);
        EXPECT_EQ(header.ToHex(), "02000000");
    }
    EXPECT_EQ(RawFile(9), "0200000000000000");
    EXPECT_EQ(storage->GetFileSizeM(10), 4u);
    storage->PrepareExtRandomness();
    EXPECT_EQ(storage->GetExtRandomness().Size(), 64u);
}

TEST_F(TokenStorageRig, OnTokenSignatureDecryptionAndAgreement)
{
    storage->LoginUserM(Text(kUserPin));
    tru::BufferDynamic dstuA, dstuB, rsaPublic;
    long slotA = 0, slotB = 0, rsaSlot = 0, attr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, dstuA, slotA, attr);
        storage->CheckAndUpdateRevision();
    }
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, dstuB, slotB, attr);
        storage->GenerateKeyPairM(RSA_sign_1024, TokenObject, rsaPublic, rsaSlot, attr);
        storage->CheckAndUpdateRevision();
    }
    EXPECT_EQ(slotB, 181);
    EXPECT_EQ(rsaSlot, 182);

    const uint8_t hash[32] = {9, 8, 7};
    tru::BufferDynamic signature;
    storage->GenerateSignatureM(slotA, tru::Buffer(hash, 32), signature);
    EXPECT_TRUE(storage->VerifySignatureM(dstuA, DSTU4145_POLYNOMIAL_0, tru::Buffer(hash, 32), signature));
    signature.Data()[5] ^= 1;
    EXPECT_FALSE(storage->VerifySignatureM(dstuA, DSTU4145_POLYNOMIAL_0, tru::Buffer(hash, 32), signature));

    tru::BufferDynamic cipher, plain;
    storage->EncryptM(rsaPublic, RSA_sign_1024, Text("secret"), cipher);
    EXPECT_EQ(cipher.Size(), 128u);
    storage->DecryptM(rsaSlot, cipher, plain);
    EXPECT_NE(plain.ToString().find("secret"), std::string::npos);

    // The peer point may come as a DER OCTET STRING.
    tru::BufferDynamic taggedB;
    const uint8_t tag[2] = {0x04, static_cast<uint8_t>(dstuB.Size())};
    taggedB.Set(2, tag);
    taggedB.AppendBuffer(dstuB);
    uint8_t sboxBytes[64];
    for (uint8_t i = 0; i < 64; ++i) {
        sboxBytes[i] = static_cast<uint8_t>(i * 37);
    }
    const tru::Buffer sbox(sboxBytes, 64);
    vdk::SafeBuffer keyAB, keyBA;
    storage->DeriveCommonKeyM(slotA, taggedB, sbox, Text("info"), false, keyAB);
    storage->DeriveCommonKeyM(slotB, dstuA, sbox, Text("info"), false, keyBA);
    EXPECT_FALSE(keyAB.Empty());
    EXPECT_EQ(keyAB.ToHex(), keyBA.ToHex());
}

TEST_F(TokenStorageRig, CapabilitiesFollowModelAndFirmware)
{
    EXPECT_TRUE(storage->IsRSA512Supported());  // firmware 5.15
    EXPECT_TRUE(storage->IsEcDsaSupportedM());
    EXPECT_TRUE(storage->IsDSTU_431Supported());
    EXPECT_TRUE(storage->IsDHSupportedM());
    EXPECT_EQ(storage->GetTokenLabelM().substr(0, 8), "tokensim");
}

// The version word's major and minor byte compare as one number: 5.0 is above 4.15.
struct CapabilityCase {
    const char* name;
    std::vector<std::string> simulator;
    bool rsa512;
    bool ecdsa;
    bool dstu431;
};

void PrintTo(const CapabilityCase& c, std::ostream* out) { *out << c.name; }

class CapabilityTest : public StorageRigTest, public ::testing::WithParamInterface<CapabilityCase> {
protected:
    void SetUp() override
    {
        simulatorOptions.insert(simulatorOptions.end(), GetParam().simulator.begin(), GetParam().simulator.end());
        StorageRigTest::SetUp();
    }
};

TEST_P(CapabilityTest, FollowsTheModelAndTheWholeVersion)
{
    const CapabilityCase& c = GetParam();
    EXPECT_EQ(storage->IsRSA512Supported(), c.rsa512);
    EXPECT_EQ(storage->IsEcDsaSupportedM(), c.ecdsa);
    EXPECT_EQ(storage->IsDSTU_431Supported(), c.dstu431);
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, CapabilityTest,
    ::testing::Values(CapabilityCase{"v4_13", {"--firmware", "4.13"}, false, false, false},
                      CapabilityCase{"v4_14", {"--firmware", "4.14"}, false, false, true},
                      CapabilityCase{"v4_15", {"--firmware", "4.15"}, true, false, true},
                      CapabilityCase{"v5_0", {"--firmware", "5.0"}, true, true, true},
                      CapabilityCase{"v5_13", {"--firmware", "5.13"}, true, true, true},
                      CapabilityCase{"lite_v5_15", {"--model", "lite"}, false, false, false}),
    [](const ::testing::TestParamInfo<CapabilityCase>& info) { return std::string(info.param.name); });

}  // namespace
