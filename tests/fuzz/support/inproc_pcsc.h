// A PC/SC stand-in that answers in this process: readers backed by the token simulator's core,
// so the whole token library runs once per fuzz input with no daemon and no sockets. Every
// value PC/SC hands the library (reader names, card state, ATR, attributes, results, answers)
// can be replaced by the fuzz input.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simulator.h"

namespace inproc {

using Bytes = std::vector<uint8_t>;

struct Overrides {
    std::optional<std::string> readerList;  // the raw multi-string, NULs included
    std::optional<Bytes> atr;
    std::optional<unsigned long> state;
    std::optional<unsigned long> protocol;
    std::optional<long> connectResult;
    std::optional<long> statusResult;
    std::optional<long> transmitResult;
    std::optional<Bytes> attribute;  // the answer to every SCardGetAttrib
};

class Pcsc {
public:
    static Pcsc& Instance();

    // Drops every reader, handle, override and filter.
    void Reset();
    // A reader holding a simulated token made from `options`.
    tokensim::Simulator& AddReader(const std::string& name, tokensim::TokenOptions options);
    void SetPresent(size_t reader, bool present);

    Overrides overrides;
    // Sees each APDU and its answer before the library does; may change the answer.
    std::function<void(const Bytes& command, Bytes& answer)> answerFilter;

    // Implementation of the SCard functions below.
    struct Reader {
        std::string name;
        std::unique_ptr<tokensim::Simulator> simulator;
        bool present = true;
    };
    std::vector<Reader> readers;
    std::map<long, size_t> cards;  // card handle -> reader
    long nextHandle = 1;
};

}  // namespace inproc
