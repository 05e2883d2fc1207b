#include "objects/object_text.h"

#include <ios>
#include <sstream>

namespace zrck {

std::string HexId(const tru::Buffer& id)
{
    std::string hex = id.ToHex();
    if (hex.size() < 8) hex.insert(0, 8 - hex.size(), '0');
    return "0x" + hex;
}

std::string ObjectText(const TokObject& object, const tru::Buffer& label, const char* idName, const tru::Buffer& id,
                       const std::string& tail)
{
    std::ostringstream text;
    text << object.GetObjectClassName() << "[This: " << static_cast<const void*>(&object) << ", Handle: " << std::hex
         << std::uppercase << object.GetHandle() << ", Label=\"" << label.ToString() << "\", " << idName << ": "
         << HexId(id) << tail << "]";
    return text.str();
}

}  // namespace zrck
