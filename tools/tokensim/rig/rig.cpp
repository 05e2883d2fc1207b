#include "rig.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace tokensim::rig {

namespace {

constexpr const char* kPcscd = "/usr/sbin/pcscd";
constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
constexpr const char* kPcscdRunDir = "/run/pcscd";
// pcscd cleans its own folder; the rig keeps its files on a second private tmpfs.
constexpr const char* kRigDir = "/run/tokensim-rig";
// vpcd's default port. Each reader entry serves ports P and P+1 as two readers. Entries that
// share one loaded driver did not work reliably (cards went unseen), so every simulator gets
// an entry of its own with its own copy of the driver, and uses the entry's first reader.
constexpr uint16_t kFirstPort = 0x8C7B;
// pcscd serves 16 readers; each entry gives two.
constexpr size_t kMaxSimulators = 8;
uint16_t PortOf(size_t simulator) { return static_cast<uint16_t>(kFirstPort + 2 * simulator); }
constexpr auto kStopGrace = std::chrono::seconds(5);

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string DefaultSimulatorBinary() {
  if (const char* env = std::getenv("TOKENSIM_BIN")) return env;
  return TOKENSIM_DEFAULT_BINARY;
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

void BringLoopbackUp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw RigError(Errno("rig: socket for loopback"));
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  int e = errno;
  close(fd);
  if (!ok) throw RigError(std::string("rig: cannot bring loopback up: ") + std::strerror(e));
}

// Starts `argv` with stdout and stderr appended to `logPath`; returns the child's PID.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) throw RigError(Errno("rig: cannot open " + logPath));
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    close(log);
    throw RigError(Errno("rig: fork"));
  }
  if (pid == 0) {
    // A test killed by its timeout never runs the destructor: its children must not outlive it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(log, 1);
    dup2(log, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  close(log);
  return pid;
}

// SIGTERM, then wait up to the grace period, then SIGKILL. Only our own child PIDs come here.
void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  for (;;) {
    pid_t r = waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
}

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  if (!in || !out) throw RigError("rig: cannot copy " + from + " to " + to);
}

bool Exited(pid_t pid) {
  if (pid <= 0) return true;  // never waitpid(-1): that would reap any child
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

class PcscContext {
 public:
  PcscContext() = default;
  ~PcscContext() {
    if (ok_) SCardReleaseContext(ctx_);
  }
  bool Establish() {
    ok_ = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx_) == SCARD_S_SUCCESS;
    return ok_;
  }
  SCARDCONTEXT get() const { return ctx_; }

 private:
  SCARDCONTEXT ctx_ = 0;
  bool ok_ = false;
};

std::vector<std::string> ListReaders(SCARDCONTEXT ctx) {
  DWORD size = 0;
  if (SCardListReaders(ctx, nullptr, nullptr, &size) != SCARD_S_SUCCESS || size == 0) return {};
  std::string buf(size, '\0');
  if (SCardListReaders(ctx, nullptr, &buf[0], &size) != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (size_t pos = 0; pos < buf.size() && buf[pos] != '\0';) {
    names.emplace_back(buf.c_str() + pos);
    pos += names.back().size() + 1;
  }
  return names;
}

}  // namespace

std::string Rig::WhyUnavailable(const std::string& simulatorBinary) {
  if (geteuid() != 0) return "the rig needs root to create mount and network namespaces (unshare -m -n)";
  if (!Executable(kPcscd)) return std::string("pcscd not found at ") + kPcscd + " (package pcscd)";
  if (access(kVpcdDriver, R_OK) != 0) return std::string("vpcd driver not found at ") + kVpcdDriver + " (package vsmartcard-vpcd)";
  std::string sim = simulatorBinary.empty() ? DefaultSimulatorBinary() : simulatorBinary;
  if (!Executable(sim)) return "simulator not found at " + sim + " (build the tokensim target or set TOKENSIM_BIN)";
  // Try the namespaces in a throw-away child, so a refusal is reported rather than hit later.
  pid_t pid = fork();
  if (pid < 0) return Errno("fork");
  if (pid == 0) _exit(unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 ? 0 : (errno & 0x7F) + 1);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    int e = WIFEXITED(status) ? WEXITSTATUS(status) - 1 : 0;
    return std::string("unshare(CLONE_NEWNS | CLONE_NEWNET) refused: ") + std::strerror(e) +
           " (a container without CAP_SYS_ADMIN?)";
  }
  return "";
}

bool Rig::RequiredHere() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

