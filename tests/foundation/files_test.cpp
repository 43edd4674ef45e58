// Folder creation, copying and whole-file input and output.
#include "NSVextra/Files.h"

#include "support.h"

#include <sys/stat.h>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::TempDir;
using vxtest::writeFile;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

// A path under `base` of exactly `length` characters, in short folder names.
std::string pathOfLength(std::string path, std::size_t length) {
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1; // one for the "/"
        path += "/" + std::string(std::min<std::size_t>(room, 100), 'd');
        if (room == 0)
            path.back() = 'd'; // never end on a bare "/"
    }
    return path;
}

TEST(Folders, CreatedOwnerOnlyAndWholeChains) {
    TempDir dir;
    EXPECT_TRUE(createFolder(dir / "one"));
    EXPECT_EQ(modeOf(dir / "one"), 0700u);
    EXPECT_FALSE(createFolder(dir / "one")); // already there
    EXPECT_FALSE(createFolder((dir / "missing/two").c_str()));

    const std::string chain = dir / "a/b/c";
    EXPECT_TRUE(createFullPath(chain));
    for (const char* made : {"a", "a/b", "a/b/c"})
        EXPECT_EQ(modeOf(dir / made), 0700u) << made;
    writeFile(chain + "/marker", "m"); // existing chains are fine and unchanged
    EXPECT_TRUE(createFullPath(chain + "/"));
    EXPECT_EQ(readFile(chain + "/marker"), "m");
    EXPECT_TRUE(createFullPath(chain + "/d/"));
    EXPECT_TRUE(fs::is_directory(chain + "/d"));

    writeFile(dir / "file", "x");
    EXPECT_FALSE(createFullPath(dir / "file/sub"));
    EXPECT_FALSE(createFullPath(dir / "file"));
    EXPECT_FALSE(createFullPath(std::string()));
    EXPECT_FALSE(createFullPath(static_cast<const char*>(nullptr)));
    EXPECT_EQ(readFile(dir / "file"), "x");

    chmod((dir / "file").c_str(), 0400);
    checkCorrectReadOnlyFile(dir / "file");
    EXPECT_EQ(modeOf(dir / "file"), 0660u);
}

TEST(Folders, CreateFullPathRefusesPathsBeyondItsBuffer) {
    TempDir dir;
    const std::string longest = pathOfLength(dir.path(), kMaxFullPathLength);
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(kMaxFullPathLength));
    EXPECT_TRUE(createFullPath(longest));
    EXPECT_TRUE(fs::is_directory(longest));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        fs::remove_all(entry.path());
    // Refused up front: not even the first folder is made.
    EXPECT_FALSE(createFullPath(pathOfLength(dir.path(), kMaxFullPathLength + 1)));
    EXPECT_FALSE(createFullPath(dir / std::string(5000, 'h')));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(Copy, EveryByteOrFailure) {
    TempDir dir;
    const std::string bytes = std::string("a\0b\xff\n\r", 6) + std::string(70000, 'q');
    writeFile(dir / "src", bytes);
    writeFile(dir / "dst", std::string(100000, 'z')); // longer: must be truncated
    EXPECT_TRUE(copyFile(dir / "src", dir / "dst"));
    EXPECT_EQ(readFile(dir / "dst"), bytes);

    writeFile(dir / "empty", ""); // fails, but leaves an empty destination
    EXPECT_FALSE(copyFile(dir / "empty", dir / "dst"));
    EXPECT_TRUE(fs::exists(dir / "dst") && fs::file_size(dir / "dst") == 0);
    EXPECT_FALSE(copyFile(dir / "src", dir / "no/such/folder"));
    // A missing or folder source is refused and no destination is created.
    fs::create_directory(dir / "folder");
    for (const char* source : {"missing", "folder"}) {
        EXPECT_FALSE(copyFile(dir / source, dir / "new")) << source;
        EXPECT_FALSE(fs::exists(dir / "new")) << source;
    }
}

TEST(BinaryFiles, ByteCountsRoundTripAndRefusals) {
    TempDir dir;
    const std::string b = dir / "b", f = dir / "f", x = dir / "x";
    const unsigned char data[10] = {0, 1, 2, 0xFF, 0x80, 5, 6, 7, 8, 9};
    EXPECT_TRUE(writeBinDataFile(b.c_str(), data, 10));
    EXPECT_EQ(getBinDataFileSize(b.c_str()), 10);
    EXPECT_EQ(readFile(b), std::string(reinterpret_cast<const char*>(data), 10));
    // Asking for more than the file holds succeeds; the rest is untouched.
    unsigned char in[100];
    std::memset(in, 0xAA, sizeof in);
    EXPECT_TRUE(readBinDataFile(b.c_str(), in, 100));
    EXPECT_EQ(std::memcmp(in, data, 10), 0);
    EXPECT_EQ(std::string(in + 10, in + 100), std::string(90, '\xAA'));
    EXPECT_TRUE(writeBinDataFile(b, data, 0)); // rewriting truncates
    EXPECT_EQ(getBinDataFileSize(b), 0);

    const float values[3] = {1.5f, -2.25f, 1e-30f};
    EXPECT_TRUE(writeBinDataFileFloat(f.c_str(), values, 3));
    float back[3] = {};
    EXPECT_TRUE(readBinDataFileFloat(f.c_str(), back, 3));
    EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
    EXPECT_EQ(readFile(f).substr(0, 5), std::string("\x00\x00\xC0\x3F\x00", 5)); // 1.5f first

    char buffer[4] = {};
    EXPECT_EQ(getBinDataFileSize((dir / "missing").c_str()), -1);
    EXPECT_FALSE(readBinDataFile((dir / "missing").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile((dir / "no/such/file").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile(x.c_str(), buffer, -1));
    EXPECT_FALSE(writeBinDataFile(x.c_str(), nullptr, 4));
    EXPECT_FALSE(fs::exists(x));
    writeFile(x, "abcd");
    EXPECT_FALSE(readBinDataFile(x.c_str(), buffer, -1));
    // A float count whose byte size does not fit an int is refused, not wrapped.
    EXPECT_FALSE(readBinDataFileFloat(x.c_str(), back, 0x40000000));
    EXPECT_FALSE(writeBinDataFileFloat((dir / "y").c_str(), back, 0x40000000));
    EXPECT_FALSE(fs::exists(dir / "y"));
}

TEST(TextFiles, ReadsUpToTheEndOrTheFirstFFByte) {
    TempDir dir;
    const std::pair<std::string, std::string> rows[] = {
        {"line one\nline two\n", "line one\nline two\n"}, {std::string("head\xFFtail"), "head"}};
    for (const auto& [bytes, want] : rows) {
        std::string text = "unchanged";
        writeFile(dir / "t", bytes);
        EXPECT_TRUE(readTextFileToString((dir / "t").c_str(), text));
        EXPECT_EQ(text, want);
    }
    std::string text = "unchanged";
    EXPECT_FALSE(readTextFileToString(dir / "missing", text));
    EXPECT_EQ(text, "unchanged");
    writeFile(dir / "empty", "");
    EXPECT_FALSE(readTextFileToString(dir / "empty", text));
    EXPECT_EQ(text, "");
}

} // namespace
