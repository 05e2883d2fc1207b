// What PC/SC tells the library: reader names, card state and protocol, the ATR, reader
// attributes and the results of connect, status and transmit, each taken from the input.
#include <PCSC/winscard.h>

#include <string>

#include "support/library_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inproc::ByteStream input(data, size);
    inproc::InstallToken(inproc::SeededToken());
    inproc::Pcsc& pcsc = inproc::Pcsc::Instance();
    if (input.Next() & 1) pcsc.AddReader("Virtual PCD 00 01", inproc::InitialisedTokenOptions());
    const long results[] = {SCARD_S_SUCCESS,       SCARD_W_REMOVED_CARD, SCARD_E_NO_SMARTCARD,
                            SCARD_W_RESET_CARD,    SCARD_E_READER_UNAVAILABLE, SCARD_E_NOT_TRANSACTED,
                            SCARD_E_NO_SERVICE,    SCARD_E_SHARING_VIOLATION};
    while (!input.Empty()) {
        switch (input.Next() % 9) {
            case 0: {
                const inproc::Bytes names = input.Take(input.Next());
                pcsc.overrides.readerList = std::string(names.begin(), names.end());
                break;
            }
            case 1: pcsc.overrides.atr = input.Take(input.Next() % 48); break;
            case 2: pcsc.overrides.state = input.Next32(); break;
            case 3: pcsc.overrides.protocol = input.Next32(); break;
            case 4: pcsc.overrides.connectResult = results[input.Next() % 8]; break;
            case 5: pcsc.overrides.statusResult = results[input.Next() % 8]; break;
            case 6: pcsc.overrides.transmitResult = results[input.Next() % 8]; break;
            case 7: pcsc.overrides.attribute = input.Take(input.Next()); break;
            default: pcsc.SetPresent(input.Next() % 2, input.Next() & 1); break;
        }
    }
    inproc::RunApplicationRoad();
    return 0;
}
