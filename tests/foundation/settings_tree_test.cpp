// Group paths, lookups, edits and the modified flag.
#include "support.h"

using namespace NSVextra;

TEST(SettingsTree, PathsNameGroupsFromTheHeadDown) {
    Settings doc;
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root"), nullptr); // empty document
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    EXPECT_FALSE(doc.addHeadGroup("Second"));
    ASSERT_TRUE(doc.addGroup("/Root", "Audio"));
    ASSERT_TRUE(doc.addGroup("/Root/Audio", "Input"));
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root"), doc.getHeadGroup());
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root/Audio/Input"),
              doc.getHeadGroup()->firstChild->firstChild);
    EXPECT_EQ(doc.getGroupNodeBySpec("ignored/Root/Audio"), doc.getHeadGroup()->firstChild);
    for (const char* bad : {"Root", "Root/Audio", "/Root/Missing", "/Root/", "/Root//Audio"})
        EXPECT_EQ(doc.getGroupNodeBySpec(bad), nullptr) << bad;
    EXPECT_EQ(doc.getGroupNodeBySpec(nullptr), nullptr);
}

TEST(SettingsTree, EditsAndTheModifiedFlag) {
    Settings doc;
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    EXPECT_FALSE(doc.isModified()); // the head group alone does not count
    EXPECT_FALSE(doc.addGroup("/Nope", "X"));
    EXPECT_FALSE(doc.isModified());
    ASSERT_TRUE(doc.addGroup("/Root", "A"));
    EXPECT_TRUE(doc.isModified());
    EXPECT_TRUE(doc.checkAddGroup("/Root", "A")); // exists: nothing new
    EXPECT_TRUE(doc.checkAddGroup("/Root", "B"));
    EXPECT_STREQ(doc.getNextSubGroup("/Root", true), "A");
    EXPECT_STREQ(doc.getNextSubGroup("/Root", false), "B");
    EXPECT_EQ(doc.getNextSubGroup("/Root", false), nullptr);
    EXPECT_EQ(doc.getNextSubGroup("/Root/A", true), nullptr);

    int v = 5, w = 6;
    EXPECT_FALSE(doc.storeValue("/Root", "n", Settings::kTypeInt, &v, 1)); // not added yet
    ASSERT_TRUE(doc.addValue("/Root", "n"));
    EXPECT_EQ(doc.getValueType("/Root", "n") * 10 + doc.getValueElems("/Root", "n"),
              Settings::kTypeString * 10);
    const struct {
        int type, *data;
        bool modified;
    } stores[] = {{Settings::kTypeInt, &v, true},
                  {Settings::kTypeInt, &v, false}, // the same bytes again: no change
                  {Settings::kTypeInt, &w, true},
                  {Settings::kTypeUInt, &w, true}}; // same bytes, other type
    for (const auto& s : stores) {
        ASSERT_TRUE(doc.storeValue("/Root", "n", s.type, s.data, 1));
        EXPECT_EQ(doc.isModified(), s.modified) << s.type << " " << *s.data;
    }
    EXPECT_TRUE(doc.checkAddValue("/Root", "n"));
    std::vector<std::string> names{"pre"};
    ASSERT_TRUE(doc.listValSubkeys("/Root", names));
    EXPECT_EQ(names, (std::vector<std::string>{"pre", "n"}));
    EXPECT_FALSE(doc.listValSubkeys("/Root/A", names)); // no values
    ASSERT_TRUE(doc.replaceValueName("/Root", "n", "renamed"));
    EXPECT_FALSE(doc.valueExists("/Root", "n"));
    unsigned int read = 0;
    ASSERT_TRUE(doc.readValue("/Root", "renamed", &read));
    EXPECT_EQ(read, 6u);
    EXPECT_FALSE(doc.replaceValueName("/Root", "n", "x"));

    // Of two values with one name the first is found.
    doc.addValue("/Root/A", "x");
    doc.addValue("/Root/A", "x");
    ASSERT_TRUE(doc.storeValue("/Root/A", "x", Settings::kTypeInt, &v, 1));
    EXPECT_EQ(doc.getPropNodeBySpec("/Root/A", "x")->next->elems, 0);

    int code = 0;
    for (const char* type : {"int", "uint", "uint64", "float", "double", "string"})
        EXPECT_EQ(doc.parseDataType(type), code++) << type;
    EXPECT_EQ(doc.parseDataType("Int"), Settings::kTypeString);

    // Strings: packed, an empty element between others keeping its place.
    doc.releaseMemory();
    ASSERT_TRUE(doc.addHeadGroup("R") && doc.addValue("/R", "s"));
    char two[] = "alpha\0beta\0";
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, two, 2));
    EXPECT_EQ(doc.getValueSizeBytes("/R", "s"), 12);
    std::string text;
    ASSERT_TRUE(doc.readValString("/R", "s", text));
    EXPECT_EQ(text, "alpha");
    char gap[] = "a\0\0c\0";
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, gap, 3));
    EXPECT_EQ(doc.getValueSizeBytes("/R", "s"), 6);
    for (auto [index, want] : {std::pair{1, "\"\""}, {2, "\"c\""}, {3, ""}}) {
        doc.composeElemStr(doc.getPropNodeBySpec("/R", "s"), index, text);
        EXPECT_EQ(text, want) << index;
    }
}

TEST(SettingsTree, EditsRefuseWhatTheScriptCannotCarry) {
    Settings doc;
    for (const std::string& bad :
         std::vector<std::string>{"", "a:b", std::string(Settings::kMaxGroupName + 1, 'g')})
        EXPECT_FALSE(doc.addHeadGroup(bad.c_str())) << bad;
    ASSERT_TRUE(doc.addHeadGroup(std::string(Settings::kMaxGroupName, 'g').c_str()));
    doc.releaseMemory();
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    ASSERT_TRUE(doc.addGroup("/Root", "A"));
    for (const char* bad : {"x/y", "<x", "x>", "k:v", ""})
        EXPECT_FALSE(doc.addGroup("/Root", bad)) << bad;
    // A group inside a group of the same name would end its parent early.
    EXPECT_FALSE(doc.addGroup("/Root/A", "A"));
    EXPECT_FALSE(doc.addGroup("/Root/A", "Root"));
    EXPECT_TRUE(doc.addGroup("/Root/A", "AB"));
    // Room for "[49]" behind the longest value name.
    const std::string longest(Settings::kMaxValueLabel - 4, 'v');
    for (const std::string& bad :
         std::vector<std::string>{"/v", "a:b", "a[2]", "x>", "<x", longest + "v"})
        EXPECT_FALSE(doc.addValue("/Root", bad.c_str())) << bad;
    ASSERT_TRUE(doc.addValue("/Root", longest.c_str()));
    ASSERT_TRUE(doc.addValue("/Root", "v"));
    EXPECT_FALSE(doc.replaceValueName("/Root", "v", "bad:name"));

    int many[Settings::kMaxElems + 1] = {};
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems + 1));
    EXPECT_TRUE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems));
    EXPECT_FALSE(doc.storeValue("/Root", "v", 6, many, 1) ||
                 doc.storeValue("/Root", "v", -1, many, 1));
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, nullptr, 1) ||
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
    EXPECT_EQ(doc.getValueElems("/Root", "v"), Settings::kMaxElems);
    EXPECT_EQ(doc.getValueType("/Root", "v"), Settings::kTypeInt);
}
