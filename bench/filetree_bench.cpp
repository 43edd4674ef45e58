// File trees over a folder of 10,000 files in 110 folders: refilling the tree
// from its cache file against a disk scan, and the disk scan against walking
// the same folder with std::filesystem, asking each entry's kind by its path
// as the scan does (and, for information, without that question).
#include "Figures.h"

#include <NSVextra/FileTree.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kTopFolders = 10;
constexpr int kSubFolders = 10;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kTopFolders * kSubFolders * kFilesPerFolder;

struct Fixture {
    fs::path base;
    fs::path root;
    fs::path cache;
    bool ok = false;

    Fixture() {
        base = fs::temp_directory_path() /
               ("vxbench-filetree-" + std::to_string(static_cast<long>(::getpid())));
        root = base / "Library";
        cache = base / "library.cache";
        std::error_code ec;
        fs::create_directories(root, ec);
        for (int t = 0; t < kTopFolders && !ec; ++t) {
            for (int s = 0; s < kSubFolders && !ec; ++s) {
                char name[64];
                std::snprintf(name, sizeof name, "Bank %02d/Set %02d", t, s);
                const fs::path folder = root / name;
                fs::create_directories(folder, ec);
                for (int f = 0; f < kFilesPerFolder && !ec; ++f) {
                    std::snprintf(name, sizeof name, "Preset %03d.aupreset", f);
                    std::ofstream(folder / name) << "x";
                }
            }
        }
        ok = !ec;
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(base, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

bool checkTree(benchmark::State& state, const NSVextra::FileTree& tree) {
    if (tree.getFileCount() != kFiles ||
        tree.getFolderCount() != 1 + kTopFolders * (1 + kSubFolders)) {
        state.SkipWithError("the tree does not hold the folder's entries");
        return false;
    }
    return true;
}

void FileTreeDiskScan(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("could not lay out the folder");
        return;
    }
    NSVextra::FileTree tree;
    tree.rootFolder = f.root.string();
    for (auto _ : state) {
        tree.rescan(false); // no cache path: scans the disk
        benchmark::DoNotOptimize(tree.getRootNode());
    }
    checkTree(state, tree);
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void FileTreeCacheRescan(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("could not lay out the folder");
        return;
    }
    NSVextra::FileTree tree;
    tree.rootFolder = f.root.string();
    tree.cacheFile = f.cache.string();
    tree.rescan(true); // scans once and writes the cache
    if (!tree.cacheFileExists()) {
        state.SkipWithError("no cache file was written");
        return;
    }
    for (auto _ : state) {
        tree.rescan(false); // from the cache
        benchmark::DoNotOptimize(tree.getRootNode());
    }
    checkTree(state, tree);
    state.SetItemsProcessed(state.iterations() * kFiles);
}

// What a program would write with the standard library: every entry's path
// and whether it is a folder, collected while walking.
struct WalkEntry {
    std::string path;
    bool folder;
};

void StdFilesystemWalk(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("could not lay out the folder");
        return;
    }
    std::vector<WalkEntry> entries;
    for (auto _ : state) {
        entries.clear();
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(f.root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            entries.push_back({it->path().string(), it->is_directory(ec)});
        }
        benchmark::DoNotOptimize(entries.data());
    }
    if (entries.size() != static_cast<std::size_t>(kFiles + kTopFolders * (1 + kSubFolders)))
        state.SkipWithError("the walk missed entries");
    state.SetItemsProcessed(state.iterations() * kFiles);
}

// The walk again, asking the file system about each entry by its full path
// as the tree's scan does (it must follow links to tell folders): the fair
// anchor for the scan, whose time beyond it is the tree's own.
void StdFilesystemWalkWithStat(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("could not lay out the folder");
        return;
    }
    std::vector<WalkEntry> entries;
    for (auto _ : state) {
        entries.clear();
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(f.root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code statError;
            entries.push_back({it->path().string(), fs::is_directory(it->path(), statError)});
        }
        benchmark::DoNotOptimize(entries.data());
    }
    if (entries.size() != static_cast<std::size_t>(kFiles + kTopFolders * (1 + kSubFolders)))
        state.SkipWithError("the walk missed entries");
    state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(FileTreeDiskScan)->Unit(benchmark::kMillisecond);
BENCHMARK(FileTreeCacheRescan)->Unit(benchmark::kMillisecond);
BENCHMARK(StdFilesystemWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(StdFilesystemWalkWithStat)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    vxbench::Figures figures;
    figures.add(vxbench::Ratio{"file-tree cache: rescan(false) speed-up over disk scan",
                               "FileTreeCacheRescan", "FileTreeDiskScan", vxbench::Goal::AtLeast,
                               5.0, true});
    // The anchor is a walk that asks every entry's kind by its path, as the
    // tree's scan must (it follows links to tell folders); the plain walk,
    // which takes the kind from the directory listing, stays for comparison.
    figures.add(vxbench::Ratio{"file-tree scan: time vs walk that stats every entry",
                               "FileTreeDiskScan", "StdFilesystemWalkWithStat",
                               vxbench::Goal::AtMost, 1.5});
    figures.add(vxbench::Ratio{"file-tree scan: time vs std::filesystem walk", "FileTreeDiskScan",
                               "StdFilesystemWalk", vxbench::Goal::Report, 0.0});
    return figures.run(argc, argv);
}
