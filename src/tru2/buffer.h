#ifndef TRU2_BUFFER_H
#define TRU2_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tru2/exception.h"
#include "tru2/result_codes.h"

namespace tru {

// Non-owning view of bytes. Operations that can fail return a result code
// (SUCCESS, ERROR_SIZE, ERROR_DATA, ERROR_MEM, file codes).
class Buffer {
public:
    Buffer() = default;
    Buffer(void* data, uint32_t size) : data_(static_cast<uint8_t*>(data)), size_(size) {}
    // View of read-only memory: the caller must not write through it.
    Buffer(const void* data, uint32_t size)
        : data_(static_cast<uint8_t*>(const_cast<void*>(data))), size_(size)
    {
    }
    Buffer(std::nullptr_t, uint32_t size) : size_(size) {}
    Buffer(const Buffer&) = default;
    Buffer& operator=(const Buffer&) = default;
    virtual ~Buffer() = default;

    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    uint32_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }

    // Copies exactly Size() bytes (overlap-safe); ERROR_SIZE when size differs.
    virtual TResult Set(uint32_t size, const void* data);
    // Decoded length must equal Size() (ERROR_SIZE, nothing written); bad text ERROR_DATA.
    virtual TResult FromHex(const char* text);
    virtual TResult FromBase64(const char* text);
    virtual TResult FromBase64(const char* text, uint32_t length);

    // Upper-case hex. group != 0 puts a blank after every group of bytes; line != 0
    // puts the separator after every line-th group.
    std::string ToHex(unsigned long group = 0, unsigned long line = 0,
                      const char* separator = "\n") const;
    // RFC 4648 Base64; line != 0 writes the separator after every line-th character.
    std::string ToBase64(unsigned long line = 0, const char* separator = nullptr) const;
    // Russian letters: code page 866 -> Windows-1251, and back. Stop at the first zero byte.
    std::string ToWin() const;
    std::string ToDos() const;
    // Exactly the bytes, zeros included.
    std::string ToString() const;

    // Writes the bytes to a created or truncated file; ERROR_WRITE on failure.
    TResult Save(const char* path) const;
    // Every byte from rand(); not for secrets.
    void FillRand();

    bool operator==(const Buffer& other) const;
    bool operator!=(const Buffer& other) const { return !(*this == other); }

    // Three passes: 0x00, 0xFF, 0xAA (0xAA is left behind).
    static void Wipe(uint32_t size, void* data);
    static void Reverse(void* data, uint32_t size);
    // 0..63 for the alphabet, 65 for '=', -1 otherwise.
    static int GetBase64Code(char c);
    // Decoders. With output null they only count; with an output, length is its
    // room on entry. On success length is the number of bytes decoded.
    static TResult FromHex(const char* text, uint32_t& length, void* output);
    static TResult FromBase64(const char* text, uint32_t textLength, uint32_t& length,
                              void* output);

    static const char encoding[66];
    // Row 0: code page 866 codes of the 66 Russian letters; row 1: Windows-1251 codes.
    static const uint8_t cChars_[2][66];

protected:
    void SetView(void* data, uint32_t size)
    {
        data_ = static_cast<uint8_t*>(data);
        size_ = size;
    }

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
};

// Buffer owning heap storage from malloc.
class BufferDynamic : public Buffer {
public:
    BufferDynamic() = default;
    // Uninitialised bytes; throws tru::Exception(ERROR_MEM).
    explicit BufferDynamic(uint32_t size);
    BufferDynamic(const void* data, uint32_t size);
    BufferDynamic(const BufferDynamic& other);
    BufferDynamic(const Buffer& other);
    // Moving from a buffer that wipes its storage copies instead, so the secret
    // stays owned by the wiping buffer.
    BufferDynamic(BufferDynamic&& other);
    ~BufferDynamic() override;

    // Throw tru::Exception on failure.
    BufferDynamic& operator=(const BufferDynamic& other);
    BufferDynamic& operator=(const Buffer& other);
    BufferDynamic& operator=(BufferDynamic&& other);

    using Buffer::FromBase64;
    using Buffer::Set;
    // Resizes to the given size first when it differs. The source may lie inside
    // this buffer's own storage.
    TResult Set(uint32_t size, const void* data) override;
    TResult Set(const std::string& text) { return Set(static_cast<uint32_t>(text.size()), text.data()); }
    TResult FromHex(const char* text) override;
    TResult FromBase64(const char* text, uint32_t length) override;

    // New uninitialised storage; unchanged on failure (ERROR_MEM).
    virtual TResult Alloc(uint32_t size);
    // New size, leading bytes kept; unchanged on failure (ERROR_MEM).
    virtual TResult Realloc(uint32_t size);
    virtual TResult Destroy();

    // Appends the other's bytes, which may be a view of this buffer.
    TResult AppendBuffer(const Buffer& other);
    // Whole file: ERROR_FILE_OPEN, ERROR_IO (seek), ERROR_READ; empty file empties the buffer.
    TResult Load(const char* path);
    // Hands the storage to the caller (release with free); the buffer ends empty.
    void* Detach();

protected:
    // True for buffers that wipe whatever storage they let go of.
    virtual bool WipesStorage() const { return false; }
    // Frees storage that this buffer held; a seam for wiping subclasses and tests.
    virtual void ReleaseStorage(void* data, uint32_t size);
    // Installs storage without releasing the previous one.
    void Adopt(void* data, uint32_t size) { SetView(data, size); }

private:
    void TakeFrom(BufferDynamic& other);
    void CopyFrom(const void* data, uint32_t size);
};

// Buffer over an inline array of N bytes; never resizes.
template <uint32_t N>
class BufferStatic : public Buffer {
public:
    BufferStatic() : Buffer(bytes_, N) { std::memset(bytes_, 0, N); }
    BufferStatic(const BufferStatic& other) : Buffer(bytes_, N) { std::memcpy(bytes_, other.bytes_, N); }
    BufferStatic& operator=(const BufferStatic& other)
    {
        std::memmove(bytes_, other.bytes_, N);
        return *this;
    }
    ~BufferStatic() override = default;

private:
    uint8_t bytes_[N];
};

// Cursor over bytes: every read or write consumes bytes from the front. Over null
// data the shift and write operations only count. Each returns SUCCESS or
// ERROR_SIZE and changes nothing on failure; reads from null data give ERROR_PARAM.
class BufferShifting : public Buffer {
public:
    BufferShifting() = default;
    BufferShifting(void* data, uint32_t size) : Buffer(data, size) {}
    // Reading cursor over read-only bytes: do not write through it.
    BufferShifting(const void* data, uint32_t size) : Buffer(data, size) {}
    // Counting cursor.
    BufferShifting(std::nullptr_t, uint32_t size) : Buffer(nullptr, size) {}
    explicit BufferShifting(const Buffer& buffer) : Buffer(buffer.Data(), buffer.Size()) {}
    ~BufferShifting() override = default;

    TResult Shift(uint32_t count);
    TResult GetAndShift(uint32_t count, void* output);
    template <typename T>
    TResult GetAndShift(T& value)
    {
        return GetAndShift(static_cast<uint32_t>(sizeof(T)), &value);
    }
    template <typename T>
    TResult SetAndShift(const T& value)
    {
        return SetBufferAndShift(static_cast<uint32_t>(sizeof(T)), &value);
    }
    // Without the terminating zero.
    TResult SetStringAndShift(const char* text);
    TResult SetBufferAndShift(const Buffer& buffer);
    TResult SetBufferAndShift(uint32_t count, const void* data);
};

}  // namespace tru

#endif
