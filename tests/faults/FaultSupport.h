// Running a piece of a test in a child process under a resource limit: a
// file-size limit stands in for a full disk (writes past it fail with EFBIG;
// the signal it would raise is ignored), and the child's exit code carries
// its verdict back.
#pragma once

#include <functional>
#include <string>

namespace faults {

// Runs fn in a forked child with RLIMIT_FSIZE set to fileSizeLimit bytes
// (negative: no limit); answers fn's result, or 100 + the signal number when
// the child died of a signal.
int runInChild(const std::function<int()>& fn, long fileSizeLimit);

// A fresh folder below TMPDIR (or /tmp), removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

std::string readWhole(const std::string& path);
void writeWhole(const std::string& path, const std::string& bytes);
// The names in a folder, sorted.
std::string listing(const std::string& folder);

} // namespace faults
