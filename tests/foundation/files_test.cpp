// Path splitting, existence tests, folder creation, copying and whole-file
// input and output.
#include "NSVextra/Files.h"
#include "NSVextra/Paths.h"

#include "support.h"

#include <memory>

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

TEST(Folders, CreatedOwnerOnlyWholeChainsAndWithinTheBuffer) {
    TempDir dir;
    EXPECT_TRUE(createFolder(dir / "one"));
    EXPECT_EQ(modeOf(dir / "one"), 0700u);
    EXPECT_FALSE(createFolder(dir / "one")); // already there
    EXPECT_FALSE(createFolder((dir / "missing/two").c_str()));
    const std::string chain = dir / "a/b/c";
    EXPECT_TRUE(createFullPath(chain));
    EXPECT_EQ(modeOf(dir / "a") + modeOf(dir / "a/b") + modeOf(chain), 3 * 0700u);
    writeFile(chain + "/marker", "m"); // existing chains are fine and unchanged
    EXPECT_TRUE(createFullPath(chain + "/") && createFullPath(chain + "/d/"));
    EXPECT_EQ(readFile(chain + "/marker"), "m");
    EXPECT_TRUE(fs::is_directory(chain + "/d"));
    writeFile(dir / "file", "x");
    for (const std::string& bad : {dir / "file/sub", dir / "file", std::string()})
        EXPECT_FALSE(createFullPath(bad)) << bad;
    EXPECT_FALSE(createFullPath(static_cast<const char*>(nullptr)));
    chmod((dir / "file").c_str(), 0400);
    checkCorrectReadOnlyFile(dir / "file");
    EXPECT_EQ(modeOf(dir / "file"), 0660u);

    // The longest path the buffer holds; one more, refused before the first
    // folder is made.
    TempDir deep;
    const std::string longest = vxtest::pathOfLength(deep.path(), kMaxFullPathLength);
    EXPECT_TRUE(createFullPath(longest));
    EXPECT_TRUE(fs::is_directory(longest));
    fs::remove_all(longest.substr(0, longest.find('/', deep.path().size() + 1)));
    EXPECT_FALSE(createFullPath(vxtest::pathOfLength(deep.path(), kMaxFullPathLength + 1)));
    EXPECT_FALSE(createFullPath(deep / std::string(5000, 'h')));
    EXPECT_TRUE(fs::is_empty(deep.path()));
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
    for (const std::string& source : {dir / "missing", dir.path()}) {
        EXPECT_FALSE(copyFile(source, dir / "new")) << source;
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
    EXPECT_EQ(std::string(in, in + 100), readFile(b) + std::string(90, '\xAA'));
    EXPECT_TRUE(writeBinDataFile(b, data, 0)); // rewriting truncates
    EXPECT_EQ(getBinDataFileSize(b), 0);

    const float values[3] = {1.5f, -2.25f, 1e-30f};
    float back[3] = {};
    EXPECT_TRUE(writeBinDataFileFloat(f.c_str(), values, 3));
    EXPECT_TRUE(readBinDataFileFloat(f.c_str(), back, 3));
    EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
    EXPECT_EQ(readFile(f).substr(0, 5), std::string("\x00\x00\xC0\x3F\x00", 5)); // 1.5f first

    char buffer[4] = {};
    EXPECT_EQ(getBinDataFileSize((dir / "missing").c_str()), -1);
    EXPECT_FALSE(readBinDataFile((dir / "missing").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile((dir / "no/such/file").c_str(), buffer, 4));
    EXPECT_FALSE(writeBinDataFile(x.c_str(), buffer, -1) ||
                 writeBinDataFile(x.c_str(), nullptr, 4));
    EXPECT_FALSE(fs::exists(x));
    writeFile(x, "abcd");
    EXPECT_FALSE(readBinDataFile(x.c_str(), buffer, -1));
    // A float count whose byte size does not fit an int is refused, not wrapped.
    EXPECT_FALSE(readBinDataFileFloat(x.c_str(), back, 0x40000000));
    EXPECT_FALSE(writeBinDataFileFloat((dir / "y").c_str(), back, 0x40000000));
    EXPECT_FALSE(fs::exists(dir / "y"));

    // Text reads up to the end or the first FF byte.
    std::string text = "unchanged";
    EXPECT_FALSE(readTextFileToString(dir / "missing", text));
    EXPECT_EQ(text, "unchanged");
    writeFile(x, "line one\nline two\n");
    EXPECT_TRUE(readTextFileToString(x.c_str(), text));
    EXPECT_EQ(text, "line one\nline two\n");
    writeFile(x, "head\xFFtail");
    EXPECT_TRUE(readTextFileToString(x, text));
    EXPECT_EQ(text, "head");
    writeFile(x, "");
    EXPECT_FALSE(readTextFileToString(x, text));
    EXPECT_EQ(text, "");
}

constexpr const char* kLeftAlone = "<left alone>";

// Splits `path` into zero-filled buffers of exactly the documented size (a
// write past them is caught by the address sanitizer); a buffer left all
// zero reads as kLeftAlone.
std::pair<std::string, std::string> splitC(const std::string& path, bool name = true,
                                           bool folder = true) {
    std::unique_ptr<char[]> n(new char[kPathPartBufferSize]()), f(new char[kPathPartBufferSize]());
    getFileNameAndFolderFromPath(path.c_str(), name ? n.get() : nullptr,
                                 folder ? f.get() : nullptr);
    auto text = [](const char* b) { return *b ? std::string(b) : std::string(kLeftAlone); };
    return {text(n.get()), text(f.get())};
}

TEST(PathSplit, NameWithoutExtensionAndFolder) {
    const std::size_t cLongest = kPathPartBufferSize - 1, sLongest = kPathPartStringLimit - 1;
    const std::string n(cLongest, 'n'), s(sLongest, 's'), left = kLeftAlone;
    using Parts = std::pair<std::string, std::string>;
    const struct {
        std::string path;
        Parts c, str; // as the C-string and the string forms split it
    } rows[] = {
        {"/a.b/c.d.dylib", {"c.d", "/a.b"}, {"c.d", "/a.b"}}, // the last dot after the last slash
        {"/a.b/plain", {"plain", "/a.b"}, {"plain", "/a.b"}},
        {"/lib.so", {"lib", left}, {"lib", ""}},
        {"plug.component", {left, left}, {left, left}}, // no slash: left alone
        // The longest parts that fit, then one more.
        {"/f/" + n + ".x", {n, "/f"}, {left, left}},
        {"/f/" + n + "n.x", {left, left}, {left, left}},
        {"/" + std::string(cLongest, 'f') + "/n.x", {left, left}, {left, left}},
        {"/d/" + s + ".x", {s, "/d"}, {s, "/d"}},
        {"/d/" + s + "s.x", {s + "s", "/d"}, {left, left}},
        {s + "s/n.x", {"n", s + "s"}, {left, left}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.substr(0, 24) + "... (" + std::to_string(row.path.size()) + ")");
        EXPECT_EQ(splitC(row.path), row.c);
        Parts str{left, left};
        getFileNameAndFolderFromPath(row.path, str.first, str.second);
        EXPECT_EQ(str, row.str);
    }
    // Either buffer may be left out; an over-long folder refuses the call
    // only when it is asked for.
    EXPECT_EQ(splitC("/opt/v/a.dylib", true, false), Parts("a", left));
    EXPECT_EQ(splitC("/opt/v/a.dylib", false, true), Parts(left, "/opt/v"));
    EXPECT_EQ(splitC("/" + std::string(cLongest, 'f') + "/n.x", true, false), Parts("n", left));
}

TEST(PathParts, NamesFoldersTrailingBackslashesAndExistence) {
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/"), "");
    std::string folder = "unchanged", name = "unchanged";
    getFullFolderPath("noslash", folder);
    EXPECT_FALSE(getLastFolderFromPath("abc", name));
    EXPECT_EQ(folder + "|" + name, "unchanged|unchanged");
    getFullFolderPath("/a/b/c.txt", folder);
    EXPECT_TRUE(getLastFolderFromPath("/a/b/c", name));
    EXPECT_EQ(folder + "|" + name, "/a/b|c");
    getFullFolderPath("/top", folder);
    EXPECT_EQ(folder, "");

    // One backslash at the end goes, nothing else.
    for (const auto& [in, want] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\dir\\", "C:\\dir"}, {"a\\\\", "a\\"}, {"/a/b/", "/a/b/"}, {"", ""}}) {
        std::string s = in;
        trimTailSlash(s);
        std::vector<char> c(in.begin(), in.end());
        c.push_back('\0');
        trimTailSlash(c.data());
        EXPECT_EQ(s + "|" + c.data(), want + "|" + want) << in;
    }

    TempDir dir;
    dir.file("file.bin");
    for (auto [path, file, isFolder] : {std::tuple{dir.path(), true, true},
                                        {dir / "file.bin", true, false},
                                        {dir / "missing", false, false}}) {
        EXPECT_EQ(fileExists(path.c_str()), file) << path;
        EXPECT_EQ(folderExists(path), isFolder) << path;
    }
    EXPECT_FALSE(fileExists(static_cast<const char*>(nullptr)) ||
                 folderExists(static_cast<const char*>(nullptr)));
}

} // namespace
