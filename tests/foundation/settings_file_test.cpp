// Settings files: scrambler, loading, saving and the loader's log lines.
#include "support.h"

#include "NSVextra/Scrambler.h"
#include "NSVextra/Settings.h"
#include "NSVextra/SettingsEx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <csignal>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::writeFile;

TEST(Scrambler, WorkedBytesAndEverySizeInPlace) {
    // Blocks of eight: out[P[j]] = in[j] ^ K[P[j]] with P = 5 2 7 0 3 6 1 4
    // and K = 3C 91 E4 27 B5 0A 6F D8 (out[5] = 00 ^ 0A, out[0] = 03 ^ 3C);
    // the tail is only combined with K[0..] ("Hello": 48^3C, 65^91, ...).
    const std::vector<std::pair<std::string, std::string>> worked = {
        {std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 13),
         "\x3F\x97\xE5\x23\xB2\x0A\x6A\xDA\x34\x98\xEE\x2C\xB9"},
        {"Hello", "\x74\xF4\x88\x4B\xDA"}};
    for (auto [plain, scrambled] : worked) {
        std::string data = plain;
        encryptDataBuf(data.data(), static_cast<int>(data.size()));
        EXPECT_EQ(data, scrambled) << plain.size() << " bytes";
        decryptDataBuf(data.data(), static_cast<int>(data.size()));
        EXPECT_EQ(data, plain);
    }
    for (int size = 0; size <= 64; ++size) {
        // Guard bytes on both sides catch any write outside the range.
        std::vector<unsigned char> buf(static_cast<size_t>(size) + 16, 0xEE);
        for (int i = 0; i < size; ++i)
            buf[8 + static_cast<size_t>(i)] = static_cast<unsigned char>(i * 37 + 1);
        const std::vector<unsigned char> original = buf;
        encryptDataBuf(buf.data() + 8, size);
        if (size > 0) {
            EXPECT_NE(buf, original) << size;
        }
        decryptDataBuf(buf.data() + 8, size);
        EXPECT_EQ(buf, original) << size;
    }
    unsigned char one = 0x55;
    encryptDataBuf(&one, -3);
    EXPECT_EQ(one, 0x55);
    encryptDataBuf(nullptr, 8);
}

class SettingsFiles : public vxtest::TempDirTest {};

TEST_F(SettingsFiles, ScrambledFlagFollowsThePath) {
    Settings doc;
    doc.setFile(path("presets.esf").c_str());
    EXPECT_TRUE(doc.isScrambled());
    doc.setFile("/a/b.esf.d/plain.txt");
    EXPECT_TRUE(doc.isScrambled());
    doc.setFile("/a/plain.txt");
    EXPECT_FALSE(doc.isScrambled());
    doc.setFile(nullptr);
    EXPECT_EQ(doc.getFile(), "/a/plain.txt");
}

