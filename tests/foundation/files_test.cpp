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
    const std::string chain = dir / "a/b/c";
    EXPECT_TRUE(createFolder(dir / "one") && !createFolder(dir / "one") && // already there
                !createFolder((dir / "missing/two").c_str()) && createFullPath(chain));
    writeFile(chain + "/marker", "m"); // existing chains are fine and unchanged
    EXPECT_TRUE(createFullPath(chain + "/") && createFullPath(chain + "/d/"));
    EXPECT_TRUE(readFile(chain + "/marker") == "m" && fs::is_directory(chain + "/d"));
    writeFile(dir / "file", "x");
    for (const std::string& bad : {dir / "file/sub", dir / "file", std::string()})
        EXPECT_FALSE(createFullPath(bad)) << bad;
    EXPECT_FALSE(createFullPath(static_cast<const char*>(nullptr)));
    chmod((dir / "file").c_str(), 0400);
    checkCorrectReadOnlyFile(dir / "file");
    EXPECT_EQ(fmt::format("{:o} {:o} {:o} {:o} {:o}", modeOf(dir / "one"), modeOf(dir / "a"),
                          modeOf(dir / "a/b"), modeOf(chain), modeOf(dir / "file")),
              "700 700 700 700 660");

    // The longest path the buffer holds; one more, refused before the first
    // folder is made.
    TempDir deep;
    const std::string longest = vxtest::pathOfLength(deep.path(), kMaxFullPathLength);
    EXPECT_TRUE(createFullPath(longest) && fs::is_directory(longest));
    fs::remove_all(longest.substr(0, longest.find('/', deep.path().size() + 1)));
    EXPECT_FALSE(createFullPath(vxtest::pathOfLength(deep.path(), kMaxFullPathLength + 1)) ||
                 createFullPath(deep / std::string(5000, 'h')));
    EXPECT_TRUE(fs::is_empty(deep.path()));
}

TEST(Files, CopiesAndBinaryAndTextFilesEveryByteOrFailure) {
    TempDir dir;
    const std::string bytes = std::string("a\0b\xff\n\r", 6) + std::string(70000, 'q');
    writeFile(dir / "src", bytes);
    writeFile(dir / "dst", std::string(100000, 'z')); // longer: must be truncated
    EXPECT_TRUE(copyFile(dir / "src", dir / "dst") && readFile(dir / "dst") == bytes);
    writeFile(dir / "empty", ""); // fails, but leaves an empty destination
    EXPECT_FALSE(copyFile(dir / "empty", dir / "dst") ||
                 copyFile(dir / "src", dir / "no/such/folder"));
    EXPECT_TRUE(fs::exists(dir / "dst") && fs::file_size(dir / "dst") == 0);
    // A missing or folder source is refused and no destination is created.
    EXPECT_FALSE(copyFile(dir / "missing", dir / "new") || copyFile(dir.path(), dir / "new") ||
                 fs::exists(dir / "new"));
    const std::string b = dir / "b", f = dir / "f", x = dir / "x";
    const unsigned char data[10] = {0, 1, 2, 0xFF, 0x80, 5, 6, 7, 8, 9};
    EXPECT_TRUE(writeBinDataFile(b.c_str(), data, 10) && getBinDataFileSize(b.c_str()) == 10);
    EXPECT_EQ(readFile(b), std::string(reinterpret_cast<const char*>(data), 10));
    // Asking for more than the file holds succeeds; the rest is untouched.
    unsigned char in[100];
    std::memset(in, 0xAA, sizeof in);
    EXPECT_TRUE(readBinDataFile(b.c_str(), in, 100));
    EXPECT_EQ(std::string(in, in + 100), readFile(b) + std::string(90, '\xAA'));
    EXPECT_TRUE(writeBinDataFile(b, data, 0) && getBinDataFileSize(b) == 0); // rewriting truncates

    const float values[3] = {1.5f, -2.25f, 1e-30f};
    float back[3] = {};
    EXPECT_TRUE(writeBinDataFileFloat(f.c_str(), values, 3) &&
                readBinDataFileFloat(f.c_str(), back, 3));
    EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
    EXPECT_EQ(readFile(f).substr(0, 5), std::string("\x00\x00\xC0\x3F\x00", 5)); // 1.5f first

    char buffer[4] = {};
    EXPECT_EQ(getBinDataFileSize((dir / "missing").c_str()), -1);
    EXPECT_FALSE(readBinDataFile((dir / "missing").c_str(), buffer, 4) ||
                 writeBinDataFile((dir / "no/such/file").c_str(), buffer, 4) ||
                 writeBinDataFile(x.c_str(), buffer, -1) ||
                 writeBinDataFile(x.c_str(), nullptr, 4) || fs::exists(x));
    writeFile(x, "abcd");
    // A float count whose byte size does not fit an int is refused, not wrapped.
    EXPECT_FALSE(readBinDataFile(x.c_str(), buffer, -1) ||
                 readBinDataFileFloat(x.c_str(), back, 0x40000000) ||
                 writeBinDataFileFloat((dir / "y").c_str(), back, 0x40000000) ||
                 fs::exists(dir / "y"));

    // Text reads up to the end or the first FF byte; each read's answer and text.
    std::string text = "unchanged", out;
    out += fmt::format("{}:{}|", readTextFileToString(dir / "missing", text), text);
    writeFile(x, "line one\nline two\n");
    out += fmt::format("{}:{}|", readTextFileToString(x.c_str(), text), text);
    writeFile(x, "head\xFFtail");
    out += fmt::format("{}:{}|", readTextFileToString(x, text), text);
    writeFile(x, "");
    out += fmt::format("{}:{}|", readTextFileToString(x, text), text);
    EXPECT_EQ(out, "false:unchanged|true:line one\nline two\n|true:head|false:|");
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
    std::string folder = "unchanged", name = "unchanged", out;
    auto parts = [&](const char* path) {
        getFullFolderPath(path, folder);
        out += fmt::format("{}:{}|{} ", getLastFolderFromPath(path, name), folder, name);
    };
    for (const char* path : {"noslash", "/a/b/c.txt", "/top"})
        parts(path);
    for (const char* path : {"/x/y/plug.component", "plug.component", "/x/y/"})
        out += getFileNameWithExtFromPath(path) + " ";
    EXPECT_EQ(out, "false:unchanged|unchanged true:/a/b|c.txt true:|top plug.component "
                   "plug.component  ");

    // One backslash at the end goes, nothing else.
    for (const auto& [in, want] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\dir\\", "C:\\dir"}, {"a\\\\", "a\\"}, {"/a/b/", "/a/b/"}, {"", ""}}) {
        std::string s = in;
        std::vector<char> c(in.c_str(), in.c_str() + in.size() + 1);
        trimTailSlash(s);
        trimTailSlash(c.data());
        EXPECT_EQ(s + "|" + c.data(), want + "|" + want) << in;
    }

    TempDir dir;
    dir.file("file.bin");
    std::string found;
    for (const std::string& path : {dir.path(), dir / "file.bin", dir / "missing"})
        found += fmt::format("{}{} ", fileExists(path.c_str()), folderExists(path));
    EXPECT_EQ(found, "truetrue truefalse falsefalse ");
    EXPECT_FALSE(fileExists(static_cast<const char*>(nullptr)) ||
                 folderExists(static_cast<const char*>(nullptr)));
}

} // namespace
