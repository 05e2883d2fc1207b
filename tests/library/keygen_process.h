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

// The other process's work on objects labelled `label`, which has ended when this returns:
// made with `mechanism` on the curve of `params` (a key pair; CKM_GOST28147_KEY_GEN_NAT a GOST
// 28147-89 key that wraps; CK_UNAVAILABLE_INFORMATION, for params not empty, a data object of that
// value). `change` "replace" first destroys every object labelled `label`; "relabel" only gives
// each of them its label again.
inline ::testing::AssertionResult InAnotherProcess(CK_MECHANISM_TYPE mechanism, const std::string& label,
                                                   const std::vector<uint8_t>& params, const std::string& change)
{
    std::vector<std::string> arguments = {ZR_KEYGEN_PROCESS, ZR_REAL_MODULE, kUserPin, std::to_string(mechanism),
                                          label, UpperHex(params)};
    if (!change.empty()) arguments.push_back(change);
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
        return ::testing::AssertionFailure() << "key generation in the other process failed, status " << status;
    }
    return ::testing::AssertionSuccess();
}

// Token objects labelled `label` made by the other process; with `replace` it first destroys
// every object labelled `label`.
inline ::testing::AssertionResult GenerateInAnotherProcess(CK_MECHANISM_TYPE mechanism, const std::string& label,
                                                           const std::vector<uint8_t>& params, bool replace = false)
{
    return InAnotherProcess(mechanism, label, params, replace ? "replace" : "");
}

}  // namespace librarytest
