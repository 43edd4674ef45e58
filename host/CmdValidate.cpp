#include "Args.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "HostError.h"
#include "Validate.h"

#include <CoreFoundation/CoreFoundation.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <string>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vxhost {

namespace {

constexpr const char* kMarker = "@check ";

int runBatteryCatching(const Check& check, FILE* out, bool markers) {
    if (markers) {
        std::fprintf(out, "%s%s\n", kMarker, check.name.c_str());
        std::fflush(out);
    }
    Outcome outcome;
    try {
        outcome = check.run();
    } catch (const std::exception& e) {
        outcome = Outcome::fail(e.what());
    }
    std::fprintf(out, "%s  %-34s %s\n", outcome.pass ? "PASS" : "FAIL", check.name.c_str(),
                 outcome.reason.c_str());
    std::fflush(out);
    return outcome.pass ? 0 : 1;
}

// The host's own executable, found the platform's way.
std::string ownExecutable(const char* argv0) {
    CFBundleRef main = CFBundleGetMainBundle();
    CFRef<CFURLRef> url(main ? CFBundleCopyExecutableURL(main) : nullptr);
    if (url) {
        char path[4096];
        if (CFURLGetFileSystemRepresentation(url.get(), true, reinterpret_cast<UInt8*>(path),
                                             sizeof path))
            return path;
    }
    return argv0;
}

std::string signalName(int sig) {
    const char* text = strsignal(sig);
    return fmt::format("signal {} ({})", sig, text ? text : "unknown");
}

// Runs the battery in a child process and relays its report. A child that
// dies takes the check it was running down with it as a failure.
int runOutOfProcess(const Words& words, const char* argv0, double checkSeconds) {
    std::vector<std::string> childWords = {ownExecutable(argv0), "validate", "--progress-markers"};
    for (const std::string& w : words)
        if (w != "--out-of-process")
            childWords.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : childWords)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw HostError("cannot make a pipe to the validation child");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        throw HostError(fmt::format("cannot start the validation child '{}': {}", argv[0],
                                    std::strerror(spawned)));
    }
    std::printf("validating in a child process (pid %ld)\n", static_cast<long>(child));
    std::fflush(stdout);

    // The child's report is relayed line by line; a check that runs past
    // its time (a unit that never returns) stops the child.
    const auto limit = std::chrono::milliseconds(static_cast<long long>(checkSeconds * 1000));
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::string current;
    std::string pending;
    bool hung = false;
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{pipeFds[0], POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            hung = true;
            break;
        }
        const ssize_t got = polled < 0 ? -1 : read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(chunk, static_cast<size_t>(got));
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            if (line.compare(0, std::strlen(kMarker), kMarker) == 0) {
                current = line.substr(std::strlen(kMarker));
                while (!current.empty() && (current.back() == '\n' || current.back() == '\r'))
                    current.pop_back();
                deadline = std::chrono::steady_clock::now() + limit;
                continue;
            }
            std::fputs(line.c_str(), stdout);
        }
        std::fflush(stdout);
    }
    std::fputs(pending.c_str(), stdout);
    close(pipeFds[0]);
    if (hung)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (hung) {
        std::printf("FAIL  %-34s did not finish within %g s; the validation child was stopped "
                    "and the checks after it did not run\n",
                    current.empty() ? "(before the first check)" : current.c_str(), checkSeconds);
        std::printf("validate: FAILED (no answer during '%s')\n", current.c_str());
        return kExitFailure;
    }
    if (WIFSIGNALED(status)) {
        std::printf("FAIL  %-34s the unit crashed the validation child: %s; the checks after "
                    "it did not run\n",
                    current.empty() ? "(before the first check)" : current.c_str(),
                    signalName(WTERMSIG(status)).c_str());
        std::printf("validate: FAILED (crash during '%s')\n", current.c_str());
        return kExitFailure;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
}

} // namespace

int runBattery(const std::vector<Check>& checks, const BatteryOptions& options, FILE* out,
               std::vector<std::string>* failedNames) {
    int failed = 0;
    for (const Check& c : checks) {
        if (runBatteryCatching(c, out, options.progressMarkers) != 0) {
            ++failed;
            if (failedNames)
                failedNames->push_back(c.name);
        }
    }
    return failed;
}

int runValidate(const Words& words, const char* argv0) {
    const Args args("validate", words,
                    {{"--component", "", true, false},
                     {"--entry", "", true, false},
                     {"--repeat", "", true, false},
                     {"--out-of-process", "", false, false},
                     {"--check-timeout", "", true, false},
                     {"--quick", "", false, false},
                     {"--progress-markers", "", false, false}},
                    0);
    const Entry entry = parseEntry(args.value("--entry"));
    const long repeat = args.integer("--repeat", 1, 1000).value_or(1);
    const double checkSeconds = args.number("--check-timeout", 0.1, 86400).value_or(120);
    if (args.has("--out-of-process"))
        return runOutOfProcess(words, argv0, checkSeconds);

    BatteryOptions options;
    options.renderSeconds = args.has("--quick") ? 0.1 : 0.5;
    options.progressMarkers = args.has("--progress-markers");
    const ComponentRef ref = resolveComponent(args.value("--component"));
    std::printf("validating %s (%s), version %s, through its %s entry\n", ref.name.c_str(),
                codesText(ref.desc).c_str(), versionText(ref.version).c_str(), entryName(entry));
    std::fflush(stdout);

    std::vector<std::string> failedNames;
    int total = 0;
    int failed = 0;
    for (long run = 1; run <= repeat; ++run) {
        if (repeat > 1)
            std::printf("run %ld of %ld\n", run, repeat);
        const std::vector<Check> checks = batteryChecks(ref, entry, options);
        total += static_cast<int>(checks.size());
        failed += runBattery(checks, options, stdout, &failedNames);
    }
    if (failed == 0) {
        std::printf("validate: PASSED (%d of %d checks)\n", total, total);
        return 0;
    }
    std::string names;
    std::set<std::string> named;
    for (const std::string& n : failedNames)
        if (named.insert(n).second)
            names += (names.empty() ? "" : ", ") + n;
    std::printf("validate: FAILED (%d of %d checks failed: %s)\n", failed, total, names.c_str());
    return kExitFailure;
}

} // namespace vxhost
