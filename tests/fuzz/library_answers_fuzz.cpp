// Damaged token answers on the library's real command sequence: each answer of the simulated
// token may be cut, lengthened, given another status or have bytes changed, as the input says,
// while an application's usual road runs through the C_ functions.
#include "support/library_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inproc::ByteStream input(data, size);
    inproc::InstallToken(inproc::SeededToken());
    inproc::Pcsc::Instance().answerFilter = [&input](const inproc::Bytes&, inproc::Bytes& answer) {
        if (input.Empty()) return;
        const uint8_t action = input.Next();
        const size_t at = answer.empty() ? 0 : input.Next() % answer.size();
        switch (action % 8) {
            case 0: case 1: case 2: break;  // most answers pass, so later commands are reached
            case 3: answer.resize(at); break;
            case 4: if (!answer.empty()) answer[at] ^= input.Next() | 1; break;
            case 5: if (answer.size() >= 2) answer[answer.size() - 2] = input.Next(); break;
            case 6: {
                const inproc::Bytes extra = input.Take(input.Next());
                answer.insert(answer.begin() + at, extra.begin(), extra.end());
                break;
            }
            default: answer = input.Take(input.Next()); break;
        }
    };
    inproc::RunApplicationRoad();
    return 0;
}
