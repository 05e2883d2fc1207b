// Hex and Base64 decoders and the serialisation reader fed arbitrary bytes.
#include <cstdint>
#include <string>

#include "support/serialization.h"
#include "support/vdk_exception.h"
#include "tru2/buffer.h"
#include "tru2/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    tru::BufferDynamic dyn;
    dyn.FromHex(text.c_str());
    dyn.FromBase64(text.c_str(), static_cast<uint32_t>(text.size()));
    tru::BufferStatic<8> fixed;
    fixed.FromHex(text.c_str());
    fixed.FromBase64(text.c_str());

    const tru::Buffer view(data + 1, static_cast<uint32_t>(size - 1));
    const auto order = static_cast<vdk::Math::ByteOrder>(data[0] % 3);
    vdk::InputBuffer in(order, view);
    try {
        for (int step = 0; in.GetRemaining() > 0 && step < 64; ++step) {
            switch (data[step % size] & 7) {
            case 0: in.ReadByte(); break;
            case 1: in.ReadShort(); break;
            case 2: in.ReadInt(); break;
            case 3: in.ReadString(in.GetRemaining() / 2); break;
            case 4: { tru::BufferDynamic out; in.ReadShortPacket(out); break; }
            case 5: { tru::BufferDynamic out; in.ReadIntPacket(out); break; }
            case 6: { tru::BufferStatic<4> out; in.ReadShortPacket(out); break; }
            default: in.ReadShortPacket(); break;
            }
        }
    } catch (const vdk::Exception&) {
    } catch (const tru::Exception&) {
    }
    return 0;
}
