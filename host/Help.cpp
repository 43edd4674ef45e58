#include "Commands.h"

namespace vxhost {

namespace {

constexpr const char* kTool = R"(vxhost: a command-line Audio Unit host

usage: vxhost COMMAND [options]

commands:
  list       the components installed in the components folders
  info       a component: how it opened, its engine, parameters, latency, tail, channels
  render     an audio file (or the built-in test signal) through a component
  preset     save, load or show .aupreset files (ClassInfo documents)
  validate   the validation battery; exit status 0 only when every check passes
  export-lv2 an LV2 bundle that LV2 hosts load the component through
  help CMD   the options of one command

Every command that opens a component takes --component PATH|TYPE:SUB:MANU
(default: the installed VX-Delay, aufx:Dlay:Vxta) and --entry factory|cm.
Exit status: 0 success, 1 failure, 2 bad command line.
)";

constexpr const char* kList = R"(usage: vxhost list [--json]

Lists the components found in $HOME/Library/Audio/Plug-Ins/Components and
/Library/Audio/Plug-Ins/Components: codes, name, version and bundle.
)";

constexpr const char* kInfo =
    R"(usage: vxhost info [--component PATH|CODES] [--entry factory|cm] [--json]

Opens one instance and shows the component and how it was opened, the
product, the processor's instruction-set level, the modules the instance
loaded (the engine build), every parameter with its range, default and
current value, latency, tail and the supported channel configurations.
)";

constexpr const char* kRender = R"(usage: vxhost render [-i IN] -o OUT [options]

  -i, --input FILE         audio file to process (WAV, AIFF, FLAC, ... through
                           libsndfile); without it, a 2-second test signal
  -o, --output FILE        output (.wav, .aiff, .caf, .w64: 32-bit float; .flac:
                           24-bit); written only when the render succeeds
  --rate HZ                processing and output rate (default: the input's;
                           samples are not resampled)
  --block FRAMES           frames per render call (default 512)
  --channels 1|2           input channels given to the unit (default: the file's)
  --set ID=VALUE           set a parameter by ID or name; repeatable
  --preset FILE.aupreset   restore a preset before the --set values
  --offline                render in the unit's offline mode
  --tempo BPM              tempo the host reports (default 120)
  --tail SECONDS           render this much after the input instead of the
                           tail the unit reports
  --no-latency-compensation  keep the unit's latency in the output
  --quiet                  no summary
  --component, --entry     as for every command
)";

constexpr const char* kPreset = R"(usage:
  vxhost preset save OUT.aupreset [--name NAME] [--set ID=VALUE ...] [--component ..]
  vxhost preset load IN.aupreset [--component ..]   restore into a new instance and show
                                                    the parameter values it gives
  vxhost preset show IN.aupreset                    the document's contents, without
                                                    opening any component
)";

constexpr const char* kValidate =
    R"(usage: vxhost validate [--component PATH|CODES] [--entry factory|cm]
                       [--repeat N] [--out-of-process [--check-timeout SECONDS]]
                       [--quick]

Runs the validation battery: open time (cold and warm), required properties
and their sizes, default formats, channel configurations (advertised ones
accepted, others refused), parameter info and set/get round trips, rendering
noise at 44100, 48000 and 96000 Hz in blocks of 64, 137, 256, 512 and the
maximum (output checked for NaN, infinity and denormals), too many frames,
32-frame slices with parameter changes, bypass, reset, state save and
restore, and the status of bad requests. Each check prints PASS or FAIL with
its reason; the exit status is 0 only when all pass.

  --repeat N          run the battery N times on fresh instances
  --out-of-process    run the battery in a child process, so a crash in the
                      unit is reported as a failed check
  --check-timeout S   with --out-of-process: a check that takes longer than
                      S seconds (default 120) is reported as failed and the
                      child is stopped, so a unit that hangs cannot stall it
  --quick             render 0.1 s per rate and block size instead of 0.5 s
)";

constexpr const char* kExportLv2 =
    R"(usage: vxhost export-lv2 [--component PATH|CODES] --out DIR

Writes an LV2 bundle into DIR (made if missing; an earlier export there is
replaced): manifest.ttl, plugin.ttl and the bridge library, which opens the
component through the Audio Unit calls whenever an LV2 host instantiates it.
Each parameter becomes a control port, the latency an output port and the
bypass the lv2:enabled port; a stereo plug-in is described, and a mono-in
one too when the unit takes one input channel. Put DIR under a folder on
LV2_PATH (or in ~/.lv2) for hosts to find it; 'lv2ls' lists it.
)";

} // namespace

std::string helpText(const std::string& command) {
    if (command.empty())
        return kTool;
    if (command == "list")
        return kList;
    if (command == "info")
        return kInfo;
    if (command == "render")
        return kRender;
    if (command == "preset")
        return kPreset;
    if (command == "validate")
        return kValidate;
    if (command == "export-lv2")
        return kExportLv2;
    return {};
}

} // namespace vxhost
