// tokensim-rig: runs a command inside a private rig (rig.sh is its wrapper).
//   tokensim-rig [--sim "tokensim options"]... [--trace] [--pcscd-debug] [--timeout MS]
//                [--keep-logs DIR] -- COMMAND [ARGS...]
// The command sees TOKENSIM_RIG_DIR, TOKENSIM_CONTROL (the first simulator's control socket),
// TOKENSIM_CONTROL_<i> and TOKENSIM_READER_<i>. Exit status: the command's, or 125 when the
// rig could not be set up.
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "rig.h"

namespace {

constexpr int kRigFailed = 125;

int Usage() {
  std::fputs("usage: tokensim-rig [--sim \"tokensim options\"]... [--trace] [--pcscd-debug] [--timeout MS]\n"
             "                    [--keep-logs DIR] -- COMMAND [ARGS...]\n",
             stderr);
  return 2;
}

std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

int RunCommand(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) return kRigFailed;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // the command goes with the rig
    if (getppid() != parent) _exit(127);
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  using tokensim::rig::Rig;
  tokensim::rig::RigOptions options;
  options.simulators.clear();
  std::string keepLogs;
  std::vector<std::string> command;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      command.assign(argv + i + 1, argv + argc);
      break;
    }
    if (a == "--trace") options.simulatorTrace = true;
    else if (a == "--pcscd-debug") options.pcscdDebug = true;
    else if (a == "--sim" && i + 1 < argc) options.simulators.push_back(Split(argv[++i]));
    else if (a == "--timeout" && i + 1 < argc) options.readyTimeout = std::chrono::milliseconds(std::atol(argv[++i]));
    else if (a == "--keep-logs" && i + 1 < argc) keepLogs = argv[++i];
    else return Usage();
  }
  if (command.empty()) return Usage();
  if (options.simulators.empty()) options.simulators.push_back({});

  int rc = kRigFailed;
  try {
    Rig rig(options);
    setenv("TOKENSIM_RIG_DIR", rig.WorkDir().c_str(), 1);
    setenv("TOKENSIM_CONTROL", rig.Control(0).SocketPath().c_str(), 1);
    for (size_t i = 0; i < rig.SimulatorCount(); ++i) {
      setenv(("TOKENSIM_CONTROL_" + std::to_string(i)).c_str(), rig.Control(i).SocketPath().c_str(), 1);
      setenv(("TOKENSIM_READER_" + std::to_string(i)).c_str(), rig.ReaderName(i).c_str(), 1);
    }
    rc = RunCommand(command);
    if (!keepLogs.empty()) {
      // The rig folder is a private tmpfs that goes with the namespace: copy the logs out.
      std::string copy = "cp " + rig.WorkDir() + "/*.log '" + keepLogs + "'/ 2>/dev/null";
      if (std::system(copy.c_str()) != 0) std::fprintf(stderr, "tokensim-rig: could not copy logs\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tokensim-rig: %s\n", e.what());
    return kRigFailed;
  }
  return rc;
}
