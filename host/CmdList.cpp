#include "Args.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "Json.h"

#include <fmt/format.h>

#include <cstdio>

namespace vxhost {

int runList(const Words& words) {
    const Args args("list", words, {{"--json", "", false, false}}, 0);
    const std::vector<ComponentRef> components = installedComponents();
    if (args.has("--json")) {
        JsonWriter json;
        json.beginArray();
        for (const ComponentRef& c : components) {
            json.beginObject();
            json.string("codes", codesText(c.desc));
            json.string("type", fourCC(c.desc.componentType));
            json.string("subtype", fourCC(c.desc.componentSubType));
            json.string("manufacturer", fourCC(c.desc.componentManufacturer));
            json.string("name", c.name);
            json.string("version", versionText(c.version));
            json.string("bundle", c.bundlePath);
            json.endObject();
        }
        json.endArray();
        std::fputs((json.text() + "\n").c_str(), stdout);
        return 0;
    }
    if (components.empty()) {
        std::puts("no components installed in $HOME/Library/Audio/Plug-Ins/Components or "
                  "/Library/Audio/Plug-Ins/Components");
        return 0;
    }
    for (const ComponentRef& c : components)
        std::fputs(fmt::format("{}  {:<32} {:>8}  {}\n", codesText(c.desc), c.name,
                               versionText(c.version), c.bundlePath)
                       .c_str(),
                   stdout);
    return 0;
}

} // namespace vxhost
