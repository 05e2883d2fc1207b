// The token pulled and put back while an application keeps running: what the application held
// of the old token is gone, the token that comes back is set up whole, and the answers during
// the removal say "removed" or "not present".
//
// Where the library would notice a removal only later (its presence answer is kept a few
// seconds), the tests let that time pass by clearing the token storage's caches.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <PCSC/winscard.h>
#include <sys/stat.h>

#include "cryptoki_rig_fixture.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"

using namespace librarytest;

namespace {

class RemovalRig : public CryptokiRigTest {
protected:
    bool SlotShowsToken() {
        CK_SLOT_INFO info{};
        EXPECT_EQ(C_GetSlotInfo(slotId, &info), CKR_OK);
        return (info.flags & CKF_TOKEN_PRESENT) != 0;
    }

    std::shared_ptr<qel::Slot> DriverSlot() {
        zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->FindSlotByID(slotId);
        return std::dynamic_pointer_cast<qel::Slot>(slot);
    }

    qel::TokenStorage& Storage() {
        std::shared_ptr<qel::Token> token = DriverSlot()->GetDriverToken();
        if (!token || token->GetStorage() == nullptr) throw std::runtime_error("the slot has no token storage");
        return *token->GetStorage();
    }

    // Pulls the card and polls, as an application watching the slot does, until the library
    // has noticed; its cached presence answer is let expire at once.
    void PullAndWaitUntilNoticed() {
        rig->RemoveCard();
        Storage().ResetDeviceCache();
        CK_SESSION_INFO info{};
        for (int poll = 0; C_GetSessionInfo(session, &info) == CKR_OK || SlotShowsToken(); ++poll) {
            ASSERT_LT(poll, 3) << "the removal was not noticed";
        }
    }

    // Puts the card back and polls the slot until it shows the token; then a new session,
    // logged in.
    CK_SESSION_HANDLE ReinsertAndWaitUntilShown() {
        rig->InsertCard();
        for (int poll = 0; !SlotShowsToken(); ++poll) {
            EXPECT_LT(poll, 3) << "the token was not seen back";
            if (poll >= 3) return 0;
        }
        const CK_SESSION_HANDLE fresh = OpenSession();
        EXPECT_EQ(Login(fresh), CKR_OK);
        return fresh;
    }
};

TEST_F(RemovalRig, KeyFoundAgainAfterReinsertionSigns) {
    CK_OBJECT_HANDLE oldKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, "kept", &oldKey), CKR_OK);
    ASSERT_EQ(Sign(session, oldKey), CKR_OK);
    PullAndWaitUntilNoticed();
    const CK_SESSION_HANDLE fresh = ReinsertAndWaitUntilShown();

    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(fresh, CKO_PRIVATE_KEY, "kept", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0], oldKey) << "an object of the old token was handed out again";
    EXPECT_EQ(Sign(fresh, found[0]), CKR_OK);
    CK_BYTE label[16];
    CK_ATTRIBUTE read{CKA_LABEL, label, sizeof label};
    EXPECT_EQ(C_GetAttributeValue(fresh, oldKey, &read, 1), CKR_OBJECT_HANDLE_INVALID);
    CK_SESSION_INFO info{};
    EXPECT_EQ(C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID) << "a session of the old token";
}

// The token is seen back by a presence check that runs before any set-up (another thread's
// C_GetSlotInfo between its set-up step and its presence step): it must still come back
// whole, with its object classes and mechanisms.
TEST_F(RemovalRig, TokenSeenBackByAPresenceCheckIsSetUpWhole) {
    PullAndWaitUntilNoticed();
    rig->InsertCard();
    ASSERT_TRUE(DriverSlot()->IsTokenPresent());
    const CK_SESSION_HANDLE fresh = OpenSession();
    ASSERT_EQ(Login(fresh), CKR_OK);
    CK_OBJECT_HANDLE created = 0;
    EXPECT_EQ(CreateData(fresh, "after", "value", true, &created), CKR_OK);
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(GenerateSigningKey(fresh, "after", &key), CKR_OK);
    EXPECT_EQ(Sign(fresh, key), CKR_OK);
}

