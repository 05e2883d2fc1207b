#include "pin_terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace zrsvc {

namespace {

termios gFound{};  // the modes the run found
termios gHeldModes{};
bool gFoundRead = false;
volatile sig_atomic_t gHeld = 0;

void SetModes(const termios& modes) { tcsetattr(STDIN_FILENO, TCSANOW, &modes); }

void SetAction(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// SIGTERM, SIGHUP, SIGQUIT: the terminal back, then the signal's own end.
void GiveBackAndEnd(int signal) {
    PinTerminal::Release();
    SetAction(signal, SIG_DFL);
    raise(signal);  // delivered when the handler returns
}

// Ctrl-Z: the terminal back while stopped, the PIN modes again once continued.
void GiveBackWhileStopped(int signal) {
    const bool held = gHeld != 0;
    PinTerminal::Release();
    SetAction(signal, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signal);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signal);  // stops here until continued
    SetAction(signal, GiveBackWhileStopped);
    if (held) {
        gHeld = 1;
        SetModes(gHeldModes);
    }
}

}  // namespace

void PinTerminal::Hold() {
    if (gHeld != 0)
        return;
    if (!gFoundRead) {
        if (tcgetattr(STDIN_FILENO, &gFound) != 0)
            return;
        gFoundRead = true;
        gHeldModes = gFound;
        gHeldModes.c_lflag &= ~(ICANON | ECHO);
        gHeldModes.c_cc[VMIN] = 1;
        gHeldModes.c_cc[VTIME] = 0;
        for (int signal : {SIGTERM, SIGHUP, SIGQUIT})
            SetAction(signal, GiveBackAndEnd);
        SetAction(SIGTSTP, GiveBackWhileStopped);
    }
    gHeld = 1;  // first, so that a signal arriving now gives the terminal back
    SetModes(gHeldModes);
}

void PinTerminal::Release() {
    if (gHeld == 0)
        return;
    gHeld = 0;
    SetModes(gFound);
}

bool PinTerminal::Held() { return gHeld != 0; }

bool PinTerminal::IsErase(int c) {
    if (gHeld == 0)
        return false;
    const cc_t erase = gFound.c_cc[VERASE];
    return c == 0x7F || c == '\b' || (erase != _POSIX_VDISABLE && c == erase);
}

}  // namespace zrsvc
