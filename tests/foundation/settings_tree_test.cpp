// Group paths, lookups, edits and the modified flag.
#include "support.h"

#include "NSVextra/Settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace NSVextra;

TEST(SettingsTree, PathsNameGroupsFromTheHeadDown) {
    Settings doc;
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root"), nullptr); // empty document
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    EXPECT_FALSE(doc.addHeadGroup("Second"));
    ASSERT_TRUE(doc.addGroup("/Root", "Audio"));
    ASSERT_TRUE(doc.addGroup("/Root/Audio", "Input"));

    EXPECT_EQ(doc.getGroupNodeBySpec("/Root"), doc.getHeadGroup());
    ASSERT_NE(doc.getGroupNodeBySpec("/Root/Audio/Input"), nullptr);
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root/Audio/Input")->name, "Input");
    EXPECT_EQ(doc.getGroupNodeBySpec("Root"), nullptr);       // no "/" at all
    EXPECT_EQ(doc.getGroupNodeBySpec("Root/Audio"), nullptr); // head is not called Audio
    EXPECT_EQ(doc.getGroupNodeBySpec("ignored/Root/Audio"), doc.getGroupNodeBySpec("/Root/Audio"));
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root/Missing"), nullptr);
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root/"), nullptr);
    EXPECT_EQ(doc.getGroupNodeBySpec("/Root//Audio"), nullptr);
    EXPECT_EQ(doc.getGroupNodeBySpec(nullptr), nullptr);

    Settings other;
    other.addHeadGroup("Audio");
    EXPECT_EQ(other.getGroupNodeBySpec("Root/Audio"), other.getHeadGroup());
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
    EXPECT_EQ(doc.getHeadGroup()->firstChild->next, nullptr);
    EXPECT_TRUE(doc.checkAddGroup("/Root", "B"));
    EXPECT_STREQ(doc.getNextSubGroup("/Root", true), "A");
    EXPECT_STREQ(doc.getNextSubGroup("/Root", false), "B");
    EXPECT_EQ(doc.getNextSubGroup("/Root", false), nullptr);
    EXPECT_EQ(doc.getNextSubGroup("/Root/A", true), nullptr);
    EXPECT_EQ(doc.getNextSubGroup("/Missing", true), nullptr);

    int v = 5;
    EXPECT_FALSE(doc.storeValue("/Root", "never", Settings::kTypeInt, &v, 1));
    EXPECT_FALSE(doc.valueExists("/Root", "never"));
    ASSERT_TRUE(doc.addValue("/Root", "n"));
    EXPECT_EQ(doc.getValueType("/Root", "n"), Settings::kTypeString);
    EXPECT_EQ(doc.getValueElems("/Root", "n"), 0);
    EXPECT_EQ(doc.getValueBuf("/Root", "n"), nullptr);

    ASSERT_TRUE(doc.storeValue("/Root", "n", Settings::kTypeInt, &v, 1));
    EXPECT_TRUE(doc.isModified());
    ASSERT_TRUE(doc.storeValue("/Root", "n", Settings::kTypeInt, &v, 1));
    EXPECT_FALSE(doc.isModified()); // the same bytes again: no change
    int w = 6;
    ASSERT_TRUE(doc.storeValue("/Root", "n", Settings::kTypeInt, &w, 1));
    EXPECT_TRUE(doc.isModified());
    ASSERT_TRUE(doc.storeValue("/Root", "n", Settings::kTypeUInt, &w, 1));
    EXPECT_TRUE(doc.isModified()); // same bytes, other type: still a change

    EXPECT_TRUE(doc.checkAddValue("/Root", "n"));
    std::vector<std::string> names{"pre"};
    ASSERT_TRUE(doc.listValSubkeys("/Root", names));
    EXPECT_EQ(names, (std::vector<std::string>{"pre", "n"}));
    EXPECT_FALSE(doc.listValSubkeys("/Root/A", names)); // no values
    EXPECT_FALSE(doc.listValSubkeys("/Nope", names));

    ASSERT_TRUE(doc.replaceValueName("/Root", "n", "renamed"));
    EXPECT_FALSE(doc.valueExists("/Root", "n"));
    unsigned int read = 0;
    ASSERT_TRUE(doc.readValue("/Root", "renamed", &read));
    EXPECT_EQ(read, 6u);
    EXPECT_FALSE(doc.replaceValueName("/Root", "n", "x"));
    EXPECT_FALSE(doc.readValue("/Root", "n", &read));
}