// An application idle while the card was pulled and put back: its first call that needs the
// token works, and the sessions it had are gone.
TEST_F(RemovalRig, FirstCallAfterAnUnnoticedReinsertionWorks) {
    CK_OBJECT_HANDLE oldKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, "idle", &oldKey), CKR_OK);
    rig->RemoveCard();
    rig->InsertCard();
    Storage().ResetDeviceCache();  // the idle time
    CK_SESSION_HANDLE fresh = 0;
    ASSERT_EQ(C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &fresh), CKR_OK);
    ASSERT_EQ(Login(fresh), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(fresh, CKO_PRIVATE_KEY, "idle", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Sign(fresh, found[0]), CKR_OK);
    CK_SESSION_INFO info{};
    EXPECT_EQ(C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID);

    // The same for a slot call after a second unnoticed round.
    rig->RemoveCard();
    rig->InsertCard();
    Storage().ResetDeviceCache();
    CK_TOKEN_INFO tokenInfo{};
    EXPECT_EQ(C_GetTokenInfo(slotId, &tokenInfo), CKR_OK);
}

// While the library knows the card is out but has not yet dropped the token (another thread
// is inside a token call), calls answer "removed", never a statement about the PINs.
TEST_F(RemovalRig, CallsWhileTheCardIsOutAnswerRemoved) {
    rig->RemoveCard();
    // Held so that its storage outlives the token's removal from the slot.
    std::shared_ptr<qel::Token> token = DriverSlot()->GetDriverToken();
    ASSERT_TRUE(token && token->GetStorage() != nullptr);
    qel::TokenStorage& storage = *token->GetStorage();
    storage.ResetDeviceCache();
    ASSERT_FALSE(storage.IsTokenPresentM());
    const std::set<CK_RV> removed = {CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT};
    {
        vdk::LockOrder::Suspended playsAnotherThread;
        qel::TokenStorage::BusyGuard anotherCall(storage, "test");
        const CK_RV login = Login(session);
        EXPECT_TRUE(removed.count(login)) << "C_Login answered 0x" << std::hex << login;
        CK_ULONG count = 0;
        const CK_RV list = C_GetMechanismList(slotId, nullptr, &count);
        EXPECT_TRUE(removed.count(list)) << "C_GetMechanismList answered 0x" << std::hex << list;
        CK_MECHANISM_INFO info{};
        const CK_RV mechanism = C_GetMechanismInfo(slotId, CKM_GOST34311_DSTU4145, &info);
        EXPECT_TRUE(removed.count(mechanism)) << "C_GetMechanismInfo answered 0x" << std::hex << mechanism;
    }
    CK_TOKEN_INFO tokenInfo{};
    const CK_RV info = C_GetTokenInfo(slotId, &tokenInfo);
    EXPECT_TRUE(removed.count(info)) << "C_GetTokenInfo answered 0x" << std::hex << info;
}

// ---- the card pulled while threads and another process call in ----

namespace pulled {

// Where the card was when a call began: in the reader, pulled (pcscd has seen it go), back
// (pcscd has seen it come back), or about to change (calls of the phase before still running).
enum Phase : int { kIn, kOut, kBack, kChanging, kPhases };
const char* const kPhaseNames[kPhases] = {"in", "out", "back", "changing"};

const std::set<CK_RV> kGoneAnswers = {CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT};
// What a call may answer while the card comes and goes; a session of the pulled token is gone.
const std::set<CK_RV> kSoundAnswers = {CKR_OK, CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT, CKR_SESSION_HANDLE_INVALID,
                                       CKR_SESSION_CLOSED};

struct Answer {
    std::string call;
    int phase;
    CK_RV rv;
};

std::string Describe(const Answer& answer) {
    std::ostringstream text;
    text << answer.call << " begun with the card " << kPhaseNames[answer.phase] << " answered 0x" << std::hex
         << answer.rv;
    return text.str();
}

// The answers of every worker, and per worker the calls begun in each phase.
class Journal {
public:
    explicit Journal(size_t workers) : begun_(workers) {
        for (auto& counts : begun_) counts.fill(0);
    }
    void Record(size_t worker, const std::string& call, int phase, CK_RV rv) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.push_back({call, phase, rv});
        ++begun_[worker][phase];
    }
    // Calls begun by the worker that made the fewest in this phase.
    unsigned Fewest(int phase) const {
        std::lock_guard<std::mutex> lock(mutex_);
        unsigned fewest = ~0u;
        for (const auto& counts : begun_) fewest = std::min(fewest, counts[phase]);
        return fewest;
    }
    std::vector<Answer> Answers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return answers_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Answer> answers_;
    std::vector<std::array<unsigned, kPhases>> begun_;
};

