#include <array>

#include "device/device_results.h"

namespace {

constexpr size_t kStatusCount = 110;

struct StatusEntry {
    uint8_t status;
    uint32_t result;
};

// Token status bytes with a result code of their own; every other status from 1 to 110 means 31.
constexpr StatusEntry kStatusEntries[] = {
    {1, 234},          // more data available
    {2, 119},          // no command
    {3, 603},          // overrun
    {4, 170},          // busy
    {5, 22},
    {6, 1638},         // unsupported version
    {7, 120},          // not implemented
    {11, 1359},        // internal error
    {18, 0x80090006},  // signature does not verify
    {21, 1413},        // bad file index
    {23, 1743},        // data too large
    {24, 323},         // integrity check error
    {25, 112},         // insufficient space
    {29, 0x80070057},  // invalid argument
    {31, 0x8010006C},  // PIN locked
    {32, 0x8010002A},  // invalid PIN
    {33, 8308},        // invalid attribute id
    {35, 1107},        // not initialized
    {36, 0x80090008},  // unsupported parameter set
    {37, 0x80090003},  // invalid key
    {38, 13},          // invalid data
    {39, 0x80090004},  // bad length
    {40, 69},          // sessions limit exceeded
    {41, 1312},        // invalid session ID
    {47, 221},         // user already logged in
    {48, 1365},        // not authorized
    {49, 1363},        // session exists
    {103, 112},        // insufficient space
    {104, 8248},       // file is too big
    {105, 2},          // file not found
    {106, 80},         // file already exists
    {107, 8262},       // invalid offset
    {108, 1627},       // program error
    {109, 10014},      // bad address
    {110, 8398},       // erase error
};

std::array<uint32_t, kStatusCount + 1> BuildStatusTable()
{
    std::array<uint32_t, kStatusCount + 1> table{};
    table.fill(devrc::kGeneralFailure);
    table[0] = devrc::kSuccess;
    for (const StatusEntry& e : kStatusEntries) {
        table[e.status] = e.result;
    }
    return table;
}

}  // namespace

uint32_t ConvertTokenError(uint8_t status)
{
    static const std::array<uint32_t, kStatusCount + 1> table = BuildStatusTable();
    return status <= kStatusCount ? table[status] : devrc::kGeneralFailure;
}