TEST(SettingsTree, DuplicateNamesFindTheFirst) {
    Settings doc;
    doc.addHeadGroup("R");
    doc.addValue("/R", "x");
    doc.addValue("/R", "x");
    int a = 1;
    int b = 2;
    doc.storeValue("/R", "x", Settings::kTypeInt, &a, 1);
    Settings::PropNode* first = doc.getPropNodeBySpec("/R", "x");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->elems, 0); // the second one was never stored
    doc.storeValue("/R", "x", Settings::kTypeInt, &b, 1);
    int read = 0;
    doc.readValue("/R", "x", &read);
    EXPECT_EQ(read, 2);
}

TEST(SettingsTree, StringValues) {
    Settings doc;
    doc.addHeadGroup("R");
    doc.addValue("/R", "s");
    char two[] = "alpha\0beta\0";
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, two, 2));
    EXPECT_EQ(doc.getValueSizeBytes("/R", "s"), 12);
    std::string first;
    ASSERT_TRUE(doc.readValString("/R", "s", first));
    EXPECT_EQ(first, "alpha");

    // An empty element between others keeps its place.
    char gap[] = "a\0\0c\0";
    ASSERT_TRUE(doc.storeValue("/R", "s", Settings::kTypeString, gap, 3));
    EXPECT_EQ(doc.getValueSizeBytes("/R", "s"), 6);
    std::string element;
    doc.composeElemStr(doc.getPropNodeBySpec("/R", "s"), 1, element);
    EXPECT_EQ(element, "\"\"");
    doc.composeElemStr(doc.getPropNodeBySpec("/R", "s"), 2, element);
    EXPECT_EQ(element, "\"c\"");
    doc.composeElemStr(doc.getPropNodeBySpec("/R", "s"), 3, element); // out of range
    EXPECT_EQ(element, "");
}

TEST(SettingsTree, EditsRefuseWhatTheScriptCannotCarry) {
    Settings doc;
    EXPECT_FALSE(doc.addHeadGroup(""));
    EXPECT_FALSE(doc.addHeadGroup("a:b"));
    EXPECT_FALSE(doc.addHeadGroup(std::string(Settings::kMaxGroupName + 1, 'g').c_str()));
    ASSERT_TRUE(doc.addHeadGroup(std::string(Settings::kMaxGroupName, 'g').c_str()));
    doc.releaseMemory();
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    ASSERT_TRUE(doc.addGroup("/Root", "A"));
    for (const char* bad : {"x/y", "<x", "x>", "k:v", ""}) {
        EXPECT_FALSE(doc.addGroup("/Root", bad)) << bad;
    }
    // A group inside a group of the same name would end its parent early.
    EXPECT_FALSE(doc.addGroup("/Root/A", "A"));
    EXPECT_FALSE(doc.addGroup("/Root/A", "Root"));
    EXPECT_TRUE(doc.addGroup("/Root/A", "B"));

    for (const char* bad : {"/v", "a:b", "a[2]", "x>", "<x"}) {
        EXPECT_FALSE(doc.addValue("/Root", bad)) << bad;
    }
    ASSERT_TRUE(doc.addValue("/Root", "v"));
    EXPECT_FALSE(doc.replaceValueName("/Root", "v", "bad:name"));

    int many[Settings::kMaxElems + 1] = {};
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems + 1));
    EXPECT_TRUE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, Settings::kMaxElems));
    EXPECT_FALSE(doc.storeValue("/Root", "v", 6, many, 1));
    EXPECT_FALSE(doc.storeValue("/Root", "v", -1, many, 1));
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, nullptr, 1));
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeInt, many, -1));
    char quote[] = "say \"hi\"\0";
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeString, quote, 1));
    char angle[] = "a<b\0";
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeString, angle, 1));
    std::string longText(Settings::kMaxElemText - 1, 'x');
    longText.push_back('\0');
    longText.push_back('\0');
    EXPECT_FALSE(doc.storeValue("/Root", "v", Settings::kTypeString, longText.data(), 1));
    // Refusals leave the stored value alone.
    EXPECT_EQ(doc.getValueElems("/Root", "v"), Settings::kMaxElems);
    EXPECT_EQ(doc.getValueType("/Root", "v"), Settings::kTypeInt);
}

TEST(SettingsTree, ReleaseEmptiesTheDocument) {
    Settings doc;
    doc.addHeadGroup("R");
    doc.addGroup("/R", "A");
    doc.addGroup("/R/A", "B");
    doc.addValue("/R/A", "v");
    int v = 3;
    doc.storeValue("/R/A", "v", Settings::kTypeInt, &v, 1);
    doc.getNextSubGroup("/R", true);
    doc.releaseMemory();
    EXPECT_EQ(doc.getHeadGroup(), nullptr);
    EXPECT_FALSE(doc.groupExists("/R"));
    EXPECT_TRUE(doc.addHeadGroup("New"));

    EXPECT_EQ(doc.parseDataType("uint64"), Settings::kTypeUInt64);
    EXPECT_EQ(doc.parseDataType("Int"), Settings::kTypeString);
}
