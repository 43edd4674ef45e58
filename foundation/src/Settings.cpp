// Settings document: tree memory, path lookups and edits.
#include "NSVextra/Settings.h"
#include "SettingsInternals.h"

#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/StringUtils.h"

#include <cstdlib>
#include <cstring>

namespace NSVextra {

const char Settings::m_arDataTypeString[6][20] = {"int",   "uint",   "uint64",
                                                  "float", "double", "string"};

namespace {

int elementWidth(int type) {
    switch (type) {
    case Settings::kTypeInt:
    case Settings::kTypeUInt:
    case Settings::kTypeFloat:
        return 4;
    case Settings::kTypeUInt64:
    case Settings::kTypeDouble:
        return 8;
    default:
        return 0;
    }
}

bool hasAnyOf(const char* text, const char* set) {
    return std::strpbrk(text, set) != nullptr;
}

} // namespace

Settings::Settings() : m_pInternals(std::make_unique<Internals>()) {}

Settings::~Settings() {
    releaseMemory();
    if (m_pTextBuf != nullptr) {
        DBG_ERROR(0, "data buffer != null [%s]", m_strFile.c_str());
        freeTextBuffer();
    }
    if (m_outFile.is_open()) {
        m_outFile.close();
    }
}

// ---- tree memory ----

void Settings::releaseValueChain(PropNode* value) {
    while (value != nullptr) {
        PropNode* next = value->next;
        std::free(value->data);
        m_pInternals->valuePool.destroy(value);
        value = next;
    }
}

void Settings::releaseGroupChain(GroupNode* node) {
    // Siblings iteratively, depth by recursion: sibling lists may be long,
    // while nesting stays shallow.
    while (node != nullptr) {
        GroupNode* next = node->next;
        releaseGroupChain(node->firstChild);
        releaseValueChain(node->firstValue);
        m_pInternals->groupPool.destroy(node);
        node = next;
    }
}

void Settings::releaseMemGrpNode(GroupNode* node) {
    if (node == nullptr) {
        return;
    }
    m_pInternals->forgetParseTail();
    releaseGroupChain(node->firstChild);
    releaseGroupChain(node->next);
    releaseValueChain(node->firstValue);
    node->firstChild = nullptr;
    node->next = nullptr;
    node->firstValue = nullptr;
}

void Settings::releaseMemPropNode(PropNode* node) {
    if (node == nullptr) {
        return;
    }
    m_pInternals->forgetParseTail();
    releaseValueChain(node->next);
    std::free(node->data);
    node->next = nullptr;
    node->data = nullptr;
    node->size = 0;
}

void Settings::releaseMemory() {
    if (m_pGrpHeadNode != nullptr) {
        releaseMemGrpNode(m_pGrpHeadNode);
        m_pInternals->groupPool.destroy(m_pGrpHeadNode);
        m_pGrpHeadNode = nullptr;
    }
    m_pParseCursor = nullptr;
    m_pSubGroupCursor = nullptr;
    m_pInternals->forgetParseTail();
}

void Settings::initGroupNode(GroupNode* node) {
    if (node == nullptr) {
        return;
    }
    m_pInternals->forgetParseTail();
    node->name.clear();
    node->next = nullptr;
    node->firstChild = nullptr;
    node->firstValue = nullptr;
}

void Settings::initPropNode(PropNode* node) {
    if (node == nullptr) {
        return;
    }
    m_pInternals->forgetParseTail();
    node->name.clear();
    node->data = nullptr;
    node->size = 0;
    node->elems = 0;
    node->type = kTypeString;
    node->next = nullptr;
}

// ---- lookups ----

Settings::GroupNode* Settings::findGroupIn(GroupNode* list, const char* name, size_t len) {
    for (GroupNode* g = list; g != nullptr; g = g->next) {
        if (g->name.size() == len && std::memcmp(g->name.data(), name, len) == 0) {
            return g;
        }
    }
    return nullptr;
}

Settings::GroupNode* Settings::getGroupNodeBySpec(const char* spec) {
    if (spec == nullptr) {
        return nullptr;
    }
    const char* p = std::strchr(spec, '/');
    if (p == nullptr) {
        return nullptr;
    }
    GroupNode* list = m_pGrpHeadNode;
    GroupNode* found = nullptr;
    while (p != nullptr) {
        const char* component = p + 1;
        const char* slash = std::strchr(component, '/');
        const size_t len =
            slash != nullptr ? static_cast<size_t>(slash - component) : std::strlen(component);
        found = findGroupIn(list, component, len);
        if (found == nullptr) {
            return nullptr;
        }
        list = found->firstChild;
        p = slash;
    }
    return found;
}

Settings::PropNode* Settings::getPropNodeBySpec(const char* spec, const char* name) {
    GroupNode* group = getGroupNodeBySpec(spec);
    if (group == nullptr || name == nullptr) {
        return nullptr;
    }
    for (PropNode* v = group->firstValue; v != nullptr; v = v->next) {
        if (strmatch(v->name.c_str(), name)) {
            return v;
        }
    }
    return nullptr;
}

bool Settings::groupExists(const char* spec) {
    return getGroupNodeBySpec(spec) != nullptr;
}

bool Settings::valueExists(const char* spec, const char* name) {
    return getPropNodeBySpec(spec, name) != nullptr;
}

int Settings::getValueType(const char* spec, const char* name) {
    PropNode* v = getPropNodeBySpec(spec, name);
    return v != nullptr ? v->type : kTypeString;
}

int Settings::getValueElems(const char* spec, const char* name) {
    PropNode* v = getPropNodeBySpec(spec, name);
    return v != nullptr ? v->elems : 0;
}

int Settings::getValueSizeBytes(const char* spec, const char* name) {
    PropNode* v = getPropNodeBySpec(spec, name);
    return v != nullptr ? v->size : 0;
}

void* Settings::getValueBuf(const char* spec, const char* name) {
    PropNode* v = getPropNodeBySpec(spec, name);
    return v != nullptr ? v->data : nullptr;
}

bool Settings::readValue(const char* spec, const char* name, void* out) {
    PropNode* v = getPropNodeBySpec(spec, name);
    if (v == nullptr) {
        return false;
    }
    if (v->size > 0 && v->data != nullptr && out != nullptr) {
        std::memcpy(out, v->data, static_cast<size_t>(v->size));
    }
    return true;
}

bool Settings::readValString(const char* spec, const char* name, std::string& out) {
    PropNode* v = getPropNodeBySpec(spec, name);
    if (v == nullptr) {
        return false;
    }
    if (v->data == nullptr || v->size <= 0) {
        out.clear();
        return true;
    }
    const char* text = static_cast<const char*>(v->data);
    const void* zero = std::memchr(text, '\0', static_cast<size_t>(v->size));
    const size_t len = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text)
                                       : static_cast<size_t>(v->size);
    out.assign(text, len);
    return true;
}

