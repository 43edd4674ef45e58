// The validation battery: named checks, each passing or failing with a
// reason, run against fresh instances of one component.
#pragma once

#include "Component.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vxhost {

struct Outcome {
    bool pass = true;
    std::string reason;
    static Outcome ok(std::string why) { return {true, std::move(why)}; }
    static Outcome fail(std::string why) { return {false, std::move(why)}; }
};

struct BatteryOptions {
    double renderSeconds = 0.5;   // per rate and block size
    bool progressMarkers = false; // "@check NAME" lines for a watching parent
};

struct Check {
    std::string name;
    std::function<Outcome()> run;
};

// The checks of one run, in order. Checks open their own instances.
std::vector<Check> batteryChecks(const ComponentRef& ref, Entry entry,
                                 const BatteryOptions& options);

// Runs the checks, printing one line each to out; answers how many failed.
int runBattery(const std::vector<Check>& checks, const BatteryOptions& options, FILE* out,
               std::vector<std::string>* failedNames);

} // namespace vxhost