TEST_F(SettingsFiles, ScrambledFileHoldsTheScrambledScript) {
    Settings doc;
    doc.addHeadGroup("R");
    doc.addValue("/R", "v");
    int v = 12;
    doc.storeValue("/R", "v", Settings::kTypeInt, &v, 1);
    doc.setFile(path("s.esf").c_str());
    ASSERT_TRUE(doc.commit());
    std::string bytes = readFile(path("s.esf"));
    const std::string plain = "<R>\n\t<v: 12, int>\n</R>\n";
    ASSERT_EQ(bytes.size(), plain.size());
    EXPECT_NE(bytes, plain);
    decryptDataBuf(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(bytes, plain);

    // encryptFile unscrambles it into a plain file and back, in place too.
    ASSERT_TRUE(encryptFile(path("s.esf").c_str(), path("plain.txt").c_str(), false));
    EXPECT_EQ(readFile(path("plain.txt")), plain);
    ASSERT_TRUE(encryptFile(path("plain.txt").c_str(), path("plain.txt").c_str(), true));
    EXPECT_EQ(readFile(path("plain.txt")), readFile(path("s.esf")));
    EXPECT_FALSE(encryptFile(path("missing").c_str(), path("x").c_str(), true));
    EXPECT_FALSE(encryptFile(path("s.esf").c_str(), path("no/such/dir/x").c_str(), true));
    writeFile(path("empty"), "");
    EXPECT_TRUE(encryptFile(path("empty").c_str(), path("empty2").c_str(), true));
    EXPECT_EQ(readFile(path("empty2")), "");

    // A scrambled block in memory loads when the document's path says so.
    Settings fromMem;
    fromMem.setFile("package/presets.esf");
    std::string scrambled = readFile(path("s.esf"));
    ASSERT_TRUE(
        fromMem.loadMemFile(reinterpret_cast<unsigned char*>(scrambled.data()), scrambled.size()));
    int read = 0;
    ASSERT_TRUE(fromMem.readValue("/R", "v", &read));
    EXPECT_EQ(read, 12);
}

TEST_F(SettingsFiles, FailedSaveLeavesThePreviousFile) {
    writeFile(path("keep.txt"), "<Old></Old>\n");
    chmod(path("keep.txt").c_str(), 0640);
    Settings doc;
    doc.addHeadGroup("New");
    // The folder of a file that cannot be written: saving fails cleanly.
    doc.setFile(path("no-such-dir/keep.txt").c_str());
    EXPECT_FALSE(doc.commit());

    // A write that fails half way (here: the file size limit is hit) leaves
    // the previous file as it was and no temporary file behind.
    doc.setFile(path("keep.txt").c_str());
    doc.addValue("/New", "long");
    char text[] = "0123456789012345678901234567890123456789\0";
    doc.storeValue("/New", "long", Settings::kTypeString, text, 1);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(doc.commit() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "commit did not fail";
    EXPECT_EQ(readFile(path("keep.txt")), "<Old></Old>\n");

    char shortText[] = "x\0";
    doc.storeValue("/New", "long", Settings::kTypeString, shortText, 1);
    ASSERT_TRUE(doc.commit());
    EXPECT_EQ(readFile(path("keep.txt")), "<New>\n\t<long: \"x\", string>\n</New>\n");
    struct stat st {};
    ASSERT_EQ(stat(path("keep.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // the replaced file keeps its permissions

    // No temporary file is left beside it.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // A link is followed: the file it points to is replaced, the link stays.
    ASSERT_EQ(symlink(path("keep.txt").c_str(), path("link.txt").c_str()), 0);
    Settings viaLink;
    viaLink.addHeadGroup("Linked");
    viaLink.setFile(path("link.txt").c_str());
    ASSERT_TRUE(viaLink.commit());
    struct stat lst {};
    ASSERT_EQ(lstat(path("link.txt").c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(readFile(path("keep.txt")), "<Linked>\n</Linked>\n");
}

TEST_F(SettingsFiles, SaveWithoutRoomBesideTheFileWritesItInPlace) {
    // A name so long that nothing can be made beside it with a suffix: the
    // file is still saved, written in place.
    const std::string name = std::string(240, 'n') + ".set";
    writeFile(path(name), "<Old></Old>\n");
    Settings doc;
    doc.addHeadGroup("New");
    doc.setFile(path(name).c_str());
    ASSERT_TRUE(doc.commit());
    EXPECT_EQ(readFile(path(name)), "<New>\n</New>\n");
    Settings back;
    back.setFile(path(name).c_str());
    EXPECT_TRUE(back.loadFile());
    EXPECT_TRUE(back.groupExists("/New"));
}

// ---- the loader's failure lines, each exactly once ----

namespace {

// A unix socket exists as a file but cannot be opened for reading.
std::string makeSocket(const std::string& file) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, file.c_str(), sizeof addr.sun_path - 1);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return file;
}

std::string childDir() {
    return std::string(getenv("HOME")) + "/files";
}

} // namespace

// Child-only: every failure of the loader once, in a known order.
TEST(SettingsLoaderLogChild, DISABLED_EveryFailureOnce) {
    const std::string d = childDir();
    ASSERT_EQ(mkdir(d.c_str(), 0700), 0);

    Settings missing;
    missing.setFile((d + "/missing.txt").c_str());
    EXPECT_FALSE(missing.loadFile()); // logs nothing

    Settings sock;
    sock.setFile(makeSocket(d + "/sock").c_str());
    EXPECT_FALSE(sock.loadFile());

    Settings folder;
    folder.setFile(d.c_str());
    EXPECT_FALSE(folder.loadFile());

    writeFile(d + "/huge.txt", "");
    ASSERT_EQ(truncate((d + "/huge.txt").c_str(), 3LL << 30), 0); // sparse, 3 GiB
    Settings huge;
    huge.setFile((d + "/huge.txt").c_str());
    EXPECT_FALSE(huge.loadFile());

    writeFile(d + "/empty.txt", "");
    Settings empty;
    empty.setFile((d + "/empty.txt").c_str());
    EXPECT_FALSE(empty.loadFile());

    writeFile(d + "/bad.txt", "not a script");
    Settings bad;
    bad.setFile((d + "/bad.txt").c_str());
    EXPECT_FALSE(bad.loadFile());

    Settings mem;
    mem.setFile("pkg.txt");
    unsigned char byte = '<';
    EXPECT_FALSE(mem.loadMemFile(&byte, 1ULL << 40)); // too large a block: refused, not read
    EXPECT_FALSE(mem.loadMemFile(&byte, 1));
    EXPECT_FALSE(mem.loadScriptFromMem(&byte, 1ULL << 40));

    Settings noHead;
    EXPECT_FALSE(noHead.commit());

    {
        Settings held;
        held.setFile("held.txt");
        EXPECT_TRUE(held.loadScriptFromMem(&byte, 1));
    } // destroyed with its text buffer still held

    SettingsEx delayed;
    delayed.timerProc(SettingsEx::kCommitTimerId); // a delayed save with nothing to save
}

TEST(SettingsLoaderLog, EveryFailureLineAppearsOnceWhereItShould) {
    vxtest::TempDir home;
    home.folder("Library/Logs");
    const vxtest::ChildRun run =
        vxtest::runTestInChild("SettingsLoaderLogChild.DISABLED_EveryFailureOnce", home.path());
    ASSERT_EQ(run.exitCode, 0) << run.stdOut;
    std::string expected = "ERROR: failed to open file. error code = 6\n"
                           "<D/sock>\n"
                           "error: ERROR: failed to open file <D/sock> error code = 6\n"
                           "ERROR: failed to open file. error code = 21\n"
                           "<D>\n"
                           "error: ERROR: failed to open file <D> error code = 21\n"
                           "error: failed to allocate memory buffer for the file <D/huge.txt>\n"
                           "error: ERROR: file is zero\n"
                           "error: ERROR: failed to parse script: <D/bad.txt>\n"
                           "error: failed to allocate memory buffer for the file <pkg.txt>\n"
                           "error: ERROR: failed to load script from package: <pkg.txt>\n"
                           "error: ERROR: failed to parse script: <pkg.txt>\n"
                           "error: failed to allocate memory buffer for the file <pkg.txt>\n"
                           "error: m_pGrpHeadNode = null\n"
                           "error: data buffer != null [held.txt]\n"
                           "error: m_pGrpHeadNode = null\n";
    // D stands for the child's folder of files.
    for (size_t at = expected.find("<D"); at != std::string::npos; at = expected.find("<D", at))
        expected.replace(++at, 1, home / "files");
    EXPECT_EQ(run.log, expected);
}
