#include "Lv2Turtle.h"

#include <fmt/format.h>

#include <cctype>
#include <cmath>
#include <set>

namespace vxhost {

namespace {

constexpr const char* kPrefixes = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                  "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                  "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                                  "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                                  "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
                                  "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
                                  "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
                                  "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n\n";

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

// Decimal literals Turtle reads as xsd:decimal, never in exponent form.
std::string number(Float32 value) {
    if (!std::isfinite(value))
        value = 0;
    std::string text = fmt::format("{:.6f}", static_cast<double>(value));
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text += '0';
    return text;
}

std::string audioPort(UInt32 index, bool input, UInt32 channel, UInt32 channels) {
    const char* side = input ? "in" : "out";
    std::string name = input ? "Input" : "Output";
    if (channels == 2)
        name += channel == 0 ? " Left" : " Right";
    else if (channels > 2)
        name += fmt::format(" {}", channel + 1);
    return fmt::format("        a lv2:AudioPort , lv2:{}Port ;\n"
                       "        lv2:index {} ;\n"
                       "        lv2:symbol \"{}_{}\" ;\n"
                       "        lv2:name {}\n",
                       input ? "Input" : "Output", index, side, channel + 1, quoted(name));
}

std::string parameterPort(UInt32 index, const ParamInfo& p, const std::string& symbol) {
    std::string text = fmt::format("        a lv2:InputPort , lv2:ControlPort ;\n"
                                   "        lv2:index {} ;\n"
                                   "        lv2:symbol {} ;\n"
                                   "        lv2:name {} ;\n"
                                   "        lv2:default {} ;\n"
                                   "        lv2:minimum {} ;\n"
                                   "        lv2:maximum {}",
                                   index, quoted(symbol), quoted(p.name), number(p.def),
                                   number(p.min), number(p.max));
    if (p.unit == kAudioUnitParameterUnit_Boolean) {
        text += " ;\n        lv2:portProperty lv2:toggled";
    } else if (p.unit == kAudioUnitParameterUnit_Indexed) {
        text += " ;\n        lv2:portProperty lv2:integer";
        if (!p.valueStrings.empty()) {
            text += " , lv2:enumeration";
            for (size_t i = 0; i < p.valueStrings.size(); ++i)
                text +=
                    fmt::format(" ;\n        lv2:scalePoint [ rdfs:label {} ; rdf:value {} ]",
                                quoted(p.valueStrings[i]), number(p.min + static_cast<Float32>(i)));
        }
    }
    return text + "\n";
}

} // namespace

std::vector<std::string> parameterSymbols(const std::vector<ParamInfo>& params) {
    // The other ports' symbols, so a parameter never takes one of them.
    std::set<std::string> taken = {"latency", "enabled"};
    for (int c = 1; c <= 8; ++c) {
        taken.insert(fmt::format("in_{}", c));
        taken.insert(fmt::format("out_{}", c));
    }
    std::vector<std::string> symbols;
    for (const ParamInfo& p : params) {
        std::string s;
        for (unsigned char c : p.name) {
            if (std::isalnum(c) && c < 0x80)
                s += static_cast<char>(std::tolower(c));
            else if (!s.empty() && s.back() != '_')
                s += '_';
        }
        while (!s.empty() && s.back() == '_')
            s.pop_back();
        if (s.empty())
            s = "param";
        if (std::isdigit(static_cast<unsigned char>(s[0])))
            s = "p_" + s;
        if (taken.count(s))
            s += fmt::format("_{}", p.id);
        taken.insert(s);
        symbols.push_back(s);
    }
    return symbols;
}

std::string manifestTurtle(const Lv2Description& d, const std::string& pluginFile) {
    std::string text = kPrefixes;
    for (const Lv2Variant& v : d.variants)
        text += fmt::format("<{}>\n    a lv2:Plugin ;\n    lv2:binary <{}> ;\n"
                            "    rdfs:seeAlso <{}> .\n\n",
                            v.uri, d.binary, pluginFile);
    return text;
}

std::string pluginTurtle(const Lv2Description& d) {
    std::string text = kPrefixes;
    text.insert(0, "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n");
    const std::vector<std::string> symbols = parameterSymbols(d.parameters);
    const auto params = static_cast<UInt32>(d.parameters.size());
    for (const Lv2Variant& v : d.variants) {
        const Lv2Ports ports{v.inputs, v.outputs, params};
        std::string name = d.name;
        if (v.inputs == 1)
            name += " (mono in)";
        text += fmt::format("<{}>\n"
                            "    a lv2:Plugin ;\n"
                            "    doap:name {} ;\n"
                            "    lv2:microVersion {} ;\n"
                            "    lv2:minorVersion {} ;\n"
                            "    lv2:optionalFeature lv2:hardRTCapable , log:log , urid:map , "
                            "opts:options , bufsz:boundedBlockLength ;\n"
                            "    opts:supportedOption bufsz:maxBlockLength ;\n"
                            "    lv2:extensionData state:interface ;\n",
                            v.uri, quoted(name), d.version & 0xFF, (d.version >> 8) & 0xFF);
        std::vector<std::string> portTexts;
        for (UInt32 c = 0; c < v.inputs; ++c)
            portTexts.push_back(audioPort(c, true, c, v.inputs));
        for (UInt32 c = 0; c < v.outputs; ++c)
            portTexts.push_back(audioPort(ports.firstOutput() + c, false, c, v.outputs));
        for (UInt32 p = 0; p < params; ++p)
            portTexts.push_back(
                parameterPort(ports.firstParameter() + p, d.parameters[p], symbols[p]));
        portTexts.push_back(fmt::format("        a lv2:OutputPort , lv2:ControlPort ;\n"
                                        "        lv2:index {} ;\n"
                                        "        lv2:symbol \"latency\" ;\n"
                                        "        lv2:name \"Latency\" ;\n"
                                        "        lv2:designation lv2:latency ;\n"
                                        "        lv2:portProperty lv2:reportsLatency , "
                                        "lv2:integer\n",
                                        ports.latency()));
        portTexts.push_back(fmt::format("        a lv2:InputPort , lv2:ControlPort ;\n"
                                        "        lv2:index {} ;\n"
                                        "        lv2:symbol \"enabled\" ;\n"
                                        "        lv2:name \"Enabled\" ;\n"
                                        "        lv2:designation lv2:enabled ;\n"
                                        "        lv2:default 1 ;\n"
                                        "        lv2:minimum 0 ;\n"
                                        "        lv2:maximum 1 ;\n"
                                        "        lv2:portProperty lv2:toggled\n",
                                        ports.enabled()));
        text += "    lv2:port [\n";
        for (size_t i = 0; i < portTexts.size(); ++i)
            text += portTexts[i] + (i + 1 < portTexts.size() ? "    ] , [\n" : "    ] .\n\n");
    }
    return text;
}

} // namespace vxhost
