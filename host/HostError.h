// Errors that end a vxhost command: a usage error (bad command line) or a
// failure while doing the work. Both become one line on standard error.
#pragma once

#include <MacTypes.h>

#include <stdexcept>
#include <string>

namespace vxhost {

constexpr int kExitFailure = 1; // the work failed, or a check did not pass
constexpr int kExitUsage = 2;   // the command line was wrong

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message, int exitCode = kExitFailure)
        : std::runtime_error(message), mExitCode(exitCode) {}
    int exitCode() const { return mExitCode; }

private:
    int mExitCode;
};

class UsageError : public HostError {
public:
    explicit UsageError(const std::string& message) : HostError(message, kExitUsage) {}
};

// Text for a status the platform calls answer: the number and, for the
// Audio Unit codes a user meets, their name.
std::string statusText(OSStatus status);

// Throws HostError with "what: status text" when status is not 0.
void check(OSStatus status, const std::string& what);

} // namespace vxhost