const char* Settings::getNextSubGroup(const char* spec, bool first) {
    GroupNode* group = getGroupNodeBySpec(spec);
    if (group == nullptr) {
        return nullptr;
    }
    if (first) {
        m_pSubGroupCursor = group->firstChild;
    } else if (m_pSubGroupCursor != nullptr) {
        m_pSubGroupCursor = m_pSubGroupCursor->next;
    }
    return m_pSubGroupCursor != nullptr ? m_pSubGroupCursor->name.c_str() : nullptr;
}

bool Settings::listValSubkeys(const std::string& spec, std::vector<std::string>& names) {
    GroupNode* group = getGroupNodeBySpec(spec.c_str());
    if (group == nullptr || group->firstValue == nullptr) {
        return false;
    }
    for (PropNode* v = group->firstValue; v != nullptr; v = v->next) {
        names.push_back(v->name);
    }
    return true;
}

// ---- edits ----

bool Settings::validGroupName(const char* name) {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxGroupName) {
        return false;
    }
    return !hasAnyOf(name, "<>:/");
}

bool Settings::validValueName(const char* name) {
    if (name == nullptr || name[0] == '/') {
        return false;
    }
    // Room for "[49]" behind the name, which the writer adds for arrays.
    if (std::strlen(name) + 4 > kMaxValueLabel) {
        return false;
    }
    return !hasAnyOf(name, "<>:[]");
}

