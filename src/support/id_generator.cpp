#include "support/id_generator.h"

#include <cstring>

#include "support/math.h"

namespace vdk {

IDGenerator::IDGenerator(const std::string& name) : name_(name)
{
    IDGenerator::Initialize();
}

IDGenerator::~IDGenerator() = default;

void IDGenerator::Initialize()
{
    mutex_ = MutexFactory::NewMutex("IDGenerator");
    value_ = 0;
}

void IDGenerator::GetNextValueNoSynchro(tru::BufferDynamic& out, unsigned)
{
    // Wrapping to 0 would hand out identifiers again.
    if (value_ == UINT64_MAX)
        throw IDGeneratorException("no identifiers left");
    ++value_;
    uint8_t bytes[8];
    SetUnsignedLongLong(value_, bytes);
    const tru::TResult rc = out.Set(8, bytes);
    if (rc != tru::SUCCESS)
        throw tru::Exception(rc);
}

void IDGenerator::GetNextValue(tru::BufferDynamic& out)
{
    MutexIntf::Guard guard(*mutex_, "GetNextValue");
    GetNextValueNoSynchro(out, 1);
}

void IDGenerator::GetNextValueAligned(tru::BufferDynamic& out)
{
    if (out.Size() < 8)
        throw IDGeneratorException("output shorter than 8 bytes");
    tru::BufferDynamic value;
    GetNextValue(value);
    std::memset(out.Data(), 0, out.Size() - 8);
    std::memcpy(out.Data() + out.Size() - 8, value.Data(), 8);
}

void IDGenerator::MergeValue(const tru::Buffer& value)
{
    if (value.Size() != 8)
        throw IDGeneratorException("theMergeValue invalid");
    MutexIntf::Guard guard(*mutex_, "MergeValue");
    const uint64_t merged = GetUnsignedLongLong(value.Data());
    if (merged > value_) {
        value_ = merged;
        SaveValue();
    }
}

}  // namespace vdk
