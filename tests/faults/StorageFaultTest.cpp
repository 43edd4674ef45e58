// Storage that fails under the foundation library: a full disk (a file-size
// limit in a child process), an unusable folder or file. Each failure is
// reported as a plain false or a closed log, and nothing already on disk is
// damaged: a failed settings save leaves the previous file as it was, a
// failed cache write leaves no cache that would describe another tree.
#include <NSVextra/DbgSysOutput.h>
#include <NSVextra/FileTree.h>
#include <NSVextra/Settings.h>
#include <NSVextra/SettingsEx.h>

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using NSVextra::Settings;

// Runs fn in a forked child with RLIMIT_FSIZE at fileSizeLimit bytes
// (negative: none), where writes past it fail with EFBIG; answers fn's result.
int runInChild(const std::function<int()>& fn, long fileSizeLimit) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        if (fileSizeLimit >= 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(99);
        const int result = fn();
        std::fflush(nullptr);
        _exit(result);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    }
    return pid < 0 ? 98 : WIFSIGNALED(status) ? 100 + WTERMSIG(status) : WEXITSTATUS(status);
}

// Each test works in a fresh folder below the temporary folder.
class StorageFaults : public ::testing::Test {
protected:
    ~StorageFaults() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    std::string pattern = (fs::temp_directory_path() / "vx-faults-XXXXXX").string();
    std::string dir =
        mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("cannot make a folder");
};

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
std::set<std::string> listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// A document with a head group and one value, saved; and a way to make it
// much longer than what is on disk.
void fillSmall(Settings& doc, const std::string& path) {
    doc.setFile(path.c_str());
    int rate = 48000;
    ASSERT_TRUE(doc.addHeadGroup("Root") && doc.addGroup("/Root", "Audio") &&
                doc.addValue("/Root/Audio", "Rate") &&
                doc.storeValue("/Root/Audio", "Rate", Settings::kTypeInt, &rate, 1) &&
                doc.commit());
}

void growLarge(Settings& doc) {
    int values[20] = {};
    for (int i = 0; i < 40; ++i) {
        const std::string name = "Value" + std::to_string(i);
        values[i % 20] = i;
        ASSERT_TRUE(doc.addValue("/Root/Audio", name.c_str()) &&
                    doc.storeValue("/Root/Audio", name.c_str(), Settings::kTypeInt, values, 20));
    }
}

int storedRate(const std::string& path) {
    Settings doc;
    doc.setFile(path.c_str());
    int rate = 0;
    return !doc.loadFile() ? -1 : doc.readValue("/Root/Audio", "Rate", &rate) ? rate : -2;
}

TEST_F(StorageFaults, SaveOnAFullDiskReportsFalseAndLeavesThePreviousFileIntact) {
    for (const char* name : {"prefs.txt", "prefs.esf"}) { // plain and scrambled
        SCOPED_TRACE(name);
        const std::string folder = dir + "/" + name + ".d", path = folder + "/" + name;
        fs::create_directory(folder);
        Settings doc;
        fillSmall(doc, path);
        const std::string before = readWhole(path);
        ASSERT_FALSE(before.empty());
        growLarge(doc);
        // Room for a few bytes only: the new text cannot be written whole.
        EXPECT_EQ(runInChild([&] { return doc.commit() ? 1 : 0; }, 16), 0);
        EXPECT_EQ(std::make_tuple(readWhole(path), listing(folder)),
                  std::make_tuple(before, std::set<std::string>{name}))
            << "nothing half-written stays";
        // With room again the same document saves and reads back.
        ASSERT_TRUE(doc.commit());
        EXPECT_TRUE(storedRate(path) == 48000 && readWhole(path).size() > before.size());
    }
    // A delayed save, run on the thread's loop 50 ms after the request.
    const std::string path = dir + "/delayed.txt";
    Settings small;
    fillSmall(small, path);
    const std::string before = readWhole(path);
    const int result = runInChild(
        [&] {
            NSVextra::SettingsEx doc;
            doc.setFile(path.c_str());
            if (!doc.loadFile())
                return 2;
            growLarge(doc);
            doc.commit_delayed();
            CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.3, false);
            return doc.isModified() ? 3 : 0;
        },
        16);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readWhole(path), before);
}

TEST_F(StorageFaults, SaveOverAFolderFailsAndLeavesTheFolder) {
    const std::string path = dir + "/prefs.txt";
    fs::create_directory(path);
    writeWhole(path + "/inside", "keep");
    Settings doc;
    doc.setFile(path.c_str());
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    EXPECT_FALSE(doc.commit());
    EXPECT_EQ(std::make_tuple(readWhole(path + "/inside"), listing(dir)),
              std::make_tuple("keep", std::set<std::string>{"prefs.txt"}));
}

