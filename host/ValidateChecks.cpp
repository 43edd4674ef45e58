// The validation battery in the order it runs; the checks themselves live in
// one file per family (ValidateFormats, ValidateParameters, ValidateRender,
// ValidateRequests).
#include "Validate.h"
#include "ValidateSupport.h"

#include <fmt/format.h>

namespace vxhost {

using namespace validate;

std::vector<Check> batteryChecks(const ComponentRef& ref, Entry entry,
                                 const BatteryOptions& options) {
    const double seconds = options.renderSeconds;
    std::vector<Check> checks = {
        {"open (cold)", [=] { return openTime(ref, entry, true); }},
        {"open (warm)", [=] { return openTime(ref, entry, false); }},
        {"required properties", [=] { return requiredProperties(ref, entry); }},
        {"default formats", [=] { return defaultFormats(ref, entry); }},
        {"initialize", [=] { return initializeDefault(ref, entry); }},
        {"channel configurations", [=] { return channelConfigurations(ref, entry); }},
        {"render every configuration", [=] { return renderEveryConfiguration(ref, entry); }},
        {"parameter info", [=] { return parameterInfo(ref, entry); }},
        {"parameter set/get", [=] { return parameterRoundTrips(ref, entry); }},
    };
    for (double rate : {44100.0, 48000.0, 96000.0})
        checks.push_back({fmt::format("render {:g} Hz", rate),
                          [=] { return renderGrid(ref, entry, rate, seconds); }});
    checks.push_back({"too many frames", [=] { return tooManyFrames(ref, entry); }});
    checks.push_back(
        {"32-frame slices with changes", [=] { return slicesWithChanges(ref, entry, seconds); }});
    checks.push_back({"bypass", [=] { return bypass(ref, entry); }});
    checks.push_back({"reset", [=] { return resetCheck(ref, entry, seconds); }});
    checks.push_back({"state save and restore", [=] { return stateSaveRestore(ref, entry); }});
    checks.push_back({"bad arguments", [=] { return badArguments(ref, entry); }});
    return checks;
}

} // namespace vxhost
