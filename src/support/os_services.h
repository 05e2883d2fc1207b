#pragma once

#include <string>

namespace vdk {

// One key from the terminal, without waiting for a line end and without echo; EOF on failure.
int getch();
void resetch();

// File of the loaded object (library or program) that holds the address; "" when none does.
std::string GetLibraryFullFilename(const void* address);
std::string GetLibraryPath(const void* address);

// The running program's file, from /proc/self/exe; "" when the link cannot be read.
std::string GetApplicationFullName();
std::string GetApplicationPath();
std::string GetApplicationName();

unsigned long GetThreadId();
int GetPid();

// Always true; a negative duration sleeps 0.
bool SleepMs(int milliseconds);

}  // namespace vdk
