// Each test program logs into a HOME of its own, so that test programs
// running side by side never truncate or read each other's log.
#pragma once

#include <string>

namespace vxtest {

// The private HOME made before the library's log opened.
const std::string& testHome();
// Everything in the log so far.
std::string readLog();
// How many times `line` (without its line feed) appears as a whole line in
// `text`.
int countLines(const std::string& text, const std::string& line);

} // namespace vxtest
