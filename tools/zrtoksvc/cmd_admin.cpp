// Token administration: initialize, initpin, passwd, newpasswd and the PIN try count. These
// commands own their sessions; the statistics report borrows one while it runs.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "converters.h"
#include "lib_parameters.h"
#include "pin_terminal.h"
#include "session.h"

namespace zrsvc {

namespace {

constexpr size_t kLabelWidth = 32;

// One command's sessions and the calls they make; every failure is reported and ends the
// command with status 5.
class AdminSessions {
public:
    explicit AdminSessions(SvcParams& p) : p_(p), f_(p.functions) {}

    void Open() {
        const CK_RV rv = f_->C_OpenSession(p_.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session_);
        if (rv != CKR_OK)
            FailCk("C_OpenSession", rv);
    }
    void Login(CK_USER_TYPE user, const SecretText& pin, const char* name = "C_Login") {
        Check(name, f_->C_Login(session_, user, pin.ck(), pin.size()));
    }
    void Logout() { Check("C_Logout", f_->C_Logout(session_)); }
    void CloseAll() { Check("C_CloseAllSessions", f_->C_CloseAllSessions(p_.slot)); }
    void Statistics() {
        if (!p_.statistics)
            return;
        p_.finalizer->BorrowSession(session_, true);  // the user is logged in on it
        DoStatistic(p_);
        p_.finalizer->BorrowSession(0);
    }
    CK_SESSION_HANDLE Session() const { return session_; }
    void Check(const char* name, CK_RV rv) {
        if (rv != CKR_OK)
            FailCk(name, rv);
    }

private:
    SvcParams& p_;
    CK_FUNCTION_LIST_PTR f_;
    CK_SESSION_HANDLE session_ = 0;
};

void RandomFile(SvcParams& p) {
    if (!p.file.empty())
        SetupExtRandomCallback(p.file);
}

void Say(const SvcParams& p, const char* text) {
    if (!p.quiet)
        std::printf("%s\n", text);
}

void SayDone(const SvcParams& p, const char* format, const vdk::TimeCounter& watch) {
    if (!p.quiet)
        std::printf(format, watch.GetAsStr().c_str());
}

// The token label typed on standard input: one line, at most 1023 characters.
std::string ReadLabel() {
    const VisibleLine visible;
    std::printf("Enter %s:", "token label");
    std::fflush(stdout);
    std::string line;
    for (int c; line.size() < 1023 && (c = std::getchar()) != EOF && c != '\r' && c != '\n';)
        line += static_cast<char>(c);
    return line;
}

// The SO-properties hardware feature, when the token has exactly one.
bool FindPinTryFeature(SvcParams& p, CK_OBJECT_HANDLE& feature) {
    Search search;
    search.AddULong(CKA_CLASS, CKO_HW_FEATURE);
    search.AddULong(CKA_HW_FEATURE_TYPE, CKH_ZR_SO_PROPERTIES);
    const std::vector<CK_OBJECT_HANDLE> handles = FindAll(p, search, 2);
    const size_t found = handles.size();
    if (found != 1) {
        std::printf("Error! Feature not available.\n");
        return false;
    }
    feature = handles[0];
    return true;
}

// The feature search runs in the command's own session, through the finalizer's handle.
struct BorrowedSession {
    BorrowedSession(SvcParams& p, CK_SESSION_HANDLE session) : p_(p) { p.finalizer->BorrowSession(session); }
    ~BorrowedSession() { p_.finalizer->BorrowSession(0); }
    SvcParams& p_;
};

}  // namespace

int DoInitToken(SvcParams& p) {
    const bool allGiven = !p.so_password.empty() && !p.label.empty() && !p.password.empty();
    if (!p.quiet && !allGiven) {
        std::printf("TOKEN WILL BE REINITIALIZED NOW! ALL TOKEN DATA WILL BE LOST!\n");
        if (!AskYesNo())
            return ST_ERROR;
    }
    std::string label = p.label.empty() ? ReadLabel() : p.label;
    if (label.size() > kLabelWidth) {
        std::fprintf(stderr, "Error! Token label is longer than %zu bytes.\n", kLabelWidth);
        return ST_ERROR;
    }
    label.resize(kLabelWidth, ' ');
    // Every PIN is known before the token is erased.
    SecretText userPin = p.password.empty() ? GetConfirmedPassword("new user") : p.password;
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    RandomFile(p);
    CK_FUNCTION_LIST_PTR f = p.functions;
    const int slotStatus = ResolveFirstSlot(f, p.slot);
    if (slotStatus != ST_OK)
        return slotStatus;
    if (!p.quiet)
        std::printf("Token initialization started for slot %lu...\n", p.slot);
    vdk::TimeCounter watch;
    watch.Start();
    AdminSessions s(p);
    s.Check("C_InitToken", f->C_InitToken(p.slot, p.so_password.ck(), p.so_password.size(),
                                          reinterpret_cast<CK_UTF8CHAR_PTR>(&label[0])));
    if (!p.quiet)
        std::printf("Token initialized with the label \"%s\".\n", label.c_str());
    s.Open();
    s.Login(CKU_SO, p.so_password);
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    Say(p, "Initializing user PIN...");
    s.Check("C_InitPIN", f->C_InitPIN(s.Session(), userPin.ck(), userPin.size()));
    Say(p, "User PIN initialized.");
    s.Logout();
    s.CloseAll();
    watch.Stop();
    SayDone(p, "Initialization done in %s.\n", watch);
    s.Open();
    Say(p, "Testing the new user password.");
    s.Login(CKU_USER, userPin);
    s.Statistics();
    s.Logout();
    s.CloseAll();
    Say(p, "New user password passed OK.");
    return ST_OK;
}

int DoInitUserPin(SvcParams& p) {
    if (!p.quiet && (p.so_password.empty() || p.password.empty())) {
        std::printf("USER WILL BE RE-INITIALIZED! ALL USER DATA WILL BE LOST!\n");
        if (!AskYesNo())
            return ST_ERROR;
    }
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    RandomFile(p);
    CK_FUNCTION_LIST_PTR f = p.functions;
    AdminSessions s(p);
    s.Open();
    SecretText userPin = p.password.empty() ? GetConfirmedPassword("new user") : p.password;
    vdk::TimeCounter watch;
    watch.Start();
    s.Login(CKU_SO, p.so_password);
    Say(p, "Initializing user PIN...");
    s.Check("C_InitPIN", f->C_InitPIN(s.Session(), userPin.ck(), userPin.size()));
    Say(p, "User PIN initialized.");
    s.Logout();
    watch.Stop();
    s.CloseAll();
    SayDone(p, "Done in %s.\n", watch);
    s.Open();
    Say(p, "Testing new user password.");
    s.Login(CKU_USER, userPin);
    s.Statistics();
    s.Logout();
    s.CloseAll();
    Say(p, "New user password passed OK.");
    return ST_OK;
}

int DoCheckPassword(SvcParams& p) {
    vdk::TimeCounter watch;
    watch.Start();
    AdminSessions s(p);
    s.Open();
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    s.Open();
    const bool so = !p.so_password.empty();
    Say(p, so ? "Testing SO password..." : "Testing user password...");
    s.Login(so ? CKU_SO : CKU_USER, so ? p.so_password : p.password);
    Say(p, so ? "SO password passed OK." : "User password passed OK.");
    s.Logout();
    watch.Stop();
    s.CloseAll();
    SayDone(p, "Done in %s.\n", watch);
    return ST_OK;
}

int DoChangePassword(SvcParams& p) {
    RandomFile(p);
    vdk::TimeCounter watch;
    watch.Start();
    AdminSessions s(p);
    s.Open();
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    const bool so = !p.so_password.empty();
    const SecretText& oldPin = so ? p.so_password : p.password;
    const CK_USER_TYPE user = so ? CKU_SO : CKU_USER;
    s.Login(user, oldPin, so ? "C_Login(SO)" : "C_Login(U)");
    s.Check("C_SetPIN", p.functions->C_SetPIN(s.Session(), oldPin.ck(), oldPin.size(), p.new_password.ck(),
                                              p.new_password.size()));
    Say(p, so ? "SO PIN changed." : "User PIN changed.");
    s.Logout();
    watch.Stop();
    s.CloseAll();
    s.Open();
    SayDone(p, "Done in %s.\n", watch);
    Say(p, so ? "Testing new SO password..." : "Testing new user password...");
    s.Login(user, p.new_password);
    s.Logout();
    s.CloseAll();
    Say(p, so ? "New SO password passed OK." : "New user password passed OK.");
    return ST_OK;
}

int DoGetMaxPinTryCount(SvcParams& p) {
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    RandomFile(p);
    AdminSessions s(p);
    s.Open();
    if (!p.so_password.empty()) {
        s.Login(CKU_SO, p.so_password, "C_Login(SO)");
    } else {
        const SecretText pin = p.password.empty() ? GetConfirmedPassword("User") : p.password;
        s.Login(CKU_USER, pin, "C_Login(USER)");
    }
    vdk::TimeCounter watch;
    watch.Start();
    Say(p, "Reading max PIN tries count...");
    CK_OBJECT_HANDLE feature = 0;
    {
        BorrowedSession borrowed(p, s.Session());
        if (!FindPinTryFeature(p, feature))
            return ST_ERROR;
        std::printf("Max user authorization try count: %lu.\n", ReadULong(p, feature, CKA_USER_AUTH_MAX_TRY));
    }
    s.Logout();
    watch.Stop();
    s.CloseAll();
    SayDone(p, "Done in %s.\n", watch);
    return ST_OK;
}

int DoSetMaxPinTryCount(SvcParams& p) {
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    RandomFile(p);
    if (!p.countGiven) {
        std::printf("Error! count parameter not defined.\n");
        return ST_ERROR;
    }
    // Any count from 1 up: the token refuses what is above its limit.
    if (p.count < 1) {
        std::printf("Error! count parameter should be from 1 up.\n");
        return ST_ERROR;
    }
    AdminSessions s(p);
    s.Open();
    const SecretText pin = p.so_password.empty() ? GetConfirmedPassword("Security Officer") : p.so_password;
    s.Login(CKU_SO, pin, "C_Login(SO)");
    vdk::TimeCounter watch;
    watch.Start();
    Say(p, "Writing max PIN tries count...");
    {
        BorrowedSession borrowed(p, s.Session());
        CK_OBJECT_HANDLE feature = 0;
        if (!FindPinTryFeature(p, feature))
            return ST_ERROR;
        CK_ULONG count = static_cast<CK_ULONG>(static_cast<int64_t>(p.count));
        CK_ATTRIBUTE value{CKA_USER_AUTH_MAX_TRY, &count, sizeof count};
        s.Check("C_SetAttributeValue", p.functions->C_SetAttributeValue(s.Session(), feature, &value, 1));
        std::printf("Max user authorization try count %lu set.\n", count);
    }
    s.Logout();
    watch.Stop();
    s.CloseAll();
    SayDone(p, "Done in %s.\n", watch);
    return ST_OK;
}

}  // namespace zrsvc
