// Running a command and collecting what it prints (for tools and tests).
#pragma once

#include <string>

namespace zan {

// Runs a shell command line; returns its exit status (-1 when it did not
// exit normally) and appends its standard output to out.
int RunCommand(const std::string& commandLine, std::string& out);

}  // namespace zan
