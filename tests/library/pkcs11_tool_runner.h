// Runs OpenSC's pkcs11-tool against a module, as a process of its own inside the test's rig.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace librarytest {

struct ToolResult {
    int status;
    std::string output;
};

// A sanitizer-built module needs its runtime loaded first into the uninstrumented tool.
inline std::string ToolPrefix() {
#ifdef ZR_SANITIZER_PRELOAD
    return "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#else
    return "";
#endif
}

inline ToolResult RunTool(const std::string& module, const std::string& arguments) {
    const std::string command = ToolPrefix() + "pkcs11-tool --module '" + module + "' " + arguments + " 2>&1";
    ToolResult result{-1, std::string()};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    result.status = pclose(pipe);
    return result;
}

}  // namespace librarytest
