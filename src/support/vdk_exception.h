#ifndef SUPPORT_VDK_EXCEPTION_H
#define SUPPORT_VDK_EXCEPTION_H

#include <cstdint>
#include <exception>
#include <string>

namespace vdk {

// Failure without a result code (configuration, lock, thread, entropy,
// serialisation and size errors); the message is fixed English text.
class Exception : public std::exception {
public:
    explicit Exception(const std::string& message) : message_(message) {}
    ~Exception() override = default;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Raised by the file functions.
class FileException : public Exception {
public:
    explicit FileException(const std::string& message) : Exception(message) {}
    ~FileException() override = default;
};

// Narrowing for 16-bit and signed fields: the value unchanged, or
// vdk::Exception "Size <n> too big for unsigned short" / "... for int".
uint16_t SizeToUShortDynamic(uint32_t size);
int32_t SizeToIntDynamic(uint32_t size);

}  // namespace vdk

#endif
