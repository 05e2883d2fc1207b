#include "tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zrtoksvctest {

namespace {


int WaitStatus(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace

ToolRunner::ToolRunner() {
    char pattern[] = "/tmp/zrtoksvc-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    chmod(dir_.c_str(), 0755);
    env_["ZRSTUB_LOG"] = Path("calls.log");
    env_["ZRSTUB_SCRIPT"] = Path("script");
    env_["ZRSTUB_GATE"] = Path("gate");
}

ToolRunner::~ToolRunner() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

void ToolRunner::WriteFile(const std::string& name, const std::string& bytes, int mode) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
}

std::string ToolRunner::ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void ToolRunner::UseLibrary(const std::string& library, const std::string& extra) const {
    WriteFile("load-zrcryptoki.cfg", "zorvanecorp.zrcryptoki.lib.description = Test module\n"
                                     "zorvanecorp.zrcryptoki.lib.name = " + library + "\n" + extra);
}

void ToolRunner::PrepareChild() const {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
}

std::vector<char*> ToolRunner::Argv(std::vector<std::string>& storage, const std::vector<std::string>& args) const {
    storage.clear();
    if (!shell_.empty()) storage = {"/bin/bash", "-c", shell_};
    storage.push_back(ZRTOKSVC_BIN);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return argv;
}

RunResult ToolRunner::Run(const std::vector<std::string>& args, const std::string& input) const {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> storage;
    std::vector<char*> argv = Argv(storage, args);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        PrepareChild();
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty()) {
        // A program that ends without reading its input must not end this process.
        signal(SIGPIPE, SIG_IGN);
        ssize_t written = write(in[1], input.data(), input.size());
        (void)written;
    }
    close(in[1]);
    RunResult result;
    // Read both pipes without letting either fill up.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    result.status = WaitStatus(pid);
    return result;
}

RunResult ToolRunner::RunOnTerminal(const std::vector<std::string>& args,
                                    const std::vector<std::pair<std::string, std::string>>& dialog) const {
    std::vector<TerminalStep> steps;
    for (const auto& [prompt, answer] : dialog) {
        // A prompt marked "~" reads a whole line with echo on.
        const bool line = !prompt.empty() && prompt[0] == '~';
        TerminalStep step;
        step.prompt = line ? prompt.substr(1) : prompt;
        step.pin = !line;
        step.answer = answer;
        steps.push_back(step);
    }
    return RunOnTerminalSteps(args, steps);
}

RunResult ToolRunner::RunOnTerminalSteps(const std::vector<std::string>& args, const std::vector<TerminalStep>& steps) const {
    std::vector<std::string> storage;
    std::vector<char*> argv = Argv(storage, args);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty");
    if (pid == 0) {
        if (erase_ >= 0) {
            termios modes{};
            tcgetattr(0, &modes);
            modes.c_cc[VERASE] = static_cast<cc_t>(erase_);
            tcsetattr(0, TCSANOW, &modes);
        }
        PrepareChild();
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunResult result;
    size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (const TerminalStep& step : steps) {
        for (;;) {
            const size_t at = result.out.find(step.prompt, seen);
            // The condition first: echo as it stands once it holds.
            const bool condition = step.ready && step.ready();
            termios mode{};
            const bool echoOn = tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
            if (step.pin && at != std::string::npos && echoOn) result.echoSeenOn = true;
            const bool ready = step.ready ? condition : !step.pin || !echoOn;
            if (at != std::string::npos && ready) {
                result.echoAtStep.push_back(echoOn);
                seen = at + step.prompt.size();
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                result.out += "\n[timed out waiting for: " + step.prompt + "]";
                result.status = WaitStatus(pid);
                close(master);
                return result;
            }
            pollfd fd{master, POLLIN, 0};
            if (poll(&fd, 1, 10) > 0) {
                char buffer[4096];
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
            }
        }
        const size_t piece = byteByByte_ ? 1 : std::max<size_t>(step.answer.size(), 1);
        for (size_t at = 0; at < step.answer.size(); at += piece) {
            ssize_t written = write(master, step.answer.data() + at, std::min(piece, step.answer.size() - at));
            (void)written;
        }
        if (step.after) step.after(pid);
    }
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 100) == 0) {
            if (std::chrono::steady_clock::now() <= deadline) continue;
            kill(pid, SIGKILL);  // waits for more input than the dialog gave
            result.out += "\n[timed out waiting for the end]";
        }
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            result.out.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EIO once the program has ended
    }
    result.status = WaitStatus(pid);
    termios mode{};
    if (tcgetattr(master, &mode) == 0) result.localModes = mode.c_lflag;
    close(master);
    return result;
}

bool HasTimed(const std::string& text, const std::string& before, const std::string& after) {
    for (size_t at = text.find(before); at != std::string::npos; at = text.find(before, at + 1)) {
        size_t i = at + before.size();
        const auto digits = [&](size_t least, size_t most) {
            size_t n = 0;
            while (i < text.size() && n < most && text[i] >= '0' && text[i] <= '9') ++i, ++n;
            return n >= least;
        };
        const auto mark = [&](char c) { return i < text.size() && text[i++] == c; };
        if (digits(1, 9) && mark(':') && digits(2, 2) && mark(':') && digits(2, 2) && mark('.') && digits(3, 3) &&
            text.compare(i, after.size(), after) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> ReadLog(const ToolRunner& runner) {
    std::vector<std::string> lines;
    std::istringstream in(runner.ReadFile("calls.log"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> Calls(const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : log)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

}  // namespace zrtoksvctest
