// A settings document: a tree of named groups holding named, typed values,
// stored as a small tagged text script, optionally scrambled on disk.
//
// Groups are addressed by slash-separated paths: text before the first "/"
// is ignored, the first component names the head group itself and each
// further one a sub-group of the previous one ("/Root/Audio/Input").
//
// Script layout (one tag per group or value, tab indented):
//
//     <Root>
//         <Audio>
//             <Rate: 48000, int>
//             <Gains[3]: 1.0, 0.5, 0.25, float>
//             <Name: "Main", string>
//         </Audio>
//     </Root>
//
// A document is used by one thread at a time; it takes no lock.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace NSVextra {

class Settings {
public:
    struct PropNode;

    struct GroupNode {
        std::string name;
        GroupNode* next = nullptr;       // following sibling
        GroupNode* firstChild = nullptr; // first sub-group
        PropNode* firstValue = nullptr;
    };

    struct PropNode {
        std::string name;
        void* data = nullptr; // malloc'ed, owned by the node
        int size = 0;         // bytes
        int elems = 0;
        int type = kTypeString;
        PropNode* next = nullptr;
    };

    enum DataType : int {
        kTypeInt = 0,    // int32, decimal
        kTypeUInt = 1,   // uint32, "0x" + lowercase hexadecimal
        kTypeUInt64 = 2, // uint64, decimal
        kTypeFloat = 3,  // float, fixed point
        kTypeDouble = 4, // double, fixed point
        kTypeString = 5, // packed string array, quoted
    };

    // Type names by code, as written in the script.
    static const char m_arDataTypeString[6][20];

    // Limits of names and texts. The reader refuses items beyond them and the
    // edits refuse to create anything the reader would refuse, so whatever a
    // document holds can be written and read back.
    static constexpr int kMaxGroupName = 246;
    static constexpr int kMaxValueLabel = 249; // value name plus "[count]"
    static constexpr int kMaxCountText = 49;
    static constexpr int kMaxTypeText = 49;
    static constexpr int kMaxElemText = 4999;
    static constexpr int kMaxElems = 49;
    // Nesting beyond this depth is treated as an unreadable item; it keeps the
    // recursive reader's stack use bounded on hostile input.
    static constexpr int kMaxDepth = 200;

    Settings();
    ~Settings();

    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // ---- tree memory ----
    void releaseMemory();
    // Release everything reachable from the node, not the node itself.
    void releaseMemGrpNode(GroupNode* node);
    void releaseMemPropNode(PropNode* node);
    void initGroupNode(GroupNode* node);
    void initPropNode(PropNode* node);

    // ---- script reading and writing ----
    // Parses the text buffer filled by loadScriptFromMem. When it holds a
    // readable head group, that group replaces the document's tree; otherwise
    // the tree is left as it was and the result is false.
    bool parseScript();
    // Reads the next tag at or after `text` inside `parent` (null at the top
    // level); returns the position behind what it consumed, or null.
    char* parseTag(char* text, GroupNode* parent);
    // Reads one value tag; `text` points just behind its "<".
    bool parseValue(char* text, int unused, GroupNode* group);
    int parseDataType(const char* name);

    // Writes the document to the file path (scrambled when the path marks the
    // file as scrambled). The file is replaced only once the new text has been
    // written completely, so a failed save leaves the previous file intact;
    // when no file can be made beside it, it is rewritten in place. A file
    // that may not be written is left alone and the result is false.
    bool composeToScript();
    bool composeGrpNodeToScript(GroupNode* node, int depth);
    bool composePropNodeToScript(PropNode* node, int depth);
    void composeElemStr(PropNode* node, int index, std::string& out);

    // ---- lookups ----
    GroupNode* getGroupNodeBySpec(const char* spec);
    PropNode* getPropNodeBySpec(const char* spec, const char* name);
    bool groupExists(const char* spec);
    bool valueExists(const char* spec, const char* name);
    int getValueType(const char* spec, const char* name);
    int getValueElems(const char* spec, const char* name);
    int getValueSizeBytes(const char* spec, const char* name);
    void* getValueBuf(const char* spec, const char* name);
    bool readValue(const char* spec, const char* name, void* out);
    bool readValString(const char* spec, const char* name, std::string& out);
    const char* getNextSubGroup(const char* spec, bool first);
    bool listValSubkeys(const std::string& spec, std::vector<std::string>& names);

    // ---- edits ----
    // Names are refused (false) when the script could not carry them: empty
    // or over-long names, names holding "<", ">", ":" or "/" (groups), or
    // "<", ">", ":", "[", "]" or a leading "/" (values), and a group named
    // like one of its ancestors (its closing tag would end the outer group).
    bool addHeadGroup(const char* name);
    bool addGroup(const char* parentSpec, const char* name);
    bool checkAddGroup(const char* parentSpec, const char* name);
    bool addValue(const char* spec, const char* name);
    bool checkAddValue(const char* spec, const char* name);
    // Replaces type, element count and bytes of an existing value. Numbers
    // take elems * 4 or * 8 bytes from `data`; strings take a packed string
    // array. Refused: unknown type codes, more than kMaxElems elements, and
    // strings holding a double quote, "<" or ">" or over-long element texts.
    bool storeValue(const char* spec, const char* name, int type, void* data, int elems);
    bool replaceValueName(const char* spec, const char* oldName, const char* newName);

    // ---- files ----
    // Sets the file path; a path containing ".esf" marks the file as scrambled.
    void setFile(const char* path);
    bool loadFile();
    bool loadMemFile(unsigned char* data, unsigned long long size);
    bool loadScriptFromMem(unsigned char* data, unsigned long long size);
    bool commit();

    // ---- state ----
    const std::string& getFile() const { return m_strFile; }
    bool isScrambled() const { return m_bScrambled; }
    bool isLoaded() const { return m_bLoaded; }
    bool isModified() const { return m_bModified; }
    GroupNode* getHeadGroup() const { return m_pGrpHeadNode; }

protected:
    // Parses the zero-terminated text buffer; see parseScript.
    bool parseText();
    // Parses the loaded text buffer, then frees it; sets the loaded flag and
    // logs a failed parse.
    bool parseLoadedText();
    void freeTextBuffer();
    // Copies (and unscrambles) a block into a new text buffer.
    bool fillTextBuffer(const unsigned char* data, unsigned long long size);

    char* m_pTextBuf = nullptr;
    unsigned long long m_nTextSize = 0;
    std::string m_strFile;
    std::ofstream m_outFile;
    bool m_bScrambled = false;
    bool m_bLoaded = false;
    bool m_bModified = false;
    GroupNode* m_pGrpHeadNode = nullptr;
    GroupNode* m_pParseCursor = nullptr;
    GroupNode* m_pSubGroupCursor = nullptr;

private:
    enum class WriteResult { NotOpened, Failed, Done };
    // Writes the composed script to `path`, created or truncated.
    WriteResult writeScriptTo(const std::string& path);
    // parseValue with the tag's closing ">" and its first ":" already found.
    bool parseValueTag(char* text, char* end, char* colon, GroupNode* group);

    static bool validGroupName(const char* name);
    static bool validValueName(const char* name);
    GroupNode* findGroupIn(GroupNode* list, const char* name, size_t len);
    void releaseGroupChain(GroupNode* node);
    void releaseValueChain(PropNode* value);

    // Node pools and the reader's and composer's working state.
    struct Internals;
    std::unique_ptr<Internals> m_pInternals;
};

} // namespace NSVextra
