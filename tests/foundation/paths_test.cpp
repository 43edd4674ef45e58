// Path splitting, existence tests, and paths too long for the fixed buffers.
#include "NSVextra/Paths.h"

#include "support.h"

#include <gtest/gtest.h>

#include <memory>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::TempDir;
using vxtest::writeFile;

namespace {

// A zero-filled buffer of exactly the documented size: any write past it is
// caught by the address sanitizer, and untouched bytes stay zero.
struct PartBuffer {
    std::unique_ptr<char[]> bytes{new char[kPathPartBufferSize]()};
    char* get() { return bytes.get(); }
    bool allZero() const {
        for (std::size_t i = 0; i < kPathPartBufferSize; ++i) {
            if (bytes[i] != 0)
                return false;
        }
        return true;
    }
};

TEST(PathSplit, NameWithoutExtensionAndFolder) {
    PartBuffer name, folder;
    getFileNameAndFolderFromPath("/x/y/plug.component", name.get(), folder.get());
    EXPECT_STREQ(name.get(), "plug");
    EXPECT_STREQ(folder.get(), "/x/y");

    std::string sName = "old", sFolder = "old";
    getFileNameAndFolderFromPath(std::string("/x/y/plug.component"), sName, sFolder);
    EXPECT_EQ(sName, "plug");
    EXPECT_EQ(sFolder, "/x/y");
}

TEST(PathSplit, OnlyTheLastDotAfterTheLastSlashCounts) {
    PartBuffer name, folder;
    getFileNameAndFolderFromPath("/a.b/c.d.dylib", name.get(), folder.get());
    EXPECT_STREQ(name.get(), "c.d");
    EXPECT_STREQ(folder.get(), "/a.b");

    // A dot only in the folder part: the file has no extension to strip.
    PartBuffer name2, folder2;
    getFileNameAndFolderFromPath("/a.b/plain", name2.get(), folder2.get());
    EXPECT_STREQ(name2.get(), "plain");
    EXPECT_STREQ(folder2.get(), "/a.b");

    // Root folder: the folder part is empty.
    PartBuffer name3, folder3;
    getFileNameAndFolderFromPath("/lib.so", name3.get(), folder3.get());
    EXPECT_STREQ(name3.get(), "lib");
    EXPECT_TRUE(folder3.allZero());
}

TEST(PathSplit, EitherBufferMayBeLeftOut) {
    PartBuffer name;
    getFileNameAndFolderFromPath("/opt/v/audplga2.dylib", name.get(), nullptr);
    EXPECT_STREQ(name.get(), "audplga2");
    PartBuffer folder;
    getFileNameAndFolderFromPath("/opt/v/audplga2.dylib", nullptr, folder.get());
    EXPECT_STREQ(folder.get(), "/opt/v");
    getFileNameAndFolderFromPath("/opt/v/audplga2.dylib", nullptr, nullptr);
    getFileNameAndFolderFromPath(nullptr, name.get(), folder.get());
    EXPECT_STREQ(name.get(), "audplga2");
}

TEST(PathSplit, PathWithoutSlashIsLeftAlone) {
    PartBuffer name, folder;
    getFileNameAndFolderFromPath("plug.component", name.get(), folder.get());
    EXPECT_TRUE(name.allZero());
    EXPECT_TRUE(folder.allZero());

    std::string sName = "keep", sFolder = "keep";
    getFileNameAndFolderFromPath(std::string("plug.component"), sName, sFolder);
    EXPECT_EQ(sName, "keep");
    EXPECT_EQ(sFolder, "keep");
}

TEST(PathSplit, CStringPartsMustFitTheBuffers) {
    const std::size_t longest = kPathPartBufferSize - 1;

    // The longest name that fits, with its terminator still in the buffer.
    std::string fits = "/f/" + std::string(longest, 'n') + ".x";
    PartBuffer name;
    getFileNameAndFolderFromPath(fits.c_str(), name.get(), nullptr);
    EXPECT_EQ(std::string(name.get()), std::string(longest, 'n'));

    // One more character: nothing is written at all.
    std::string nameTooLong = "/f/" + std::string(longest + 1, 'n') + ".x";
    PartBuffer name2, folder2;
    getFileNameAndFolderFromPath(nameTooLong.c_str(), name2.get(), folder2.get());
    EXPECT_TRUE(name2.allZero());
    EXPECT_TRUE(folder2.allZero());

    // An over-long folder refuses the call too, but only when it is asked for.
    std::string folderTooLong = "/" + std::string(longest, 'f') + "/n.x";
    PartBuffer name3, folder3;
    getFileNameAndFolderFromPath(folderTooLong.c_str(), name3.get(), folder3.get());
    EXPECT_TRUE(name3.allZero());
    EXPECT_TRUE(folder3.allZero());
    getFileNameAndFolderFromPath(folderTooLong.c_str(), name3.get(), nullptr);
    EXPECT_STREQ(name3.get(), "n");

    // A huge path without a dot after the slash: the name would be the rest.
    std::string noDot = "/f/" + std::string(5000, 'z');
    PartBuffer name4;
    getFileNameAndFolderFromPath(noDot.c_str(), name4.get(), nullptr);
    EXPECT_TRUE(name4.allZero());
}

TEST(PathSplit, StringPartsMustBeShorterThan300) {
    const std::size_t longest = kPathPartStringLimit - 1;
    std::string name = "n", folder = "f";
    getFileNameAndFolderFromPath("/d/" + std::string(longest, 'a') + ".x", name, folder);
    EXPECT_EQ(name, std::string(longest, 'a'));
    EXPECT_EQ(folder, "/d");

    name = "keep", folder = "keep";
    getFileNameAndFolderFromPath("/d/" + std::string(longest + 1, 'a') + ".x", name, folder);
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(folder, "keep");

    getFileNameAndFolderFromPath(std::string(longest + 1, 'f') + "/n.x", name, folder);
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(folder, "keep");
}

TEST(PathParts, FileNameWithExtension) {
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/"), "");
    EXPECT_EQ(getFileNameWithExtFromPath(""), "");
}

TEST(PathParts, FullFolderPath) {
    std::string folder = "unchanged";
    getFullFolderPath("/a/b/c.txt", folder);
    EXPECT_EQ(folder, "/a/b");
    getFullFolderPath("/top", folder);
    EXPECT_EQ(folder, "");
    folder = "unchanged";
    getFullFolderPath("noslash", folder);
    EXPECT_EQ(folder, "unchanged");
}

TEST(PathParts, LastFolder) {
    std::string name = "unchanged";
    EXPECT_TRUE(getLastFolderFromPath("/a/b/c", name));
    EXPECT_EQ(name, "c");
    EXPECT_TRUE(getLastFolderFromPath("/a/b/", name));
    EXPECT_EQ(name, "");
    name = "unchanged";
    EXPECT_FALSE(getLastFolderFromPath("abc", name));
    EXPECT_EQ(name, "unchanged");
}

TEST(PathParts, TrimTailSlashRemovesOneBackslashOnly) {
    std::string s = "C:\\dir\\";
    trimTailSlash(s);
    EXPECT_EQ(s, "C:\\dir");
    s = "a\\\\";
    trimTailSlash(s);
    EXPECT_EQ(s, "a\\");
    s = "/a/b/";
    trimTailSlash(s);
    EXPECT_EQ(s, "/a/b/");
    s.clear();
    trimTailSlash(s);
    EXPECT_EQ(s, "");

    char c1[] = "dir\\";
    trimTailSlash(c1);
    EXPECT_STREQ(c1, "dir");
    char c2[] = "dir/";
    trimTailSlash(c2);
    EXPECT_STREQ(c2, "dir/");
    char c3[] = "";
    trimTailSlash(c3);
    EXPECT_STREQ(c3, "");
    trimTailSlash(static_cast<char*>(nullptr));
}

TEST(Existence, FilesAndFolders) {
    TempDir dir;
    std::string file = dir / "file.bin";
    writeFile(file, "x");
    std::string missing = dir / "missing";

    EXPECT_TRUE(fileExists(dir.path()));
    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(fileExists(file.c_str()));
    EXPECT_FALSE(fileExists(missing));
    EXPECT_FALSE(fileExists(static_cast<const char*>(nullptr)));

    EXPECT_TRUE(folderExists(dir.path()));
    EXPECT_TRUE(folderExists(dir.path().c_str()));
    EXPECT_FALSE(folderExists(file));
    EXPECT_FALSE(folderExists(missing));
    EXPECT_FALSE(folderExists(static_cast<const char*>(nullptr)));
}

} // namespace