// The first_calls_process program: another application whose first call that needs the
// token waits at a gate (a named pipe) until Release.
class FirstCalls {
public:
    // gateFirst: the process waits before C_Initialize, so that all its calls come after Release.
    FirstCalls(const std::string& gate, bool gated, bool gateFirst = false) : gate_(gate) {
        const std::string command = std::string(ZR_FIRST_CALLS_PROCESS) + " '" + ZR_REAL_MODULE + "' " +
                                    librarytest::CryptokiRigTest::kUserPin + (gated ? " '" + gate + "'" : "") +
                                    (gateFirst ? " first" : "");
        pipe_ = popen(command.c_str(), "r");
    }
    ~FirstCalls() {
        if (pipe_ != nullptr) pclose(pipe_);
    }
    void Release() const {
        FILE* go = std::fopen(gate_.c_str(), "w");
        if (go == nullptr) return;
        std::fputs("go\n", go);
        std::fclose(go);
    }
    // Waits for the process and checks its answers: its token information never calls the
    // token foreign, and it opens no session on a card it has seen go.
    void Check(const std::string& when) {
        std::map<std::string, CK_RV> answers;
        ASSERT_TRUE(Finish(answers)) << when;
        ASSERT_EQ(answers["C_GetSlotList"], CKR_OK) << when;
        ASSERT_TRUE(answers.count("C_GetTokenInfo")) << when;
        const CK_RV info = answers["C_GetTokenInfo"];
        EXPECT_TRUE(info == CKR_OK || kGoneAnswers.count(info))
            << when << ": C_GetTokenInfo answered 0x" << std::hex << info;
        if (info != CKR_OK) {
            EXPECT_NE(answers["C_OpenSession"], CKR_OK) << when << ": a session on a card seen gone";
        }
        if (answers.count("C_Login")) {
            EXPECT_TRUE(kSoundAnswers.count(answers["C_Login"]))
                << when << ": C_Login answered 0x" << std::hex << answers["C_Login"];
        }
    }

    // Waits for the process; its answers by call. False when it could not run.
    bool Finish(std::map<std::string, CK_RV>& answers) {
        if (pipe_ == nullptr) return false;
        char line[256];
        while (fgets(line, sizeof line, pipe_) != nullptr) {
            std::istringstream fields(line);
            std::string call, rv;
            fields >> call >> rv;
            answers[call] = std::stoul(rv, nullptr, 16);
        }
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return status == 0;
    }

private:
    std::string gate_;
    FILE* pipe_ = nullptr;
};

