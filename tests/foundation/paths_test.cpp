// Path splitting, existence tests, and paths too long for the fixed buffers.
#include "NSVextra/Paths.h"

#include "support.h"

#include <memory>

using namespace NSVextra;

namespace {

constexpr const char* kLeftAlone = "<left alone>";

// Splits `path` into zero-filled buffers of exactly the documented size (a
// write past them is caught by the address sanitizer); a buffer left all
// zero reads as kLeftAlone.
std::pair<std::string, std::string> splitC(const std::string& path, bool name = true,
                                           bool folder = true) {
    std::unique_ptr<char[]> n(new char[kPathPartBufferSize]()), f(new char[kPathPartBufferSize]());
    getFileNameAndFolderFromPath(path.c_str(), name ? n.get() : nullptr,
                                 folder ? f.get() : nullptr);
    auto text = [](const char* b) {
        return std::string(b, kPathPartBufferSize).find_first_not_of('\0') == std::string::npos
                   ? std::string(kLeftAlone)
                   : std::string(b);
    };
    return {text(n.get()), text(f.get())};
}

std::pair<std::string, std::string> splitString(const std::string& path) {
    std::pair<std::string, std::string> out{kLeftAlone, kLeftAlone};
    getFileNameAndFolderFromPath(path, out.first, out.second);
    return out;
}

TEST(PathSplit, NameWithoutExtensionAndFolder) {
    const std::size_t cLongest = kPathPartBufferSize - 1, sLongest = kPathPartStringLimit - 1;
    const std::string n(cLongest, 'n'), s(sLongest, 's'), left = kLeftAlone;
    using Parts = std::pair<std::string, std::string>;
    const struct {
        std::string path;
        Parts c, str; // as the C-string and the string forms split it
    } rows[] = {
        {"/x/y/plug.component", {"plug", "/x/y"}, {"plug", "/x/y"}},
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
        const std::string label =
            row.path.substr(0, 24) + "... (" + std::to_string(row.path.size()) + ")";
        EXPECT_EQ(splitC(row.path), row.c) << label;
        EXPECT_EQ(splitString(row.path), row.str) << label;
    }
    // Either buffer may be left out; an over-long folder refuses the call
    // only when it is asked for.
    EXPECT_EQ(splitC("/opt/v/a.dylib", true, false), Parts("a", left));
    EXPECT_EQ(splitC("/opt/v/a.dylib", false, true), Parts(left, "/opt/v"));
    EXPECT_EQ(splitC("/" + std::string(cLongest, 'f') + "/n.x", true, false), Parts("n", left));
    getFileNameAndFolderFromPath(nullptr, nullptr, nullptr);
}

TEST(PathParts, NamesFoldersAndTrailingBackslashes) {
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("plug.component"), "plug.component");
    EXPECT_EQ(getFileNameWithExtFromPath("/x/y/"), "");

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
    dir.file("file.bin");
    for (auto [path, file, folder] : {std::tuple{dir.path(), true, true},
                                      {dir / "file.bin", true, false},
                                      {dir / "missing", false, false}}) {
        EXPECT_EQ(fileExists(path.c_str()), file) << path;
        EXPECT_EQ(folderExists(path), folder) << path;
    }
    EXPECT_FALSE(fileExists(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(folderExists(static_cast<const char*>(nullptr)));
}

} // namespace