Rig::Rig(RigOptions options) : options_(std::move(options)) {
  simBinary_ = options_.simulatorBinary.empty() ? DefaultSimulatorBinary() : options_.simulatorBinary;
  if (options_.simulators.empty() || options_.simulators.size() > kMaxSimulators) {
    throw RigError("rig: 1 to " + std::to_string(kMaxSimulators) + " simulators, not " +
                   std::to_string(options_.simulators.size()));
  }
  std::string why = WhyUnavailable(simBinary_);
  if (!why.empty()) throw RigError("rig unavailable: " + why);
  auto deadline = std::chrono::steady_clock::now() + options_.readyTimeout;
  Isolate();
  workDir_ = kRigDir;
  try {
    for (size_t i = 0; i < options_.simulators.size(); ++i) {
      Sim s;
      s.options = options_.simulators[i];
      s.control = std::make_unique<ControlClient>(workDir_ + "/tokensim-" + std::to_string(i) + ".ctl");
      sims_.push_back(std::move(s));
    }
    WriteReaderConfig();
    StartPcscd();
    for (size_t i = 0; i < sims_.size(); ++i) StartSimulator(i);
    WaitReady(deadline);
  } catch (...) {
    StopAll();
    throw;
  }
}

Rig::~Rig() { StopAll(); }

void Rig::Isolate() {
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) throw RigError(Errno("rig: unshare(CLONE_NEWNS | CLONE_NEWNET)"));
  // Keep our mounts from propagating back to the host's namespace.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) throw RigError(Errno("rig: make / private"));
  for (const char* dir : {kPcscdRunDir, kRigDir}) {
    mkdir(dir, 0755);
    if (mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=64m") != 0) {
      throw RigError(Errno(std::string("rig: mount tmpfs on ") + dir));
    }
  }
  BringLoopbackUp();
}

void Rig::WriteReaderConfig() {
  std::string dir = workDir_ + "/reader.conf.d";
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) throw RigError(Errno("rig: mkdir " + dir));
  std::string drivers = workDir_ + "/drivers";
  if (mkdir(drivers.c_str(), 0755) != 0 && errno != EEXIST) throw RigError(Errno("rig: mkdir " + drivers));
  std::ofstream conf(dir + "/vpcd");
  for (size_t e = 0; e < sims_.size(); ++e) {
    std::string driver = kVpcdDriver;
    if (e > 0) {
      driver = drivers + "/libifdvpcd-" + std::to_string(e) + ".so";
      CopyFile(kVpcdDriver, driver);
    }
    char port[16];
    std::snprintf(port, sizeof port, "0x%04X", static_cast<unsigned>(PortOf(e)));
    // pcscd numbers readers per name: entries need names of their own to be told apart.
    std::string name = e == 0 ? "Virtual PCD" : "Virtual PCD " + std::to_string(e + 1);
    conf << "FRIENDLYNAME \"" << name << "\"\n"
         << "DEVICENAME   /dev/null:" << port << "\n"
         << "LIBPATH      " << driver << "\n"
         << "CHANNELID    " << port << "\n\n";
  }
  if (!conf) throw RigError("rig: cannot write " + dir + "/vpcd");
}

void Rig::StartPcscd() {
  std::vector<std::string> argv = {kPcscd, "--foreground", "--config", workDir_ + "/reader.conf.d"};
  if (options_.pcscdDebug) {
    argv.push_back("--apdu");
    argv.push_back("--debug");
  }
  pcscd_ = Spawn(argv, workDir_ + "/pcscd.log");
}

void Rig::StartSimulator(size_t i) {
  Sim& s = sims_[i];
  std::vector<std::string> argv = {simBinary_, "--port", std::to_string(PortOf(i)), "--control",
                                   s.control->SocketPath()};
  if (options_.simulatorTrace) argv.push_back("--trace");
  argv.insert(argv.end(), s.options.begin(), s.options.end());
  s.pid = Spawn(argv, workDir_ + "/tokensim-" + std::to_string(i) + ".log");
}

std::string Rig::LogTail(const std::string& name) const {
  std::ifstream in(workDir_ + "/" + name);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  std::string out;
  for (size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i) out += "\n  " + lines[i];
  return out.empty() ? " (empty)" : out;
}