// The reader as pcscd shows it, and a connection of the test's own that keeps the card powered
// (pcscd powers an unused card off).
class ReaderView {
public:
    explicit ReaderView(const std::string& reader) : reader_(reader) {
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) context_ = 0;
    }
    ~ReaderView() {
        Disconnect();
        if (context_ != 0) SCardReleaseContext(context_);
    }
    // The reader's state with its card event count (upper 16 bits); 0 when pcscd could not say.
    DWORD State() const {
        SCARD_READERSTATE look{};
        look.szReader = reader_.c_str();
        look.dwCurrentState = SCARD_STATE_UNAWARE;
        if (SCardGetStatusChange(context_, 0, &look, 1) != SCARD_S_SUCCESS) return 0;
        return look.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    }
    static bool ShowsCard(DWORD state) { return (state & SCARD_STATE_PRESENT) != 0; }
    bool Connect() {
        Disconnect();
        DWORD protocol = 0;
        return SCardConnect(context_, reader_.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card_, &protocol) ==
               SCARD_S_SUCCESS;
    }
    void Disconnect() {
        if (card_ != 0) SCardDisconnect(card_, SCARD_LEAVE_CARD);
        card_ = 0;
    }
    // Whether a transmission through the test's connection reaches the card (an APDU of a class
    // the token refuses: no token command is counted).
    bool CardAnswers() const {
        const BYTE apdu[] = {0x00, 0x00, 0x00, 0x00};
        BYTE answer[8];
        DWORD length = sizeof answer;
        return card_ != 0 &&
               SCardTransmit(card_, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, answer, &length) == SCARD_S_SUCCESS;
    }

private:
    std::string reader_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
};

}  // namespace pulled

class PulledUnderCalls : public RemovalRig {
protected:
    // Waits until every worker has begun `more` calls beyond `start` in the phase.
    ::testing::AssertionResult AwaitCalls(const pulled::Journal& journal, int phase, unsigned start, unsigned more) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (journal.Fewest(phase) < start + more) {
            if (std::chrono::steady_clock::now() > deadline) {
                return ::testing::AssertionFailure() << "the workers stopped calling with the card "
                                                     << pulled::kPhaseNames[phase];
            }
            std::this_thread::yield();
        }
        return ::testing::AssertionSuccess();
    }

    // Ends a phase: once every worker has finished a call begun after this, no call of the
    // phase before is still running.
    ::testing::AssertionResult EndPhase(const pulled::Journal& journal, std::atomic<int>& phase) {
        phase = pulled::kChanging;
        return AwaitCalls(journal, pulled::kChanging, journal.Fewest(pulled::kChanging), 1);
    }

    bool CardInserted() { return rig->Control().Request("status").find("inserted=1") != std::string::npos; }

    // Waits until the last power event in the simulator's trace is a power-off (pcscd powers an
    // unused card off).
    bool AwaitPowerOff() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream log(rig->WorkDir() + "/tokensim-0.log");
            std::string line, last;
            while (std::getline(log, line)) {
                if (line.find("tokensim: * ") == 0) last = line;
            }
            if (last == "tokensim: * power off") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling the log
        }
        return false;
    }
};

