#ifndef TESTS_SIGN_WEB_SERVICE_TEST_SERVICE_H
#define TESTS_SIGN_WEB_SERVICE_TEST_SERVICE_H

// The test signing service dlscprpc.so.
//
// Requests: "echo:<text>" answers the text; "bytes:<n>" answers n pattern bytes
// (npdlscp_test::PatternBytes); anything else fails.
// The environment variable DLSCPRPC_TEST, read by each Initialize, chooses failures:
// "fail-initialize" makes Initialize answer 0; "fail-encode=<k>" makes the k-th BASE64Encode
// after it fail.
// Counters are reached through the export below while the library is loaded.

struct DlscprpcTestState {
    int initializeCalls;
    int finalizeCalls;
    int processCalls;
    int encodeCalls;
    // Blocks handed out and not yet given back through FreeMemory.
    int liveAllocations;
    int failEncodeAt;
};

extern "C" {
typedef DlscprpcTestState* (*DlscprpcTestStateFunc)();
DlscprpcTestState* DlscprpcTestStateOf();
}

constexpr char kDlscprpcTestVariable[] = "DLSCPRPC_TEST";

#endif