// Permission bits do not stop the super-user, so a save that must meet them
// runs in a child that first gives up its privileges (for "nobody").
int commitAsOrdinaryUser(Settings& doc) {
    return runInChild(
        [&] {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                return 90;
            return doc.commit() ? 1 : 0;
        },
        -1);
}

TEST_F(StorageFaults, ReadOnlyFolderTakesTheSaveInPlaceAndAReadOnlyFileRefusesIt) {
    const std::string path = dir + "/prefs.txt";
    Settings doc;
    fillSmall(doc, path);
    const std::string before = readWhole(path);
    growLarge(doc);

    // A folder closed to new files, a file open to writing: no file can be
    // made beside it, so the file itself is rewritten.
    using P = fs::perms;
    const P readable = P::owner_read | P::group_read | P::others_read;
    fs::permissions(path, readable | P::owner_write | P::group_write | P::others_write);
    fs::permissions(dir, readable | P::owner_exec | P::group_exec | P::others_exec);
    EXPECT_EQ(commitAsOrdinaryUser(doc), 1);
    const std::string after = readWhole(path);
    EXPECT_GT(after.size(), before.size());
    EXPECT_EQ(std::make_tuple(storedRate(path), listing(dir)),
              std::make_tuple(48000, std::set<std::string>{"prefs.txt"}))
        << "nothing left beside it";

    // The file closed to writing too: the save fails and changes nothing.
    fs::permissions(path, readable);
    ASSERT_TRUE(doc.addValue("/Root/Audio", "OneMore"));
    EXPECT_EQ(commitAsOrdinaryUser(doc), 0);
    fs::permissions(dir, P::owner_all);
    EXPECT_EQ(std::make_tuple(readWhole(path), listing(dir)),
              std::make_tuple(after, std::set<std::string>{"prefs.txt"}));
}

std::vector<std::string> scan(const std::string& root, const std::string& cache, bool rebuild) {
    NSVextra::FileTree tree;
    tree.rootFolder = root;
    tree.cacheFile = cache;
    tree.rescan(rebuild); // judged by the tree it leaves
    std::vector<std::string> paths;
    for (int i = 0; i < tree.getNodeCount(); ++i)
        paths.push_back(static_cast<NSVextra::FileTNode*>(tree.getNode(i))->path);
    return paths;
}

TEST_F(StorageFaults, FileTreeCacheThatCannotBeWrittenLeavesNoCacheOfAnotherTree) {
    const std::string root = dir + "/root", cache = dir + "/tree.cache";
    fs::create_directories(root + "/a/b");
    fs::create_directories(root + "/c");
    for (const char* f : {"/a/one.txt", "/a/b/two.txt", "/c/three.txt", "/four.txt"})
        writeWhole(root + f, "x");
    // A cache in a missing folder is not written; the scan still works.
    NSVextra::FileTree tree;
    tree.rootFolder = root;
    tree.cacheFile = dir + "/no/such/folder/tree.cache";
    EXPECT_TRUE(tree.rescan(false));
    // Braced, so the calls run in the order written: no cache before the save.
    EXPECT_EQ((std::tuple{tree.getNodeCount(), tree.cacheFileExists(), tree.saveCacheFile()}),
              std::make_tuple(8, false, false));

    ASSERT_EQ(scan(root, cache, true).size(), 8u); // the root, three folders, four files
    ASSERT_TRUE(fs::is_regular_file(cache));
    // The folder changes; the rebuild cannot write its cache.
    writeWhole(root + "/c/five.txt", "x");
    EXPECT_EQ(runInChild([&] { return scan(root, cache, true).size() == 9 ? 0 : 1; }, 8), 0)
        << "the scan itself still works";
    // Whatever is on disk now, a tree built from it is the folder's tree: a
    // cut-short cache would give an empty or a partial tree.
    EXPECT_EQ(scan(root, cache, false), scan(root, "", true));
}

TEST(LogFaults, AFullDiskDropsLinesQuietly) {
    // This process's own log: lines written while the disk is full are lost,
    // every call still succeeds, and the file is not damaged.
    const std::string logPath =
        std::string(std::getenv("HOME")) + "/Library/Logs/VextraAudio/vextraaudio.log";
    NSVextra::DBG_ERROR(0, "before the disk filled");
    const std::string before = readWhole(logPath);
    ASSERT_NE(before.find("error: before the disk filled\n"), std::string::npos)
        << "the test's own log must be open";
    const int result = runInChild(
        [] {
            for (int i = 0; i < 100; ++i)
                if (!NSVextra::DBG_ERROR(0, "line %d on a full disk", i))
                    return 1;
            return 0;
        },
        static_cast<long>(before.size()));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readWhole(logPath), before);
}

} // namespace
