#include "support/os_services.h"

#include <dlfcn.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "support/file.h"

namespace vdk {

namespace {
constexpr size_t kNameArea = 4096;
}

int getch()
{
    termios saved {};
    const bool haveTerminal = tcgetattr(0, &saved) == 0;
    if (haveTerminal) {
        termios raw = saved;
        raw.c_lflag &= ~(ICANON | ECHO);
        tcsetattr(0, TCSANOW, &raw);
    }
    const int c = getchar();
    if (haveTerminal)
        tcsetattr(0, TCSANOW, &saved);
    return c;
}

void resetch() {}

std::string GetLibraryFullFilename(const void* address)
{
    Dl_info info {};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname)
        return std::string();
    std::string name(info.dli_fname);
    if (name.size() > kNameArea - 1)
        name.resize(kNameArea - 1);
    return name;
}

std::string GetLibraryPath(const void* address)
{
    return File::ExtractPathFromFullname(GetLibraryFullFilename(address));
}

std::string GetApplicationFullName()
{
    char target[kNameArea] = {};
    const ssize_t n = readlink("/proc/self/exe", target, sizeof target - 1);
    if (n <= 0)
        return std::string();
    return std::string(target, static_cast<size_t>(n));
}

std::string GetApplicationPath() { return File::ExtractPathFromFullname(GetApplicationFullName()); }

std::string GetApplicationName() { return File::ExtractFileName(GetApplicationFullName()); }

unsigned long GetThreadId() { return static_cast<unsigned long>(pthread_self()); }

int GetPid() { return static_cast<int>(getpid()); }

bool SleepMs(int milliseconds)
{
    if (milliseconds > 0)
        usleep(static_cast<useconds_t>(milliseconds) * 1000u);
    return true;
}

}  // namespace vdk