bool Settings::addHeadGroup(const char* name) {
    if (m_pGrpHeadNode != nullptr || !validGroupName(name)) {
        return false;
    }
    m_pGrpHeadNode = m_pInternals->groupPool.make();
    m_pGrpHeadNode->name = name;
    return true;
}

bool Settings::addGroup(const char* parentSpec, const char* name) {
    GroupNode* parent = getGroupNodeBySpec(parentSpec);
    if (parent == nullptr || !validGroupName(name)) {
        return false;
    }
    // The reader ends a group at the first closing tag of its name, so no
    // group may sit inside a group of the same name.
    for (const char* p = std::strchr(parentSpec, '/'); p != nullptr;) {
        const char* component = p + 1;
        const char* slash = std::strchr(component, '/');
        const size_t len =
            slash != nullptr ? static_cast<size_t>(slash - component) : std::strlen(component);
        if (len == std::strlen(name) && std::memcmp(component, name, len) == 0) {
            return false;
        }
        p = slash;
    }
    auto* group = m_pInternals->groupPool.make();
    group->name = name;
    GroupNode** link = &parent->firstChild;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = group;
    m_bModified = true;
    return true;
}

bool Settings::checkAddGroup(const char* parentSpec, const char* name) {
    if (parentSpec == nullptr || name == nullptr) {
        return false;
    }
    const std::string path = std::string(parentSpec) + "/" + name;
    if (getGroupNodeBySpec(path.c_str()) != nullptr) {
        return true;
    }
    return addGroup(parentSpec, name);
}

bool Settings::addValue(const char* spec, const char* name) {
    GroupNode* group = getGroupNodeBySpec(spec);
    if (group == nullptr || !validValueName(name)) {
        return false;
    }
    auto* value = m_pInternals->valuePool.make();
    value->name = name;
    PropNode** link = &group->firstValue;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = value;
    m_bModified = true;
    return true;
}

bool Settings::checkAddValue(const char* spec, const char* name) {
    if (getPropNodeBySpec(spec, name) != nullptr) {
        return true;
    }
    return addValue(spec, name);
}

bool Settings::storeValue(const char* spec, const char* name, int type, void* data, int elems) {
    PropNode* value = getPropNodeBySpec(spec, name);
    if (value == nullptr || type < kTypeInt || type > kTypeString || elems < 0 ||
        elems > kMaxElems || (elems > 0 && data == nullptr)) {
        return false;
    }
    size_t newSize = 0;
    if (type == kTypeString) {
        // The stored array always holds exactly `elems` strings and its
        // closing zero, so every element can be found again by position.
        const char* p = static_cast<const char*>(data);
        for (int i = 0; i < elems; ++i) {
            const size_t len = std::strlen(p);
            if (len + 2 > static_cast<size_t>(kMaxElemText) || hasAnyOf(p, "\"<>")) {
                return false;
            }
            p += len + 1;
        }
        newSize = elems > 0 ? static_cast<size_t>(p - static_cast<const char*>(data)) + 1 : 0;
    } else {
        newSize = static_cast<size_t>(elems) * static_cast<size_t>(elementWidth(type));
    }

    void* block = nullptr;
    if (newSize > 0) {
        block = std::malloc(newSize);
        if (block == nullptr) {
            return false;
        }
        std::memcpy(block, data, newSize - (type == kTypeString ? 1 : 0));
        if (type == kTypeString) {
            static_cast<char*>(block)[newSize - 1] = '\0';
        }
    }

    const bool same = value->type == type && value->elems == elems &&
                      static_cast<size_t>(value->size) == newSize &&
                      (newSize == 0 || std::memcmp(value->data, block, newSize) == 0);
    m_bModified = !same;

    std::free(value->data);
    value->data = block;
    value->size = static_cast<int>(newSize);
    value->type = type;
    value->elems = elems;
    return true;
}

bool Settings::replaceValueName(const char* spec, const char* oldName, const char* newName) {
    PropNode* value = getPropNodeBySpec(spec, oldName);
    if (value == nullptr || !validValueName(newName)) {
        return false;
    }
    value->name = newName;
    return true;
}

} // namespace NSVextra
