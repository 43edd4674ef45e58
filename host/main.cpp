// vxhost: a command-line Audio Unit host. It finds, opens and drives
// components only through the platform's Audio Unit and Core Foundation
// calls, as any host would.

#include "Alerts.h"
#include "Commands.h"
#include "HostError.h"

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <new>

namespace {

int dispatch(int argc, char** argv) {
    using namespace vxhost;
    if (argc < 2) {
        std::fputs(helpText("").c_str(), stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const Words words(argv + 2, argv + argc);
    if (command == "help" || command == "--help" || command == "-h") {
        const std::string topic = words.empty() ? "" : words[0];
        const std::string text = helpText(topic);
        if (text.empty())
            throw UsageError(fmt::format("no help on '{}': there is no such command", topic));
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    for (const std::string& w : words)
        if (w == "--help" || w == "-h") {
            const std::string text = helpText(command);
            if (text.empty())
                break;
            std::fputs(text.c_str(), stdout);
            return 0;
        }
    if (command == "list")
        return runList(words);
    if (command == "info")
        return runInfo(words);
    if (command == "render")
        return runRender(words);
    if (command == "preset")
        return runPreset(words);
    if (command == "validate")
        return runValidate(words, argv[0]);
    if (command == "export-lv2")
        return runExportLv2(words);
    throw UsageError(fmt::format("unknown command '{}' (commands: list, info, render, preset, "
                                 "validate, export-lv2; see 'vxhost help')",
                                 command));
}

} // namespace

int main(int argc, char** argv) {
    try {
        vxhost::watchAlerts();
        return dispatch(argc, argv);
    } catch (const vxhost::HostError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vxhost: error: %s\n", e.what());
        return e.exitCode();
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fputs("vxhost: error: out of memory\n", stderr);
        return vxhost::kExitFailure;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vxhost: error: %s\n", e.what());
        return vxhost::kExitFailure;
    }
}