// Three threads call C_Login, C_OpenSession (then a search on the new session) and
// C_GetTokenInfo while the card is pulled at one of its commands and put back, round after
// round. Nothing calls a genuine token foreign, a command cut off by the pull answers
// "removed", nothing opens a session on a card pcscd has seen go, and once the card is back
// every session opened works.
TEST_F(PulledUnderCalls, ThreadsAreToldRemovedAndWorkAgainOnceTheCardIsBack) {
    constexpr int kRounds = 6;
    constexpr size_t kWorkers = 3;
    pulled::Journal journal(kWorkers);
    std::atomic<int> phase{pulled::kIn};
    std::atomic<bool> stop{false};

    std::vector<std::thread> workers;
    workers.emplace_back([&] {  // C_Login, on a session of its own opened again when it is gone
        CK_SESSION_HANDLE own = 0;
        int openedIn = pulled::kIn;
        while (!stop) {
            const int begun = phase.load();
            if (own == 0) {
                const CK_RV opened = C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &own);
                journal.Record(0, "C_OpenSession", begun, opened);
                if (opened != CKR_OK) {
                    own = 0;
                    continue;
                }
                openedIn = begun;
            }
            const CK_RV rv = Login(own);
            journal.Record(0, openedIn == pulled::kBack ? "C_Login on a session opened after the return" : "C_Login",
                           begun, rv);
            if (rv != CKR_OK) {
                C_CloseSession(own);
                own = 0;
            }
        }
        if (own != 0) C_CloseSession(own);
    });
    workers.emplace_back([&] {  // C_OpenSession and the first token access of that session
        while (!stop) {
            const int begun = phase.load();
            CK_SESSION_HANDLE fresh = 0;
            const CK_RV rv = C_OpenSession(slotId, CKF_SERIAL_SESSION, nullptr, nullptr, &fresh);
            journal.Record(1, "C_OpenSession", begun, rv);
            if (rv != CKR_OK) continue;
            std::vector<CK_OBJECT_HANDLE> found;
            journal.Record(1, "first search of a new session", begun, Find(fresh, CKO_DATA, "", found));
            C_CloseSession(fresh);
        }
    });
    workers.emplace_back([&] {
        while (!stop) {
            const int begun = phase.load();
            CK_TOKEN_INFO info{};
            journal.Record(2, "C_GetTokenInfo", begun, C_GetTokenInfo(slotId, &info));
        }
    });

    const std::string gate = rig->WorkDir() + "/first-calls-gate";
    ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        // Another application waits at its first token call until the card is pulled.
        pulled::FirstCalls other(gate, true);
        // The pull lands on the login worker's commands at a different place each round.
        EXPECT_TRUE(AwaitCalls(journal, pulled::kIn, journal.Fewest(pulled::kIn), 2));
        rig->Control().PullAfter(static_cast<unsigned>(round % 3));
        while (CardInserted()) std::this_thread::yield();
        other.Release();
        EXPECT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15))) << "the pull did not happen";
        phase = pulled::kOut;
        EXPECT_TRUE(AwaitCalls(journal, pulled::kOut, journal.Fewest(pulled::kOut), 3));
        other.Check("round " + std::to_string(round));
        EXPECT_TRUE(EndPhase(journal, phase));
        rig->InsertCard();
        phase = pulled::kBack;
        EXPECT_TRUE(AwaitCalls(journal, pulled::kBack, journal.Fewest(pulled::kBack), 3));
        EXPECT_TRUE(EndPhase(journal, phase));
        phase = pulled::kIn;
    }
    stop = true;
    for (std::thread& worker : workers) worker.join();

    int shown = 0;
    for (const pulled::Answer& answer : journal.Answers()) {
        bool sound = pulled::kSoundAnswers.count(answer.rv) != 0;
        if (answer.phase == pulled::kOut) sound = sound && answer.rv != CKR_OK;
        if (answer.phase == pulled::kBack && answer.call != "C_Login") sound = answer.rv == CKR_OK;
        if (!sound && shown++ < 12) ADD_FAILURE() << pulled::Describe(answer);
    }
    EXPECT_EQ(shown, 0) << "answers that do not fit the card's state";
}

// Another application starts together with a pull, while pcscd still shows the card: its first
// calls find the token not present, never a foreign card, and open no session. A round counts
// as in that window when pcscd showed the card, with the same event count, from before the
// pull until the process had made all its calls. No connection of this process keeps the card
// powered, so the other one's connection powers it up and finds no ATR.
TEST_F(PulledUnderCalls, ProcessStartedWithThePullNeverCallsTheTokenForeign) {
    constexpr int kRounds = 16;
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    initialized = false;
    rig->Control().Request("trace on");  // the simulator's log shows the power events
    const std::string gate = rig->WorkDir() + "/first-calls-gate";
    ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
    pulled::ReaderView reader(rig->ReaderName(0));
    int inWindow = 0;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        const std::string when = "round " + std::to_string(round);
        ASSERT_TRUE(AwaitPowerOff()) << when << ": pcscd kept the card powered";
        pulled::FirstCalls other(gate, true, true);
        const DWORD before = reader.State();
        ASSERT_TRUE(pulled::ReaderView::ShowsCard(before)) << when;
        rig->Control().Remove();
        other.Release();
        std::map<std::string, CK_RV> answers;
        ASSERT_TRUE(other.Finish(answers)) << when;
        const bool window = reader.State() == before;
        inWindow += window ? 1 : 0;
        ASSERT_EQ(answers["C_GetSlotList"], CKR_OK) << when;
        ASSERT_TRUE(answers.count("C_GetTokenInfo")) << when;
        EXPECT_TRUE(pulled::kGoneAnswers.count(answers["C_GetTokenInfo"]))
            << when << (window ? " (pcscd showing the card)" : "") << ": C_GetTokenInfo answered 0x" << std::hex
            << answers["C_GetTokenInfo"];
        EXPECT_NE(answers["C_OpenSession"], CKR_OK) << when << ": a session on a pulled card";
        if (window) {
            EXPECT_EQ(answers["C_GetSlotInfo.present"], 0u) << when << ": the slot showed the pulled token";
        }
        rig->InsertCard();
    }
    EXPECT_GE(inWindow, kRounds / 2) << "too few rounds ran while pcscd still showed the card";
}

