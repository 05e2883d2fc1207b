// The token simulator's own parsers: vpcd frames (command APDUs), control lines and the state
// file, each from the input.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "simulator.h"
#include "support/library_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inproc::ByteStream input(data, size);
    tokensim::Simulator simulator(inproc::InitialisedTokenOptions());
    switch (input.Next() % 3) {
        case 0:
            while (!input.Empty()) {
                tokensim::Bytes answer;
                simulator.HandleFrame(input.Take(input.Next()), answer);
            }
            break;
        case 1: {
            const inproc::Bytes text = input.Take(size);
            std::string line;
            for (uint8_t c : text) {
                if (c != '\n') {
                    line += static_cast<char>(c);
                    continue;
                }
                simulator.HandleControl(line);
                line.clear();
            }
            simulator.HandleControl(line);
            break;
        }
        default: {
            static const std::string path = "/tmp/tokensim-state-fuzz-" + std::to_string(getpid());
            const inproc::Bytes text = input.Take(size);
            FILE* file = std::fopen(path.c_str(), "wb");
            if (file == nullptr) return 0;
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
            std::string error;
            tokensim::TokenState state;
            if (state.Load(path, error)) {
                tokensim::Bytes answer;
                simulator.State() = state;
                simulator.HandleFrame({0x00, 0x20, 0x00, 0x00}, answer);
            }
            break;
        }
    }
    return 0;
}
