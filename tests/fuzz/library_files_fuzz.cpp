// The token's files as the library reads them back: the seeded token's index, attribute and
// data files are replaced, cut, changed or removed as the input says, then an application's
// usual road reads every object through the C_ functions.
#include "support/library_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inproc::ByteStream input(data, size);
    tokensim::TokenState state = inproc::SeededToken();
    while (!input.Empty() && !state.files.empty()) {
        const uint8_t pick = input.Next();
        auto file = state.files.begin();
        std::advance(file, pick % state.files.size());
        tokensim::Bytes& content = file->second;
        switch (input.Next() % 5) {
            case 0: content = input.Take(input.Next() * 2); break;
            case 1: content.resize(content.empty() ? 0 : input.Next() % content.size()); break;
            case 2: if (!content.empty()) content[input.Next() % content.size()] = input.Next(); break;
            case 3: state.files.erase(file); break;
            default: {
                const uint8_t id = input.Next();
                state.files[id] = input.Take(input.Next());
                break;
            }
        }
    }
    inproc::InstallToken(state);
    inproc::RunApplicationRoad();
    return 0;
}