// A short pull: the card is put back before pcscd polls the reader, so pcscd never reports it
// gone, and the first command after it fails in transmission (vpcd takes the card's connection
// back only at its next poll). The call learns from the card that it left and answers
// "removed" at once, instead of waiting for pcscd to report a removal it never sees and then
// calling the device broken; once the card answers again the next calls set it up anew and
// work, and none answers CKR_DEVICE_ERROR.
TEST_F(PulledUnderCalls, ShortPullUnseenByPcscdAnswersRemovedThenWorks) {
    constexpr int kRounds = 8;
    pulled::ReaderView reader(rig->ReaderName(0));
    ASSERT_TRUE(reader.Connect());
    CK_OBJECT_HANDLE kept = 0;
    ASSERT_EQ(CreateData(session, "short pull", "kept", true, &kept), CKR_OK);
    int unseen = 0;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        const std::string when = "round " + std::to_string(round);
        const DWORD before = reader.State();
        ASSERT_TRUE(pulled::ReaderView::ShowsCard(before)) << when;
        rig->Control().Remove();
        rig->Control().Insert();
        rig->Control().ResetCounters();
        CK_BYTE random[64];  // more than the library keeps: a command is sent
        const CK_RV first = C_GenerateRandom(session, random, sizeof random);
        // pcscd never saw the card go, and the call's commands did not reach it.
        const bool window = reader.State() == before && rig->Control().Count("GetRand") == 0;
        EXPECT_NE(first, CKR_DEVICE_ERROR) << when << ": the device called broken after a pull";
        if (window) {
            ++unseen;
            EXPECT_EQ(first, CKR_DEVICE_REMOVED) << when << ": answered 0x" << std::hex << first;
        }
        if (reader.State() != before) {
            ASSERT_TRUE(rig->WaitCardPresent(0, true, std::chrono::seconds(15))) << when;
            ASSERT_TRUE(reader.Connect()) << when;
        }
        // The card answers again (vpcd has taken the simulator's connection back).
        for (unsigned tries = 0; !reader.CardAnswers(); ++tries) ASSERT_LT(tries, 1000000u) << when;
        rig->Control().ResetCounters();
        CK_SESSION_INFO info{};
        EXPECT_NE(C_GetSessionInfo(session, &info), CKR_DEVICE_ERROR) << when;
        session = OpenSession();
        ASSERT_NE(session, 0u) << when;
        ASSERT_EQ(Login(session), CKR_OK) << when;
        EXPECT_EQ(C_GenerateRandom(session, random, sizeof random), CKR_OK) << when;
        std::vector<CK_OBJECT_HANDLE> found;
        EXPECT_EQ(Find(session, CKO_DATA, "short pull", found), CKR_OK) << when;
        EXPECT_EQ(found.size(), 1u) << when;
        // Set up anew: the token information was read again.
        EXPECT_GE(rig->Control().Count("GetAttr"), 1u) << when;
    }
    EXPECT_GE(unseen, kRounds / 2) << "too few pulls went unseen by pcscd";
}

}  // namespace
