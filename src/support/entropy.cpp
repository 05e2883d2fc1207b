#include "support/entropy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/vdk_exception.h"

namespace vdk {

namespace {

constexpr unsigned MAX_RAND_READS = 1024;
constexpr const char* kRandom = "/dev/random";
constexpr const char* kUrandom = "/dev/urandom";

// Both descriptors, closed on every way out.
class EntropySources {
public:
    explicit EntropySources(EntropyDevices& devices) : devices_(devices) {}
    ~EntropySources()
    {
        CloseOne(random);
        CloseOne(urandom);
    }
    EntropySources(const EntropySources&) = delete;
    EntropySources& operator=(const EntropySources&) = delete;

    void CloseOne(int& fd)
    {
        if (fd >= 0)
            devices_.Close(fd);
        fd = -1;
    }

    int random = -1;
    int urandom = -1;

private:
    EntropyDevices& devices_;
};

}  // namespace

int EntropyDevices::Open(const char* path, int flags) { return open(path, flags); }

ssize_t EntropyDevices::Read(int fd, void* buffer, size_t length) { return read(fd, buffer, length); }

void EntropyDevices::Close(int fd) { close(fd); }

unsigned GetUnixEntropySlow(EntropyDevices& devices, unsigned char* buffer, unsigned length)
{
    EntropySources fds(devices);
    fds.random = devices.Open(kRandom, O_RDONLY | O_NONBLOCK);
    if (fds.random < 0)
        throw Exception("Error opening /dev/random");
    fds.urandom = devices.Open(kUrandom, O_RDONLY);
    if (fds.urandom < 0)
        throw Exception("Error opening /dev/urandom");
    if (length == 0)
        return 0;

    unsigned done = 0;

    // Strong phase: whatever /dev/random gives now; any failure but EINTR hands over.
    unsigned interruptions = 0;
    bool reopened = false;
    while (done < length) {
        const ssize_t n = devices.Read(fds.random, buffer + done, length - done);
        const int err = errno;
        if (interruptions > MAX_RAND_READS)
            throw Exception("sanity > MAX_RAND_READS for random read");
        if (n > 0) {
            done += static_cast<unsigned>(n);
            continue;
        }
        if (n == 0)
            break;  // end of file: nothing more to gain here
        if (err == EINTR) {
            ++interruptions;
            continue;
        }
        if (err == EBADF && !reopened) {
            reopened = true;
            fds.CloseOne(fds.random);
            fds.random = devices.Open(kRandom, O_RDONLY | O_NONBLOCK);
            if (fds.random < 0)
                break;
            continue;
        }
        break;
    }

    // Weak phase: /dev/urandom for the rest.
    interruptions = 0;
    reopened = false;
    while (done < length) {
        const ssize_t n = devices.Read(fds.urandom, buffer + done, length - done);
        const int err = n < 0 ? errno : 0;
        if (interruptions > MAX_RAND_READS)
            throw Exception("sanity > MAX_RAND_READS for urandom read");
        if (n > 0) {
            done += static_cast<unsigned>(n);
            continue;
        }
        if (n < 0 && err == EINTR) {
            ++interruptions;
            continue;
        }
        if (n < 0 && err == EBADF && !reopened) {
            reopened = true;
            fds.CloseOne(fds.urandom);
            fds.urandom = devices.Open(kUrandom, O_RDONLY | O_NONBLOCK);
            if (fds.urandom < 0)
                throw Exception("Error opening /dev/urandom again");
            continue;
        }
        // A device at end of file would loop for ever: report it as a failed read.
        throw Exception("Error reading /dev/urandom. errno: " + std::to_string(err));
    }
    return done;
}

unsigned GetUnixEntropySlow(unsigned char* buffer, unsigned length)
{
    EntropyDevices system;
    return GetUnixEntropySlow(system, buffer, length);
}

unsigned GetEntropySlow(void* buffer, unsigned length)
{
    return GetUnixEntropySlow(static_cast<unsigned char*>(buffer), length);
}

}  // namespace vdk
