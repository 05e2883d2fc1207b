#include "svc_types.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cryptoki/names/ck_names.h"
#include "support/os_services.h"

namespace zrsvc {

namespace {
volatile sig_atomic_t glbCtrlBreakDetected = 0;

void Leave(int) {
    // Only async-signal-safe calls here: the text goes out with write(2).
    static const char kText[] = "\nControl-Break detected.\n";
    ssize_t written = write(STDOUT_FILENO, kText, sizeof kText - 1);
    (void)written;
    glbCtrlBreakDetected = 1;
}
}  // namespace

SecretText& SecretText::operator=(const SecretText& other) {
    if (this != &other)
        Assign(other.data(), other.size());
    return *this;
}

SecretText& SecretText::operator=(const std::string& text) {
    Assign(text.data(), text.size());
    return *this;
}

void SecretText::Assign(const void* data, size_t size) {
    vdk::SafeBuffer fresh(static_cast<uint32_t>(size + 1));
    if (size != 0)
        std::memcpy(fresh.Data(), data, size);
    fresh.Data()[size] = 0;
    bytes_ = fresh;
}

void SecretText::Clear() { bytes_.Clear(); }

const char* SecretText::data() const {
    return bytes_.Empty() ? "" : reinterpret_cast<const char*>(bytes_.Data());
}

size_t SecretText::size() const { return std::strlen(data()); }

bool SecretText::operator==(const SecretText& other) const {
    return size() == other.size() && std::memcmp(data(), other.data(), size()) == 0;
}

int ReportCk(const char* function, CK_RV rv) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s returned 0x%lx %s\n", function, rv, zrck::GetCkErrorStr(rv));
    return ST_CK_FAILED;
}

void ThrowCk(const char* function, CK_RV rv) {
    ReportCk(function, rv);
    throw CkError{rv};
}

void SetCtrlBreakHandler() {
    // Without SA_RESTART, so that a key read waiting at a PIN prompt returns at Ctrl-C.
    struct sigaction action {};
    action.sa_handler = Leave;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0)
        std::printf("Control-Break handler was not set.\n");
}

bool IsCtrlBreakDetected() { return glbCtrlBreakDetected != 0; }

void SetCtrlBreakForTest(bool value) { glbCtrlBreakDetected = value ? 1 : 0; }

void SleepLoop() {
    for (int i = 0; i < 7; ++i) {
        vdk::SleepMs(1000);
        std::printf(".");
        std::fflush(stdout);
        if (IsCtrlBreakDetected())
            break;
    }
    std::printf("\n");
}

}  // namespace zrsvc
