// Folder creation, copying and whole-file input and output.
#include "NSVextra/Files.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::TempDir;
using vxtest::writeFile;

namespace {

unsigned modeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return ~0u;
    return st.st_mode & 07777;
}

// A path under `base` of exactly `length` characters, made of folder names
// short enough for any file system.
std::string pathOfLength(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        std::size_t room = length - path.size() - 1; // one for the "/"
        path += "/" + std::string(std::min<std::size_t>(room, 100), 'd');
        if (room == 0)
            path.back() = 'd'; // never end on a bare "/"
    }
    return path;
}

TEST(Folders, CreateFolderMakesOneOwnerOnlyFolder) {
    TempDir dir;
    std::string folder = dir / "one";
    EXPECT_TRUE(createFolder(folder));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_FALSE(createFolder(folder)); // already there
    EXPECT_FALSE(createFolder((dir / "missing/two").c_str()));
}

TEST(Folders, CreateFullPathMakesTheWholeChain) {
    TempDir dir;
    std::string chain = dir / "a/b/c";
    EXPECT_TRUE(createFullPath(chain));
    EXPECT_TRUE(std::filesystem::is_directory(chain));
    EXPECT_EQ(modeOf(dir / "a"), 0700u);
    EXPECT_EQ(modeOf(dir / "a/b"), 0700u);
    EXPECT_EQ(modeOf(chain), 0700u);

    // Existing chains, with or without a trailing slash, are fine and unchanged.
    writeFile(chain + "/marker", "m");
    EXPECT_TRUE(createFullPath(chain));
    EXPECT_TRUE(createFullPath(chain + "/"));
    EXPECT_EQ(readFile(chain + "/marker"), "m");
    EXPECT_TRUE(createFullPath(chain + "/d/"));
    EXPECT_TRUE(std::filesystem::is_directory(chain + "/d"));
}

TEST(Folders, CreateFullPathStopsAtAPlainFile) {
    TempDir dir;
    writeFile(dir / "file", "x");
    EXPECT_FALSE(createFullPath(dir / "file/sub"));
    EXPECT_FALSE(createFullPath(dir / "file"));
    EXPECT_FALSE(createFullPath(std::string()));
    EXPECT_FALSE(createFullPath(static_cast<const char*>(nullptr)));
    EXPECT_EQ(readFile(dir / "file"), "x");
}

TEST(Folders, CreateFullPathRefusesPathsBeyondItsBuffer) {
    TempDir dir;
    ASSERT_LT(dir.path().size(), 200u);

    std::string longest = pathOfLength(dir.path(), kMaxFullPathLength);
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(kMaxFullPathLength));
    EXPECT_TRUE(createFullPath(longest));
    EXPECT_TRUE(std::filesystem::is_directory(longest));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        std::filesystem::remove_all(entry.path());

    std::string tooLong = pathOfLength(dir.path(), kMaxFullPathLength + 1);
    ASSERT_EQ(tooLong.size(), static_cast<std::size_t>(kMaxFullPathLength) + 1);
    EXPECT_FALSE(createFullPath(tooLong));
    // Refused up front: not even the first folder was made.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    std::string huge = dir.path() + "/" + std::string(5000, 'h');
    EXPECT_FALSE(createFullPath(huge));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Folders, SharedFileModeIsOwnerAndGroupReadWrite) {
    TempDir dir;
    std::string file = dir / "f";
    writeFile(file, "x");
    chmod(file.c_str(), 0400);
    checkCorrectReadOnlyFile(file);
    EXPECT_EQ(modeOf(file), 0660u);
}

TEST(Copy, CopiesEveryByte) {
    TempDir dir;
    std::string bytes("a\0b\xff\n\r", 6);
    bytes += std::string(70000, 'q');
    writeFile(dir / "src", bytes);
    writeFile(dir / "dst", std::string(100000, 'z')); // longer: must be truncated
    EXPECT_TRUE(copyFile(dir / "src", dir / "dst"));
    EXPECT_EQ(readFile(dir / "dst"), bytes);
}

TEST(Copy, EmptySourceFailsButLeavesAnEmptyDestination) {
    TempDir dir;
    writeFile(dir / "empty", "");
    EXPECT_FALSE(copyFile(dir / "empty", dir / "dst"));
    ASSERT_TRUE(std::filesystem::exists(dir / "dst"));
    EXPECT_EQ(std::filesystem::file_size(dir / "dst"), 0u);
}

