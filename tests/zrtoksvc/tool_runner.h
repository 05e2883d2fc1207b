// Runs the zrtoksvc program as a child process in a work folder of its own: with piped
// standard input, or on a pseudo-terminal that answers prompts once the program has switched
// echo off.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zrtoksvctest {

struct RunResult {
    int status = -1;
    std::string out;  // standard output (on a terminal: everything the terminal showed)
    std::string err;
    bool echoSeenOn = false;        // on a terminal: echo found on while a PIN step waited
    std::vector<bool> echoAtStep;   // on a terminal: echo as each step's answer was typed
    unsigned long localModes = 0;   // on a terminal: its c_lflag once the program had ended
};

// One step of a dialog on a terminal.
struct TerminalStep {
    std::string prompt;                // waits until this text appears after the last one found
    bool pin = true;                   // and until echo is off (false: a line read with echo on)
    std::function<bool()> ready;       // when given: until this holds, instead of echo off
    std::string answer;                // then types this
    std::function<void(pid_t)> after;  // then does this (when given) with the program's process ID
};

class ToolRunner {
public:
    ToolRunner();
    ~ToolRunner();
    ToolRunner(const ToolRunner&) = delete;
    ToolRunner& operator=(const ToolRunner&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void WriteFile(const std::string& name, const std::string& bytes, int mode = 0644) const;
    std::string ReadFile(const std::string& name) const;
    // The loader configuration in the work folder, naming this library.
    void UseLibrary(const std::string& library, const std::string& extra = std::string()) const;
    void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
    // RunOnTerminal types each answer one byte a write, as a person or a slow line does.
    void TypeByteByByte(bool on) { byteByByte_ = on; }
    // The terminal's erase character (VERASE) for RunOnTerminal; -1 keeps the default.
    void SetEraseChar(int c) { erase_ = c; }
    // Runs the program through "bash -c SCRIPT program args..." (the program is "$0").
    void SetShell(const std::string& script) { shell_ = script; }

    RunResult Run(const std::vector<std::string>& args, const std::string& input = std::string()) const;
    // On a terminal: for each pair, waits until the text has appeared and echo is off, then
    // types the answer. A text marked with a leading "~" is a line prompt: echo stays on.
    RunResult RunOnTerminal(const std::vector<std::string>& args,
                            const std::vector<std::pair<std::string, std::string>>& dialog) const;
    RunResult RunOnTerminalSteps(const std::vector<std::string>& args, const std::vector<TerminalStep>& steps) const;

private:
    void PrepareChild() const;
    std::vector<char*> Argv(std::vector<std::string>& storage, const std::vector<std::string>& args) const;

    std::string dir_;
    std::map<std::string, std::string> env_;
    bool byteByByte_ = false;
    int erase_ = -1;
    std::string shell_;
};

// True when the text holds before + a stopwatch reading (H:MM:SS.mmm) + after, whatever the time.
bool HasTimed(const std::string& text, const std::string& before, const std::string& after);
// The stub module's call log, one call a line.
std::vector<std::string> ReadLog(const ToolRunner& runner);
// The log lines that begin with the prefix.
std::vector<std::string> Calls(const std::vector<std::string>& log, const std::string& prefix);

}  // namespace zrtoksvctest
