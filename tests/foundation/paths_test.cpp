// Path splitting, existence tests, and paths too long for the fixed buffers.
#include "NSVextra/Paths.h"

#include "support.h"

#include <memory>

using namespace NSVextra;

namespace {

constexpr const char* kLeftAlone = "<left alone>";

// Splits `path` into zero-filled buffers of exactly the documented size (a
// write past them is caught by the address sanitizer); a buffer left all
// zero reads as kLeftAlone. Null `which` leaves that buffer out.
struct CSplit {
    std::string name, folder;
};
CSplit splitC(const std::string& path, bool wantName = true, bool wantFolder = true) {
    std::unique_ptr<char[]> name(new char[kPathPartBufferSize]());
    std::unique_ptr<char[]> folder(new char[kPathPartBufferSize]());
    getFileNameAndFolderFromPath(path.c_str(), wantName ? name.get() : nullptr,
                                 wantFolder ? folder.get() : nullptr);
    auto text = [](const char* b) {
        for (std::size_t i = 0; i < kPathPartBufferSize; ++i) {
            if (b[i] != 0)
                return std::string(b);
        }
        return std::string(kLeftAlone);
    };
    return {text(name.get()), text(folder.get())};
}

CSplit splitString(const std::string& path) {
    CSplit out{kLeftAlone, kLeftAlone};
    getFileNameAndFolderFromPath(path, out.name, out.folder);
    return out;
}

TEST(PathSplit, NameWithoutExtensionAndFolder) {
    const std::size_t cLongest = kPathPartBufferSize - 1, sLongest = kPathPartStringLimit - 1;
    const std::string n(cLongest, 'n'), s(sLongest, 's');
    const struct {
        std::string path, name, folder; // as both forms split it
        bool sameForStrings;
    } rows[] = {
        {"/x/y/plug.component", "plug", "/x/y", true},
        // Only the last dot after the last slash counts.
        {"/a.b/c.d.dylib", "c.d", "/a.b", true},
        {"/a.b/plain", "plain", "/a.b", true},
        {"/lib.so", "lib", kLeftAlone, false},            // root: the folder part is empty
        {"plug.component", kLeftAlone, kLeftAlone, true}, // no slash: left alone
        // The longest C-string name and folder that fit, then one more.
        {"/f/" + n + ".x", n, "/f", false},
        {"/f/" + n + "n.x", kLeftAlone, kLeftAlone, true},
        {"/" + std::string(cLongest, 'f') + "/n.x", kLeftAlone, kLeftAlone, true},
        {"/f/" + std::string(5000, 'z'), kLeftAlone, kLeftAlone, true}, // no dot after it
        // The longest string parts, then one more in the name and the folder.
        {"/d/" + s + ".x", s, "/d", true},
        {"/d/" + s + "s.x", s + "s", "/d", false},
        {s + "s/n.x", "n", s + "s", false},
    };
    for (const auto& row : rows) {
        const std::string label =
            row.path.substr(0, 24) + "... (" + std::to_string(row.path.size()) + " characters)";
        const CSplit c = splitC(row.path);
        EXPECT_EQ(c.name, row.name) << label;
        EXPECT_EQ(c.folder, row.folder) << label;
        const CSplit str = splitString(row.path);
        if (row.sameForStrings) {
            EXPECT_EQ(str.name, row.name) << label;
            EXPECT_EQ(str.folder, row.folder) << label;
        }
    }
    // Where the string form differs from the C form.
    EXPECT_EQ(splitString("/lib.so").folder, "");
    EXPECT_EQ(splitString("/f/" + n + ".x").name, kLeftAlone);
    EXPECT_EQ(splitString("/d/" + s + "s.x").name, kLeftAlone);
    EXPECT_EQ(splitString(s + "s/n.x").folder, kLeftAlone);
}

TEST(PathSplit, EitherBufferMayBeLeftOut) {
    EXPECT_EQ(splitC("/opt/v/audplga2.dylib", true, false).name, "audplga2");
    EXPECT_EQ(splitC("/opt/v/audplga2.dylib", false, true).folder, "/opt/v");
    splitC("/opt/v/audplga2.dylib", false, false);
    getFileNameAndFolderFromPath(nullptr, nullptr, nullptr);
    // An over-long folder refuses the call only when it is asked for.
    EXPECT_EQ(splitC("/" + std::string(kPathPartBufferSize - 1, 'f') + "/n.x", true, false).name,
              "n");
}

TEST(PathParts, NamesFoldersAndTrailingBackslashes) {
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/"), "");
    EXPECT_EQ(getFileNameWithExtFromPath(""), "");

    std::string folder = "unchanged";
    getFullFolderPath("noslash", folder);
    EXPECT_EQ(folder, "unchanged");
    getFullFolderPath("/a/b/c.txt", folder);
    EXPECT_EQ(folder, "/a/b");
    getFullFolderPath("/top", folder);
    EXPECT_EQ(folder, "");

    std::string name = "unchanged";
    EXPECT_FALSE(getLastFolderFromPath("abc", name));
    EXPECT_EQ(name, "unchanged");
    EXPECT_TRUE(getLastFolderFromPath("/a/b/c", name));
    EXPECT_EQ(name, "c");
    EXPECT_TRUE(getLastFolderFromPath("/a/b/", name));
    EXPECT_EQ(name, "");

    // One backslash at the end goes, nothing else.
    for (const auto& [in, want] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\dir\\", "C:\\dir"}, {"a\\\\", "a\\"}, {"/a/b/", "/a/b/"}, {"", ""}}) {
        std::string s = in;
        trimTailSlash(s);
        EXPECT_EQ(s, want) << in;
        std::vector<char> c(in.begin(), in.end());
        c.push_back('\0');
        trimTailSlash(c.data());
        EXPECT_STREQ(c.data(), want.c_str()) << in;
    }
    trimTailSlash(static_cast<char*>(nullptr));
}

TEST(Existence, FilesAndFolders) {
    vxtest::TempDir dir;
    const std::string file = dir / "file.bin", missing = dir / "missing";
    dir.file("file.bin");
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
