// A key pair made by a second application on the same token: the keygen_process program, run
// with the built module and waited for. Needs ZR_KEYGEN_PROCESS and ZR_REAL_MODULE.
#pragma once

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdint>
#include <string>
#include <vector>

#include "module_rig_fixture.h"

extern char** environ;

namespace librarytest {

inline std::string UpperHex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

// Runs a helper program with these arguments and waits for its end; `what` names it in failures.
inline ::testing::AssertionResult RunToEnd(std::vector<std::string> arguments, const char* what)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return ::testing::AssertionFailure() << "cannot start " << argv[0];
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return ::testing::AssertionFailure() << "lost the helper process";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return ::testing::AssertionFailure() << what << " in the other process failed, status " << status;
    }
    return ::testing::AssertionSuccess();
}

// The other process's work on objects labelled `label`, which has ended when this returns:
// made with `mechanism` on the curve of `params` (a key pair; CKM_GOST28147_KEY_GEN_NAT a GOST
// 28147-89 key that wraps; CK_UNAVAILABLE_INFORMATION, for params not empty, a data object of that
// value). `change` "replace" first destroys every object labelled `label`, in a process of its
// own: a process hands out the file IDs and key slots it freed only last, so the next one makes
// the new objects in the freed ones where they were the highest in use. "relabel" only gives each
// of them its label again.
inline ::testing::AssertionResult InAnotherProcess(CK_MECHANISM_TYPE mechanism, const std::string& label,
                                                   const std::vector<uint8_t>& params, const std::string& change)
{
    const std::vector<std::string> base = {ZR_KEYGEN_PROCESS, ZR_REAL_MODULE, kUserPin};
    std::vector<std::string> arguments = base;
    if (change == "replace") {
        arguments.insert(arguments.end(), {std::to_string(CK_UNAVAILABLE_INFORMATION), label, "", change});
        const ::testing::AssertionResult destroyed = RunToEnd(arguments, "destruction");
        if (!destroyed || (mechanism == CK_UNAVAILABLE_INFORMATION && params.empty())) return destroyed;
        arguments = base;
    }
    arguments.insert(arguments.end(), {std::to_string(mechanism), label, UpperHex(params)});
    if (!change.empty() && change != "replace") arguments.push_back(change);
    return RunToEnd(arguments, "key generation");
}

// Token objects labelled `label` made by the other process; with `replace` another process first
// destroys every object labelled `label`.
inline ::testing::AssertionResult GenerateInAnotherProcess(CK_MECHANISM_TYPE mechanism, const std::string& label,
                                                           const std::vector<uint8_t>& params, bool replace = false)
{
    return InAnotherProcess(mechanism, label, params, replace ? "replace" : "");
}

#ifdef ZR_OBJECT_WRITER
// The object_writer program's steps (see object_writer.cpp), run to their end in another process.
inline ::testing::AssertionResult WriteInAnotherProcess(const std::vector<std::string>& steps)
{
    std::vector<std::string> arguments = {ZR_OBJECT_WRITER, ZR_REAL_MODULE, kUserPin, kSoPin};
    arguments.insert(arguments.end(), steps.begin(), steps.end());
    return RunToEnd(arguments, "object_writer");
}
#endif

// The token's signing key kinds, for tests that make keys in another process.
struct KeyKind {
    const char* name;
    CK_MECHANISM_TYPE generation;
    CK_MECHANISM_TYPE signature;
    std::vector<uint8_t> params;  // empty: the DSTU 4145 curve m257
};

inline const KeyKind kKeyKinds[] = {
    {"DSTU4145", CKM_DSTU4145_KEY_PAIR_GEN, CKM_DSTU4145, {}},
    {"ECDSA_P256", CKM_EC_KEY_PAIR_GEN, CKM_ECDSA, {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},
    {"RSA1024", CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, {}},
};

// Whether a fresh process, logged in, finds exactly `count` objects labelled `label` (with that
// CKA_ID when one is given).
inline ::testing::AssertionResult FreshProcessFinds(const std::string& label, unsigned count,
                                                    const std::vector<uint8_t>& id = {})
{
    std::vector<std::string> arguments = {ZR_KEYGEN_PROCESS, ZR_REAL_MODULE, kUserPin, "count", label,
                                          std::to_string(count)};
    if (!id.empty()) arguments.push_back(UpperHex(id));
    return RunToEnd(arguments, "count");
}

}  // namespace librarytest