TEST(Copy, UnopenableEndsFail) {
    TempDir dir;
    EXPECT_FALSE(copyFile(dir / "missing", dir / "dst"));
    EXPECT_FALSE(std::filesystem::exists(dir / "dst"));
    writeFile(dir / "src", "abc");
    EXPECT_FALSE(copyFile(dir / "src", dir / "no/such/folder"));
    // A folder as the source is refused like an unopenable file (its end
    // position on disk is no size), and no destination is created.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(copyFile(dir / "folder", dir / "fromFolder"));
    EXPECT_FALSE(std::filesystem::exists(dir / "fromFolder"));
}

TEST(BinaryFiles, ByteCountsAndRoundTrip) {
    TempDir dir;
    const unsigned char data[10] = {0, 1, 2, 0xFF, 0x80, 5, 6, 7, 8, 9};
    EXPECT_TRUE(writeBinDataFile((dir / "b").c_str(), data, 10));
    EXPECT_EQ(getBinDataFileSize((dir / "b").c_str()), 10);
    EXPECT_EQ(readFile(dir / "b"), std::string(reinterpret_cast<const char*>(data), 10));

    // Asking for more than the file holds still succeeds; the rest is untouched.
    unsigned char in[100];
    std::memset(in, 0xAA, sizeof in);
    EXPECT_TRUE(readBinDataFile((dir / "b").c_str(), in, 100));
    EXPECT_EQ(std::memcmp(in, data, 10), 0);
    for (int i = 10; i < 100; ++i)
        ASSERT_EQ(in[i], 0xAA) << i;

    // Rewriting truncates; zero bytes make an empty file.
    EXPECT_TRUE(writeBinDataFile(dir / "b", data, 0));
    EXPECT_EQ(getBinDataFileSize(dir / "b"), 0);
}

TEST(BinaryFiles, FloatFilesHoldFourBytesPerValue) {
    TempDir dir;
    const float values[3] = {1.5f, -2.25f, 1e-30f};
    EXPECT_TRUE(writeBinDataFileFloat((dir / "f").c_str(), values, 3));
    EXPECT_EQ(getBinDataFileSize((dir / "f").c_str()), 12);
    float back[3] = {};
    EXPECT_TRUE(readBinDataFileFloat((dir / "f").c_str(), back, 3));
    EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
    // Little-endian bytes of 1.5f (0x3FC00000) come first.
    std::string raw = readFile(dir / "f");
    EXPECT_EQ(raw.substr(0, 4), std::string("\x00\x00\xC0\x3F", 4));
}

TEST(BinaryFiles, BadArgumentsAndMissingFiles) {
    TempDir dir;
    char buffer[4] = {};
    EXPECT_EQ(getBinDataFileSize((dir / "missing").c_str()), -1);
    EXPECT_FALSE(readBinDataFile((dir / "missing").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile((dir / "no/such/file").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile((dir / "neg").c_str(), buffer, -1));
    EXPECT_FALSE(writeBinDataFile((dir / "null").c_str(), nullptr, 4));
    EXPECT_FALSE(std::filesystem::exists(dir / "neg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "null"));
    writeFile(dir / "x", "abcd");
    EXPECT_FALSE(readBinDataFile((dir / "x").c_str(), buffer, -1));
    // A float count whose byte size does not fit an int is refused, not wrapped.
    float f[1] = {};
    EXPECT_FALSE(readBinDataFileFloat((dir / "x").c_str(), f, 0x40000000));
    EXPECT_FALSE(writeBinDataFileFloat((dir / "y").c_str(), f, 0x40000000));
    EXPECT_FALSE(std::filesystem::exists(dir / "y"));
}

TEST(TextFiles, ReadsUpToTheEndOrTheFirstFFByte) {
    TempDir dir;
    std::string text = "unchanged";
    writeFile(dir / "t", "line one\nline two\n");
    EXPECT_TRUE(readTextFileToString(dir / "t", text));
    EXPECT_EQ(text, "line one\nline two\n");

    writeFile(dir / "ff", std::string("head\xFFtail", 9));
    EXPECT_TRUE(readTextFileToString((dir / "ff").c_str(), text));
    EXPECT_EQ(text, "head");

    writeFile(dir / "empty", "");
    text = "unchanged";
    EXPECT_FALSE(readTextFileToString(dir / "empty", text));
    EXPECT_EQ(text, "");

    text = "unchanged";
    EXPECT_FALSE(readTextFileToString(dir / "missing", text));
    EXPECT_EQ(text, "unchanged");
}

} // namespace
