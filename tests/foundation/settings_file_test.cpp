// Settings files: scrambler, loading, saving now or after a delay, and the
// loader's log lines.
#include "support.h"

#include "NSVextra/Scrambler.h"
#include "NSVextra/SettingsEx.h"

#include <chrono>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::runLoopFor;
using vxtest::writeFile;

TEST(Scrambler, WorkedBytesAndEverySizeInPlace) {
    // Blocks of eight: out[P[j]] = in[j] ^ K[P[j]] with P = 5 2 7 0 3 6 1 4
    // and K = 3C 91 E4 27 B5 0A 6F D8; the tail is only combined with K[0..].
    const std::pair<std::string, std::string> worked[] = {
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
    unsigned char one = 0x55;
    encryptDataBuf(&one, -3); // no bytes: left alone
    EXPECT_EQ(one, 0x55);
}

class SettingsFiles : public vxtest::TempDirTest {};

TEST_F(SettingsFiles, ScrambledFilesFollowThePathAndSavesReplaceFiles) {
    Settings doc;
    for (auto [file, scrambled] :
         {std::pair{"/a/b.esf.d/plain.txt", true}, {"/a/plain.txt", false}, {"/a/p.esf", true}}) {
        doc.setFile(file);
        EXPECT_EQ(doc.isScrambled(), scrambled) << file;
    }
    doc.setFile(nullptr);
    EXPECT_EQ(doc.getFile(), "/a/p.esf");

    int v = 12, read = 0;
    doc.addHeadGroup("R");
    doc.addValue("/R", "v");
    doc.storeValue("/R", "v", Settings::kTypeInt, &v, 1);
    doc.setFile(path("s.esf").c_str());
    ASSERT_TRUE(doc.commit());
    const std::string plain = "<R>\n\t<v: 12, int>\n</R>\n";
    std::string bytes = readFile(path("s.esf"));
    EXPECT_NE(bytes, plain);
    decryptDataBuf(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(bytes, plain);
    Settings back;
    back.setFile(path("s.esf").c_str());
    EXPECT_TRUE(back.loadFile() && back.readValue("/R", "v", &read) && read == 12);

    // encryptFile unscrambles it into a plain file and back, in place too.
    EXPECT_TRUE(encryptFile(path("s.esf").c_str(), path("plain.txt").c_str(), false) &&
                readFile(path("plain.txt")) == plain);
    EXPECT_TRUE(encryptFile(path("plain.txt").c_str(), path("plain.txt").c_str(), true) &&
                readFile(path("plain.txt")) == readFile(path("s.esf")));
    EXPECT_FALSE(encryptFile(path("missing").c_str(), path("x").c_str(), true) ||
                 encryptFile(path("s.esf").c_str(), path("no/such/dir/x").c_str(), true));
    writeFile(path("empty"), "");
    EXPECT_TRUE(encryptFile(path("empty").c_str(), path("empty2").c_str(), true) &&
                readFile(path("empty2")).empty() && vxtest::exists(path("empty2")));

    // A scrambled block in memory loads when the document's path says so.
    Settings fromMem;
    fromMem.setFile("package/presets.esf");
    std::string scrambled = readFile(path("s.esf"));
    read = 0;
    EXPECT_TRUE(
        fromMem.loadMemFile(reinterpret_cast<unsigned char*>(scrambled.data()), scrambled.size()) &&
        fromMem.readValue("/R", "v", &read) && read == 12);
    // Saving replaces the file, keeping its mode and following links.
    tmp.folder("save");
    writeFile(path("save/keep.txt"), "<Old></Old>\n");
    chmod(path("save/keep.txt").c_str(), 0640);
    Settings saved, viaLink;
    saved.addHeadGroup("New");
    saved.setFile(path("no-such-dir/keep.txt").c_str());
    EXPECT_FALSE(saved.commit());
    saved.setFile(path("save/keep.txt").c_str());
    EXPECT_TRUE(saved.commit() && readFile(path("save/keep.txt")) == "<New>\n</New>\n");
    // The mode is kept and no temporary is left beside the file.
    EXPECT_EQ(std::pair(std::filesystem::status(path("save/keep.txt")).permissions(),
                        std::distance(std::filesystem::directory_iterator(path("save")), {})),
              std::pair(std::filesystem::perms(0640), 1L));

    ASSERT_EQ(symlink(path("save/keep.txt").c_str(), path("save/link.txt").c_str()), 0);
    viaLink.addHeadGroup("Linked");
    viaLink.setFile(path("save/link.txt").c_str());
    EXPECT_TRUE(viaLink.commit() && std::filesystem::is_symlink(path("save/link.txt")));
    EXPECT_EQ(readFile(path("save/keep.txt")), "<Linked>\n</Linked>\n");
}

TEST_F(SettingsFiles, EveryLoaderFailureIsLoggedOnceWithItsText) {
    const std::string d = tmp.path(), before = vxtest::readLog();
    writeFile(d + "/huge.txt", "");
    ASSERT_EQ(truncate((d + "/huge.txt").c_str(), 3LL << 30), 0); // sparse, 3 GiB
    writeFile(d + "/empty.txt", "");
    writeFile(d + "/bad.txt", "not a script");
    // A unix socket exists as a file but cannot be opened for reading.
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (d + "/sock").c_str(), sizeof addr.sun_path - 1);
    bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    for (const char* name : {"/missing.txt", "/sock", "", "/huge.txt", "/empty.txt", "/bad.txt"}) {
        Settings doc; // the missing file logs nothing
        doc.setFile((d + name).c_str());
        EXPECT_FALSE(doc.loadFile()) << name;
    }
    Settings mem;
    mem.setFile("pkg.txt");
    unsigned char byte = '<';
    // Too large a block is refused, not read.
    EXPECT_FALSE(mem.loadMemFile(&byte, 1ULL << 40) || mem.loadMemFile(&byte, 1) ||
                 mem.loadScriptFromMem(&byte, 1ULL << 40) || Settings().commit());
    {
        Settings held;
        held.setFile("held.txt");
        EXPECT_TRUE(held.loadScriptFromMem(&byte, 1));
    } // destroyed with its text buffer still held
    SettingsEx delayed;
    delayed.timerProc(SettingsEx::kCommitTimerId); // a delayed save with nothing to save
    EXPECT_EQ(vxtest::readLog().substr(before.size()),
              fmt::format("ERROR: failed to open file. error code = 6\n<{0}/sock>\n"
                          "error: ERROR: failed to open file <{0}/sock> error code = 6\n"
                          "ERROR: failed to open file. error code = 21\n<{0}>\n"
                          "error: ERROR: failed to open file <{0}> error code = 21\n"
                          "error: failed to allocate memory buffer for the file <{0}/huge.txt>\n"
                          "error: ERROR: file is zero\n"
                          "error: ERROR: failed to parse script: <{0}/bad.txt>\n"
                          "error: failed to allocate memory buffer for the file <pkg.txt>\n"
                          "error: ERROR: failed to load script from package: <pkg.txt>\n"
                          "error: ERROR: failed to parse script: <pkg.txt>\n"
                          "error: failed to allocate memory buffer for the file <pkg.txt>\n"
                          "error: m_pGrpHeadNode = null\nerror: data buffer != null [held.txt]\n"
                          "error: m_pGrpHeadNode = null\n",
                          d));
}

// Delayed saving on the calling thread's run loop.
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Counts the saves and notes when the first one happened.
struct CountingSettings : SettingsEx {
    explicit CountingSettings(const std::string& file) {
        setFile(file.c_str());
        EXPECT_TRUE(addHeadGroup("R") && addValue("/R", "v"));
    }
    void timerProc(int id) override {
        if (id == kCommitTimerId && ++saves == 1)
            firstSave = Clock::now();
        SettingsEx::timerProc(id);
    }
    void set(int value) { storeValue("/R", "v", Settings::kTypeInt, &value, 1); }
    int saves = 0;
    Clock::time_point firstSave{};
};

} // namespace

