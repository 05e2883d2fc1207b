#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tru2/buffer.h"
#include "tru2/c_wrappers.h"

namespace tru {

namespace {

bool Overlaps(const uint8_t* storage, uint32_t size, const void* data)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    return storage && p >= storage && p < storage + size;
}

}  // namespace

BufferDynamic::BufferDynamic(uint32_t size)
{
    if (size == 0)
        return;
    void* storage = std::malloc(size);
    if (!storage)
        throw Exception(ERROR_MEM);
    Adopt(storage, size);
}

BufferDynamic::BufferDynamic(const void* data, uint32_t size)
{
    CopyFrom(data, size);
}

BufferDynamic::BufferDynamic(const BufferDynamic& other) : Buffer()
{
    CopyFrom(other.Data(), other.Size());
}

BufferDynamic::BufferDynamic(const Buffer& other)
{
    CopyFrom(other.Data(), other.Size());
}

BufferDynamic::BufferDynamic(BufferDynamic&& other) : Buffer()
{
    if (other.WipesStorage())
        CopyFrom(other.Data(), other.Size());
    else
        TakeFrom(other);
}

BufferDynamic::~BufferDynamic()
{
    // Not the virtual Destroy: a subclass part is already gone here.
    if (Data())
        BufferDynamic::ReleaseStorage(Data(), Size());
}

void BufferDynamic::CopyFrom(const void* data, uint32_t size)
{
    if (size == 0)
        return;
    void* storage = std::malloc(size);
    if (!storage)
        throw Exception(ERROR_MEM);
    std::memcpy(storage, data, size);
    Adopt(storage, size);
}

void BufferDynamic::TakeFrom(BufferDynamic& other)
{
    Adopt(other.Data(), other.Size());
    other.Adopt(nullptr, 0);
}

BufferDynamic& BufferDynamic::operator=(const BufferDynamic& other)
{
    return *this = static_cast<const Buffer&>(other);
}

BufferDynamic& BufferDynamic::operator=(const Buffer& other)
{
    TResult rc = Set(other.Size(), other.Data());
    if (rc != SUCCESS)
        throw Exception(rc);
    return *this;
}

BufferDynamic& BufferDynamic::operator=(BufferDynamic&& other)
{
    if (this == &other)
        return *this;
    if (other.WipesStorage())
        return *this = static_cast<const Buffer&>(other);
    Destroy();
    TakeFrom(other);
    return *this;
}

TResult BufferDynamic::Set(uint32_t size, const void* data)
{
    if (size != 0 && !data)
        return ERROR_PARAM;
    if (size == Size())
        return Buffer::Set(size, data);
    if (size != 0 && Overlaps(Data(), Size(), data)) {
        // The source dies with the old storage: keep a copy until it is installed.
        if (static_cast<const uint8_t*>(data) + size > Data() + Size())
            return ERROR_SIZE;
        void* copy = std::malloc(size);
        if (!copy)
            return ERROR_MEM;
        std::memcpy(copy, data, size);
        TResult rc = Alloc(size);
        if (rc == SUCCESS)
            std::memcpy(Data(), copy, size);
        Wipe(size, copy);
        std::free(copy);
        return rc;
    }
    TResult rc = Alloc(size);
    if (rc != SUCCESS)
        return rc;
    return Buffer::Set(size, data);
}

TResult BufferDynamic::FromHex(const char* text)
{
    uint32_t length = 0;
    TResult rc = Buffer::FromHex(text, length, nullptr);
    if (rc != SUCCESS)
        return rc;
    if (length != Size()) {
        rc = Alloc(length);
        if (rc != SUCCESS)
            return rc;
    }
    return Buffer::FromHex(text, length, Data());
}

TResult BufferDynamic::FromBase64(const char* text, uint32_t textLength)
{
    uint32_t length = 0;
    TResult rc = Buffer::FromBase64(text, textLength, length, nullptr);
    if (rc != SUCCESS)
        return rc;
    rc = Alloc(length);
    if (rc != SUCCESS)
        return rc;
    return Buffer::FromBase64(text, textLength, length, Data());
}

TResult BufferDynamic::Alloc(uint32_t size)
{
    void* storage = nullptr;
    if (size != 0) {
        storage = std::malloc(size);
        if (!storage)
            return ERROR_MEM;
    }
    Destroy();
    Adopt(storage, size);
    return SUCCESS;
}

TResult BufferDynamic::Realloc(uint32_t size)
{
    if (size == 0)
        return Destroy();
    if (size == Size())
        return SUCCESS;
    void* storage = std::realloc(Data(), size);
    if (!storage)
        return ERROR_MEM;
    Adopt(storage, size);
    return SUCCESS;
}

TResult BufferDynamic::Destroy()
{
    if (Data())
        ReleaseStorage(Data(), Size());
    Adopt(nullptr, 0);
    return SUCCESS;
}

void BufferDynamic::ReleaseStorage(void* data, uint32_t)
{
    std::free(data);
}

TResult BufferDynamic::AppendBuffer(const Buffer& other)
{
    const uint32_t oldSize = Size();
    const uint32_t extra = other.Size();
    if (extra == 0)
        return SUCCESS;
    if (extra > UINT32_MAX - oldSize)
        return ERROR_SIZE;
    // The other may view this buffer, whose storage Realloc may move.
    const bool inside = Overlaps(Data(), oldSize, other.Data());
    const size_t offset = inside ? other.Data() - Data() : 0;
    if (inside && offset + extra > oldSize)
        return ERROR_SIZE;
    TResult rc = Realloc(oldSize + extra);
    if (rc != SUCCESS)
        return rc;
    const uint8_t* source = inside ? Data() + offset : other.Data();
    BufferShifting cursor(Data() + oldSize, extra);
    return cursor.SetBufferAndShift(extra, source);
}

TResult BufferDynamic::Load(const char* path)
{
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file(tru::fopen(path, "rb"));
    if (!file)
        return ERROR_FILE_OPEN;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return ERROR_IO;
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return ERROR_IO;
    if (static_cast<unsigned long>(length) > UINT32_MAX)
        return ERROR_SIZE;
    if (length == 0)
        return Destroy();
    TResult rc = Alloc(static_cast<uint32_t>(length));
    if (rc != SUCCESS)
        return rc;
    if (std::fread(Data(), Size(), 1, file.get()) != 1) {
        // No half-read contents left behind.
        Destroy();
        return ERROR_READ;
    }
    return SUCCESS;
}

void* BufferDynamic::Detach()
{
    void* storage = Data();
    Adopt(nullptr, 0);
    return storage;
}

}  // namespace tru
