// The subcommands of vxhost. Each takes the words after its name and answers
// the process exit status; errors are thrown as HostError.
#pragma once

#include <string>
#include <vector>

namespace vxhost {

using Words = std::vector<std::string>;

int runList(const Words& words);
int runInfo(const Words& words);
int runRender(const Words& words);
int runPreset(const Words& words);
int runValidate(const Words& words, const char* argv0);
int runExportLv2(const Words& words);

// The help text of one subcommand, or of the tool for an empty name; empty
// for an unknown name.
std::string helpText(const std::string& command);

} // namespace vxhost