TEST_F(SettingsFiles, DelayedSaveIsOneWriteAfterTheLastRequestAndDroppedWithTheDocument) {
    {
        CountingSettings dropped(path("dropped.txt"));
        dropped.set(1);
        dropped.commit_delayed();
        EXPECT_TRUE(dropped.checkTimer(SettingsEx::kCommitTimerId));
        dropped.timerProc(1); // not its timer: nothing saved
    }
    // A machine too busy to come back from a 20 ms wait well within the 50 ms
    // delay lets the save fall due before the next request; such a round
    // shows nothing about the pushing back and is run again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        CountingSettings doc(path("d.txt"));
        bool onTime = true;
        Clock::time_point lastCall{};
        for (int value = 1; value <= 3 && onTime; ++value) {
            doc.set(value);
            doc.commit_delayed();
            lastCall = Clock::now();
            if (value < 3) {
                runLoopFor(0.020);
                onTime = Clock::now() - lastCall < milliseconds(45);
            }
        }
        if (!onTime)
            continue;
        EXPECT_EQ(doc.saves, 0); // each request pushed the save further out
        vxtest::runLoopUntil([&] { return doc.saves > 0; }, 3.0);
        runLoopFor(0.250);                                     // and the timer does not repeat
        EXPECT_GE(doc.firstSave - lastCall, milliseconds(45)); // never before its time
        EXPECT_EQ(fmt::format("{} {}", doc.saves, readFile(path("d.txt"))),
                  "1 <R>\n\t<v: 3, int>\n</R>\n");
        EXPECT_FALSE(doc.isModified() || doc.checkTimer(SettingsEx::kCommitTimerId) ||
                     vxtest::exists(path("dropped.txt")));
        return;
    }
    GTEST_SKIP() << "no round kept its 20 ms waits under 45 ms";
}
