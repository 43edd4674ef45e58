// Settings documents against pugixml: reading a settings script of about
// 1 MiB from memory and writing it to a file, against parsing and saving an
// XML document that holds the same groups and values (groups as elements,
// each value as an element with its type as an attribute and its elements as
// text, written the way the script writes them).
//
// Both sides handle the same content, so throughput is compared per
// document; the byte sizes of the two texts are shown as counters.
#include "Figures.h"

#include <NSVextra/Settings.h>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

namespace fs = std::filesystem;
using NSVextra::Settings;

namespace {

constexpr int kSections = 343;
constexpr int kChannels = 8;

// A document of kSections sections of kChannels channel groups, each with a
// mix of every value type, single and multi-element.
void buildDocument(Settings& doc) {
    doc.addHeadGroup("Root");
    for (int s = 0; s < kSections; ++s) {
        char section[32];
        std::snprintf(section, sizeof section, "Section%03d", s);
        doc.addGroup("/Root", section);
        const std::string sectionSpec = std::string("/Root/") + section;
        for (int c = 0; c < kChannels; ++c) {
            char channel[32];
            std::snprintf(channel, sizeof channel, "Channel%d", c);
            doc.addGroup(sectionSpec.c_str(), channel);
            const std::string spec = sectionSpec + "/" + channel;
            const char* g = spec.c_str();
            const int seed = s * kChannels + c;

            int rate = 44100 + seed;
            doc.addValue(g, "Rate");
            doc.storeValue(g, "Rate", Settings::kTypeInt, &rate, 1);
            unsigned flags[2] = {0xdeadbe00u + static_cast<unsigned>(seed), 0x10u};
            doc.addValue(g, "Flags");
            doc.storeValue(g, "Flags", Settings::kTypeUInt, flags, 2);
            unsigned long long frames = 1234567890123ULL + static_cast<unsigned long long>(seed);
            doc.addValue(g, "Frames");
            doc.storeValue(g, "Frames", Settings::kTypeUInt64, &frames, 1);
            float curve[12];
            for (int i = 0; i < 12; ++i)
                curve[i] = 0.125f * static_cast<float>(i) + 0.001f * static_cast<float>(seed);
            doc.addValue(g, "Curve");
            doc.storeValue(g, "Curve", Settings::kTypeFloat, curve, 12);
            double ratio[3] = {0.5 + seed, 1.0 / (seed + 3), -2.75};
            doc.addValue(g, "Ratio");
            doc.storeValue(g, "Ratio", Settings::kTypeDouble, ratio, 3);
            char label[64];
            std::snprintf(label, sizeof label, "Channel %d of section %d%c", c, s, '\0');
            doc.addValue(g, "Label");
            doc.storeValue(g, "Label", Settings::kTypeString, label, 1);
            const char tags[] = "input\0stereo, linked\0main\0";
            doc.addValue(g, "Tags");
            doc.storeValue(g, "Tags", Settings::kTypeString, const_cast<char*>(tags), 3);
        }
    }
}

// The same content as XML, built from the document itself.
void addGroupToXml(Settings& doc, Settings::GroupNode* group, pugi::xml_node parent) {
    for (Settings::GroupNode* g = group; g != nullptr; g = g->next) {
        pugi::xml_node node = parent.append_child(g->name.c_str());
        if (g->firstChild)
            addGroupToXml(doc, g->firstChild, node);
        for (Settings::PropNode* v = g->firstValue; v != nullptr; v = v->next) {
            pugi::xml_node value = node.append_child(v->name.c_str());
            value.append_attribute("type") = Settings::m_arDataTypeString[v->type];
            if (v->elems > 1)
                value.append_attribute("count") = v->elems;
            std::string text, element;
            for (int i = 0; i < v->elems; ++i) {
                doc.composeElemStr(v, i, element);
                if (i > 0)
                    text += ", ";
                text += element;
            }
            value.text().set(text.c_str());
        }
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fixture {
    fs::path folder;
    std::string script; // the settings script, as the writer wrote it
    std::string xml;    // the same content as XML, as pugixml saves it
    Settings doc;       // the document, for writing
    pugi::xml_document xmlDoc;

    Fixture() {
        folder = fs::temp_directory_path() /
                 ("vxbench-settings-" + std::to_string(static_cast<long>(::getpid())));
        fs::create_directories(folder);
        buildDocument(doc);
        doc.setFile((folder / "doc.txt").c_str());
        doc.commit();
        script = readFile(folder / "doc.txt");
        addGroupToXml(doc, doc.getHeadGroup(), xmlDoc);
        xmlDoc.save_file((folder / "doc.xml").c_str());
        xml = readFile(folder / "doc.xml");
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void SettingsRead(benchmark::State& state) {
    Fixture& f = fixture();
    Settings doc;
    std::vector<unsigned char> bytes(f.script.begin(), f.script.end());
    for (auto _ : state) {
        doc.releaseMemory();
        if (!doc.loadMemFile(bytes.data(), bytes.size())) {
            state.SkipWithError("the script did not read");
            return;
        }
        benchmark::DoNotOptimize(doc.getHeadGroup());
    }
    // The document read back must be the one written.
    int rate = 0;
    if (!doc.readValue("/Root/Section007/Channel3", "Rate", &rate) ||
        rate != 44100 + 7 * kChannels + 3)
        state.SkipWithError("the script read back differs");
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(bytes.size()));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void PugixmlParse(benchmark::State& state) {
    Fixture& f = fixture();
    pugi::xml_document doc;
    for (auto _ : state) {
        const pugi::xml_parse_result result = doc.load_buffer(f.xml.data(), f.xml.size());
        if (!result) {
            state.SkipWithError("the XML did not parse");
            return;
        }
        benchmark::DoNotOptimize(doc.first_child());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.xml.size()));
    state.counters["bytes"] = static_cast<double>(f.xml.size());
}

void SettingsWrite(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = (f.folder / "write.txt").string();
    f.doc.setFile(path.c_str());
    for (auto _ : state) {
        if (!f.doc.commit()) {
            state.SkipWithError("the script was not written");
            return;
        }
    }
    if (fs::file_size(path) != f.script.size())
        state.SkipWithError("the script written differs in size");
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.script.size()));
}

void PugixmlSave(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = (f.folder / "write.xml").string();
    for (auto _ : state) {
        if (!f.xmlDoc.save_file(path.c_str())) {
            state.SkipWithError("the XML was not saved");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.xml.size()));
}

BENCHMARK(SettingsRead)->Unit(benchmark::kMillisecond);
BENCHMARK(PugixmlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(SettingsWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(PugixmlSave)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Both sides free and rebuild whole documents in every iteration. With
    // the C library's defaults, whichever side happens to run after a large
    // free pays for the pages being handed back to the system and faulted in
    // again, which swings the parse times twentyfold depending on the order
    // of the runs. Keeping freed memory in the process takes that out of both.
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    vxbench::Figures figures;
    figures.add(vxbench::Ratio{"settings read: share of pugixml parse throughput", "SettingsRead",
                               "PugixmlParse", vxbench::Goal::AtLeast, 0.5, true});
    figures.add(vxbench::Ratio{"settings write: share of pugixml save throughput", "SettingsWrite",
                               "PugixmlSave", vxbench::Goal::AtLeast, 1.0, true});
    figures.add(vxbench::Reading{"settings script size (MiB)", [] {
                                     return static_cast<double>(fixture().script.size()) /
                                            (1024.0 * 1024.0);
                                 }});
    return figures.run(argc, argv);
}