void Rig::WaitReady(std::chrono::steady_clock::time_point deadline) {
  size_t readerCount = sims_.size() * 2;
  std::vector<std::string> readers;
  for (;;) {
    if (Exited(pcscd_)) {
      pcscd_ = -1;
      throw RigError("rig: pcscd exited at start; its log:" + LogTail("pcscd.log"));
    }
    for (size_t i = 0; i < sims_.size(); ++i) {
      if (sims_[i].pid > 0 && Exited(sims_[i].pid)) {
        sims_[i].pid = -1;
        throw RigError("rig: simulator " + std::to_string(i) + " exited at start; its log:" +
                       LogTail("tokensim-" + std::to_string(i) + ".log"));
      }
    }
    PcscContext ctx;
    if (ctx.Establish()) {
      readers = ListReaders(ctx.get());
      if (readers.size() >= readerCount) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw RigError("rig: pcscd did not show " + std::to_string(readerCount) + " readers in time (" +
                     std::to_string(readers.size()) + " seen); pcscd log:" + LogTail("pcscd.log"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (size_t i = 0; i < sims_.size(); ++i) sims_[i].reader = readers[2 * i];
  for (size_t i = 0; i < sims_.size(); ++i) {
    // Short waits, so a simulator that gives up is reported at once rather than at the deadline.
    while (!WaitCardPresent(i, true, std::chrono::milliseconds(100))) {
      if (Exited(sims_[i].pid)) {
        sims_[i].pid = -1;
        throw RigError("rig: simulator " + std::to_string(i) + " exited at start; its log:" +
                       LogTail("tokensim-" + std::to_string(i) + ".log"));
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        throw RigError("rig: the card of simulator " + std::to_string(i) + " was not seen in reader \"" +
                       sims_[i].reader + "\" in time; simulator log:" +
                       LogTail("tokensim-" + std::to_string(i) + ".log") + "\npcscd log:" + LogTail("pcscd.log"));
      }
    }
  }
}

bool Rig::WaitCardPresent(size_t index, bool present, std::chrono::milliseconds timeout) {
  const std::string& reader = ReaderName(index);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  PcscContext ctx;
  while (!ctx.Establish()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    DWORD wait = static_cast<DWORD>(std::max<long long>(0, std::min<long long>(left.count(), 200)));
    LONG rv = SCardGetStatusChange(ctx.get(), wait, &state, 1);
    if (rv == SCARD_S_SUCCESS) {
      bool isPresent = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
      if (isPresent == present) return true;
      state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    } else if (rv != SCARD_E_TIMEOUT) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

const ControlClient& Rig::Control(size_t index) const {
  if (index >= sims_.size()) throw RigError("rig: no simulator " + std::to_string(index));
  return *sims_[index].control;
}

const std::string& Rig::ReaderName(size_t index) const {
  if (index >= sims_.size()) throw RigError("rig: no simulator " + std::to_string(index));
  return sims_[index].reader;
}

void Rig::RemoveCard(size_t index) {
  Control(index).Remove();
  if (!WaitCardPresent(index, false, options_.readyTimeout)) throw RigError("rig: pcscd did not see the card removed");
}

void Rig::InsertCard(size_t index) {
  Control(index).Insert();
  if (!WaitCardPresent(index, true, options_.readyTimeout)) throw RigError("rig: pcscd did not see the card inserted");
}

void Rig::SwapCard(const std::string& serial, size_t index) {
  // The simulator leaves the reader empty only briefly; make sure pcscd notices the gap.
  Control(index).Remove();
  if (!WaitCardPresent(index, false, options_.readyTimeout)) throw RigError("rig: pcscd did not see the card removed");
  Control(index).Swap(serial);
  if (!WaitCardPresent(index, true, options_.readyTimeout)) throw RigError("rig: pcscd did not see the new card");
}

void Rig::ResetCard(size_t index) { ResetReader(ReaderName(index)); }

void Rig::ResetReader(const std::string& reader) {
  PcscContext ctx;
  if (!ctx.Establish()) throw RigError("rig: no PC/SC context for the reset");
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  LONG rv = SCardConnect(ctx.get(), reader.c_str(), SCARD_SHARE_SHARED,
                         SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  if (rv != SCARD_S_SUCCESS) throw RigError("rig: connect for the reset failed: " + std::string(pcsc_stringify_error(rv)));
  rv = SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &protocol);
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  if (rv != SCARD_S_SUCCESS) throw RigError("rig: reset failed: " + std::string(pcsc_stringify_error(rv)));
}

void Rig::RestartSimulator(size_t index, const std::vector<std::string>& simulatorOptions) {
  if (index >= sims_.size()) throw RigError("rig: no simulator " + std::to_string(index));
  Stop(sims_[index].pid);
  if (!WaitCardPresent(index, false, options_.readyTimeout)) throw RigError("rig: pcscd did not see the card go");
  sims_[index].options = simulatorOptions;
  StartSimulator(index);
  if (!WaitCardPresent(index, true, options_.readyTimeout)) {
    throw RigError("rig: restarted simulator's card not seen; its log:" +
                   LogTail("tokensim-" + std::to_string(index) + ".log"));
  }
}

void Rig::StopAll() {
  for (Sim& s : sims_) Stop(s.pid);
  Stop(pcscd_);
}

}  // namespace tokensim::rig
