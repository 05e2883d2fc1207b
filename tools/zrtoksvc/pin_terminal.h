// The terminal's echo and line editing, held off from the first PIN prompt of a run to its end,
// so that nothing typed for a PIN is shown: not while a prompt is written, not while the token
// checks a refused PIN, not between two prompts.
#pragma once

namespace zrsvc {

class PinTerminal {
public:
    // Echo and line editing off, once a run; nothing when standard input is no terminal.
    // While held, a signal that stops or ends the process gives the terminal back first.
    static void Hold();
    // The terminal's modes as the run found them; async-signal-safe.
    static void Release();
    static bool Held();
    // True for the characters that remove the last one typed on the terminal: its erase
    // character, DEL and BS. Always false when not held (bytes from a pipe are kept).
    static bool IsErase(int c);
};

// Releases the terminal when the run ends, whichever way it ends.
class PinTerminalRun {
public:
    PinTerminalRun() = default;
    ~PinTerminalRun() { PinTerminal::Release(); }
    PinTerminalRun(const PinTerminalRun&) = delete;
    PinTerminalRun& operator=(const PinTerminalRun&) = delete;
};

// A line that is no secret (a label), typed with the terminal's own echo and editing; the PIN
// modes are held again afterwards when they were held before.
class VisibleLine {
public:
    VisibleLine() : held_(PinTerminal::Held()) { PinTerminal::Release(); }
    ~VisibleLine() {
        if (held_)
            PinTerminal::Hold();
    }
    VisibleLine(const VisibleLine&) = delete;
    VisibleLine& operator=(const VisibleLine&) = delete;

private:
    bool held_;
};

}  // namespace zrsvc
