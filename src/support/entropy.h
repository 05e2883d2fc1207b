#pragma once

#include <sys/types.h>

namespace vdk {

// The system calls the entropy reader uses; tests replace them to play the devices' answers.
class EntropyDevices {
public:
    virtual ~EntropyDevices() = default;
    virtual int Open(const char* path, int flags);
    // As read(2): bytes read, or -1 with errno set.
    virtual ssize_t Read(int fd, void* buffer, size_t length);
    virtual void Close(int fd);
};

// Fills the buffer: first from /dev/random as far as it answers without blocking, the rest
// from /dev/urandom. Returns length; throws vdk::Exception when the devices fail.
unsigned GetUnixEntropySlow(unsigned char* buffer, unsigned length);
unsigned GetUnixEntropySlow(EntropyDevices& devices, unsigned char* buffer, unsigned length);
unsigned GetEntropySlow(void* buffer, unsigned length);

}  // namespace vdk
