// Group paths, lookups, edits and the modified flag.
#include "support.h"

using namespace NSVextra;

TEST(SettingsTree, PathsEditsTheModifiedFlagAndRefusals) {
    Settings doc;
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root"), nullptr); // empty document
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    EXPECT_FALSE(doc.isModified()); // the head group alone does not count
    EXPECT_FALSE(doc.addHeadGroup("Second") || doc.addGroup("/Nope", "X") || doc.isModified());
    ASSERT_TRUE(doc.addGroup("/Root", "Audio") && doc.addGroup("/Root/Audio", "Input"));
    EXPECT_TRUE(doc.isModified());
    // Paths name groups from the head down; text before the first "/" is ignored.
    using Groups = std::vector<Settings::GroupNode*>;
    Settings::GroupNode* head = doc.getHeadGroup();
    Groups found{doc.getGroupNodeBySpec("/Root"), doc.getGroupNodeBySpec("/Root/Audio/Input"),
                 doc.getGroupNodeBySpec("ignored/Root/Audio"), doc.getGroupNodeBySpec(nullptr)};
    for (const char* bad : {"Root", "Root/Audio", "/Root/Missing", "/Root/", "/Root//Audio"})
        found.push_back(doc.getGroupNodeBySpec(bad));
    EXPECT_EQ(found, (Groups{head, head->firstChild->firstChild, head->firstChild, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr}));
    EXPECT_TRUE(doc.checkAddGroup("/Root", "Audio")); // exists: nothing new
    EXPECT_TRUE(doc.checkAddGroup("/Root", "B"));
    const char* next[] = {doc.getNextSubGroup("/Root", true), doc.getNextSubGroup("/Root", false),
                          doc.getNextSubGroup("/Root", false),
                          doc.getNextSubGroup("/Root/Audio/Input", true)};
    EXPECT_EQ(fmt::format("{} {} {} {}", next[0], next[1], next[2] == nullptr, next[3] == nullptr),
              "Audio B true true");

    int v = 5, w = 6;
    EXPECT_FALSE(doc.storeValue("/Root", "n", Settings::kTypeInt, &v, 1)); // not added yet
    ASSERT_TRUE(doc.addValue("/Root", "n"));
    EXPECT_EQ(doc.getValueType("/Root", "n") * 10 + doc.getValueElems("/Root", "n"),
              Settings::kTypeString * 10);
    // The same bytes again are no change; the same bytes of another type are.
    std::string modified;
    for (auto [type, data] : {std::pair{Settings::kTypeInt, &v},
                              {Settings::kTypeInt, &v},
                              {Settings::kTypeInt, &w},
                              {Settings::kTypeUInt, &w}}) {
        ASSERT_TRUE(doc.storeValue("/Root", "n", type, data, 1));
        modified += doc.isModified() ? "1" : "0";
    }
    EXPECT_EQ(modified, "1011");
    EXPECT_TRUE(doc.checkAddValue("/Root", "n"));
    std::vector<std::string> names{"pre"};
    EXPECT_TRUE(doc.listValSubkeys("/Root", names) && !doc.listValSubkeys("/Root/B", names));
    EXPECT_EQ(names, (std::vector<std::string>{"pre", "n"}));
    unsigned int read = 0;
    ASSERT_TRUE(doc.replaceValueName("/Root", "n", "renamed"));
    EXPECT_TRUE(!doc.valueExists("/Root", "n") && doc.readValue("/Root", "renamed", &read));
    EXPECT_EQ(read, 6u);
    EXPECT_FALSE(doc.replaceValueName("/Root", "n", "x"));

    // Of two values with one name the first is found.
    doc.addValue("/Root/B", "x");
    doc.addValue("/Root/B", "x");
    ASSERT_TRUE(doc.storeValue("/Root/B", "x", Settings::kTypeInt, &v, 1));
    EXPECT_EQ(doc.getPropNodeBySpec("/Root/B", "x")->next->elems, 0);

    std::vector<int> codes;
    for (const char* type : {"int", "uint", "uint64", "float", "double", "string", "Int"})
        codes.push_back(doc.parseDataType(type));
    EXPECT_EQ(codes, (std::vector<int>{0, 1, 2, 3, 4, 5, Settings::kTypeString}));

    // Strings: packed, an empty element between others keeping its place.
    doc.releaseMemory();
    ASSERT_TRUE(doc.addHeadGroup("R") && doc.addValue("/R", "s"));
    char two[] = "alpha\0beta\0", gap[] = "a\0\0c\0";
    std::string text, elems;
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, two, 2));
    EXPECT_TRUE(doc.getValueSizeBytes("/R", "s") == 12 && doc.readValString("/R", "s", text));
    EXPECT_EQ(text, "alpha");
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, gap, 3));
    EXPECT_EQ(doc.getValueSizeBytes("/R", "s"), 6);
    for (int index = 1; index <= 3; ++index) {
        doc.composeElemStr(doc.getPropNodeBySpec("/R", "s"), index, text);
        elems += text + "|";
    }
    EXPECT_EQ(elems, "\"\"|\"c\"||");
    // Edits refuse what the script cannot carry.
    doc.releaseMemory();
    for (const std::string& bad :
         std::vector<std::string>{"", "a:b", std::string(Settings::kMaxGroupName + 1, 'g')})
        EXPECT_FALSE(doc.addHeadGroup(bad.c_str())) << bad;
    ASSERT_TRUE(doc.addHeadGroup(std::string(Settings::kMaxGroupName, 'g').c_str()));
    doc.releaseMemory();
    ASSERT_TRUE(doc.addHeadGroup("Root") && doc.addGroup("/Root", "A"));
    // A group inside a group of the same name would end its parent early.
    for (const char* bad : {"x/y", "<x", "x>", "k:v", ""})
        EXPECT_FALSE(doc.addGroup("/Root", bad)) << bad;
    EXPECT_FALSE(doc.addGroup("/Root/A", "A") || doc.addGroup("/Root/A", "Root"));
    EXPECT_TRUE(doc.addGroup("/Root/A", "AB"));
    // Room for "[49]" behind the longest value name.
    const std::string longest(Settings::kMaxValueLabel - 4, 'v');
    for (const std::string& bad :
         std::vector<std::string>{"/v", "a:b", "a[2]", "x>", "<x", longest + "v"})
        EXPECT_FALSE(doc.addValue("/Root", bad.c_str())) << bad;
    ASSERT_TRUE(doc.addValue("/Root", longest.c_str()) && doc.addValue("/Root", "v"));
    EXPECT_FALSE(doc.replaceValueName("/Root", "v", "bad:name"));

    int many[Settings::kMaxElems + 1] = {};
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems + 1));
    EXPECT_TRUE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems));
    EXPECT_FALSE(doc.storeValue("/Root", "v", 6, many, 1) ||
                 doc.storeValue("/Root", "v", -1, many, 1) ||
                 doc.storeValue("/Root", "v", Settings::kTypeInt, nullptr, 1) ||
                 doc.storeValue("/Root", "v", Settings::kTypeInt, many, -1));
    std::string longText(Settings::kMaxElemText - 1, 'x');
    for (std::string text : {std::string("say \"hi\""), std::string("a<b"), longText}) {
        text.append(2, '\0');
        EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeString, text.data(), 1)) << text;
    }
    longText.resize(Settings::kMaxElemText - 2); // the longest element allowed
    longText.append(2, '\0');
    EXPECT_TRUE(
        doc.storeValue("/Root", longest.c_str(), Settings::kTypeString, longText.data(), 1));
    // Refusals leave the stored value alone.
    EXPECT_EQ(doc.getValueElems("/Root", "v") * 10 + doc.getValueType("/Root", "v"),
              Settings::kMaxElems * 10 + Settings::kTypeInt);
}
