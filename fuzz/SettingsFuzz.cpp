#include "SettingsFuzz.h"

#include "FuzzSupport.h"

#include <NSVextra/Settings.h>

#include <vector>

namespace settingsfuzz {

namespace {

using NSVextra::Settings;

// Numbers written as decimal text with six decimals do not come back bit
// for bit, so a saved-and-reloaded float or double is compared by shape only.
void checkSameValue(const Settings::PropNode* a, const Settings::PropNode* b, bool exactNumbers) {
    FUZZ_CHECK(a->name == b->name);
    FUZZ_CHECK(a->type == b->type);
    FUZZ_CHECK(a->elems == b->elems);
    FUZZ_CHECK(a->size == b->size);
    FUZZ_CHECK((a->data == nullptr) == (b->data == nullptr));
    const bool inexact = a->type == Settings::kTypeFloat || a->type == Settings::kTypeDouble;
    if (a->data && (exactNumbers || !inexact))
        FUZZ_CHECK(std::memcmp(a->data, b->data, static_cast<size_t>(a->size)) == 0);
}

void checkSameGroups(const Settings::GroupNode* a, const Settings::GroupNode* b,
                     bool exactNumbers) {
    for (; a && b; a = a->next, b = b->next) {
        FUZZ_CHECK(a->name == b->name);
        const Settings::PropNode* va = a->firstValue;
        const Settings::PropNode* vb = b->firstValue;
        for (; va && vb; va = va->next, vb = vb->next)
            checkSameValue(va, vb, exactNumbers);
        FUZZ_CHECK(va == nullptr && vb == nullptr);
        checkSameGroups(a->firstChild, b->firstChild, exactNumbers);
    }
    FUZZ_CHECK(a == nullptr && b == nullptr);
}

// Every value's bytes hold what its type and element count promise.
void checkValueShapes(const Settings::GroupNode* g) {
    for (; g; g = g->next) {
        for (const Settings::PropNode* v = g->firstValue; v; v = v->next) {
            FUZZ_CHECK(v->type >= 0 && v->type <= 5);
            FUZZ_CHECK(v->elems >= 0 && v->elems <= Settings::kMaxElems);
            FUZZ_CHECK(v->size >= 0);
            if (v->size > 0)
                FUZZ_CHECK(v->data != nullptr);
            switch (v->type) {
            case Settings::kTypeInt:
            case Settings::kTypeUInt:
            case Settings::kTypeFloat:
                FUZZ_CHECK(v->size == 4 * v->elems);
                break;
            case Settings::kTypeUInt64:
            case Settings::kTypeDouble:
                FUZZ_CHECK(v->size == 8 * v->elems);
                break;
            default: {
                // A packed string array: elems texts, each ending in a zero,
                // then one more zero.
                if (v->elems == 0)
                    break;
                const char* p = static_cast<const char*>(v->data);
                int zeros = 0;
                for (int i = 0; i < v->size; ++i)
                    zeros += p[i] == '\0';
                FUZZ_CHECK(v->size >= 2 && p[v->size - 1] == '\0' && p[v->size - 2] == '\0');
                FUZZ_CHECK(zeros == v->elems + 1);
                break;
            }
            }
        }
        checkValueShapes(g->firstChild);
    }
}

// The script cannot carry a group inside a group of the same name: the inner
// closing tag ends the outer group. The reader still builds such trees from
// some texts, and they do not survive a save, so they are not compared.
bool nestsSameName(const Settings::GroupNode* g, std::vector<const std::string*>& outer) {
    for (; g; g = g->next) {
        for (const std::string* name : outer)
            if (*name == g->name)
                return true;
        outer.push_back(&g->name);
        const bool nested = nestsSameName(g->firstChild, outer);
        outer.pop_back();
        if (nested)
            return true;
    }
    return false;
}

// Exercises the lookups along every path the tree offers. Lookups find the
// first of several siblings that share a name, so only those are reachable.
void walkLookups(Settings& doc, const Settings::GroupNode* list, const std::string& spec) {
    for (const Settings::GroupNode* g = list; g; g = g->next) {
        if (g->name.find('/') != std::string::npos)
            continue; // no path reaches it
        bool first = true;
        for (const Settings::GroupNode* before = list; before != g; before = before->next)
            first = first && before->name != g->name;
        if (!first)
            continue;
        const std::string path = spec + "/" + g->name;
        FUZZ_CHECK(doc.getGroupNodeBySpec(path.c_str()) == g);
        std::vector<std::string> names;
        doc.listValSubkeys(path, names);
        for (const std::string& name : names) {
            const int size = doc.getValueSizeBytes(path.c_str(), name.c_str());
            std::vector<unsigned char> out(static_cast<size_t>(size) + 1);
            FUZZ_CHECK(doc.readValue(path.c_str(), name.c_str(), out.data()));
            std::string text;
            FUZZ_CHECK(doc.readValString(path.c_str(), name.c_str(), text));
        }
        for (const char* sub = doc.getNextSubGroup(path.c_str(), true); sub;
             sub = doc.getNextSubGroup(path.c_str(), false)) {
        }
        walkLookups(doc, g->firstChild, path);
    }
}

} // namespace

int run(const uint8_t* data, size_t size, bool scrambled) {
    const std::string& dir = fuzzsupport::scratchDir();
    const std::string file = dir + (scrambled ? "/doc.esf" : "/doc.txt");
    std::vector<unsigned char> bytes(data, data + size);

    Settings byLoad;
    byLoad.setFile(file.c_str());
    FUZZ_CHECK(byLoad.isScrambled() == scrambled);
    const bool loaded = byLoad.loadMemFile(bytes.data(), bytes.size());
    FUZZ_CHECK(loaded == byLoad.isLoaded());
    FUZZ_CHECK(loaded == (byLoad.getHeadGroup() != nullptr));
    // The caller's block is only copied.
    FUZZ_CHECK(bytes.empty() || std::memcmp(bytes.data(), data, size) == 0);

    Settings byParse;
    byParse.setFile(file.c_str());
    FUZZ_CHECK(byParse.loadScriptFromMem(bytes.data(), bytes.size()));
    const bool parsed = byParse.parseScript();
    FUZZ_CHECK(parsed == loaded);
    checkSameGroups(byLoad.getHeadGroup(), byParse.getHeadGroup(), true);
    if (!loaded)
        return 0;

    checkValueShapes(byLoad.getHeadGroup());
    walkLookups(byLoad, byLoad.getHeadGroup(), "");

    // Save and load back.
    FUZZ_CHECK(byLoad.commit());
    Settings reread;
    reread.setFile(file.c_str());
    FUZZ_CHECK(reread.loadFile());
    std::vector<const std::string*> outer;
    if (!nestsSameName(byLoad.getHeadGroup(), outer))
        checkSameGroups(byLoad.getHeadGroup(), reread.getHeadGroup(), false);
    return 0;
}

} // namespace settingsfuzz
