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

// Runs keygen_process with these arguments after the module and the PIN and waits for it.
inline ::testing::AssertionResult RunOtherProcess(std::vector<std::string> more)
{
    std::vector<std::string> arguments = {ZR_KEYGEN_PROCESS, ZR_REAL_MODULE, kUserPin};
    arguments.insert(arguments.end(), more.begin(), more.end());
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
        return ::testing::AssertionFailure() << "the other process (" << more[0] << " " << more[1]
                                             << ") failed, status " << status;
    }
    return ::testing::AssertionSuccess();
}

// Token objects labelled `label` on the curve of `params`, made with `mechanism` by the other
// process, which has ended when this returns. With `replace` the other process first destroys
// every object labelled `label`; mechanism CK_UNAVAILABLE_INFORMATION then makes, for params not empty, a data object of
// that value instead of a key pair.
inline ::testing::AssertionResult GenerateInAnotherProcess(CK_MECHANISM_TYPE mechanism, const std::string& label,
                                                           const std::vector<uint8_t>& params, bool replace = false)
{
    std::vector<std::string> arguments = {std::to_string(mechanism), label, UpperHex(params)};
    if (replace) arguments.push_back("replace");
    return RunOtherProcess(arguments);
}

// Whether a fresh process, logged in, finds exactly `count` objects labelled `label` (with that
// CKA_ID when one is given).
inline ::testing::AssertionResult FreshProcessFinds(const std::string& label, unsigned count,
                                                    const std::vector<uint8_t>& id = {})
{
    std::vector<std::string> arguments = {"count", label, std::to_string(count)};
    if (!id.empty()) arguments.push_back(UpperHex(id));
    return RunOtherProcess(arguments);
}

}  // namespace librarytest
