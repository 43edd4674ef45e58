// Delayed saving on the calling thread's run loop.
#include "support.h"

#include "NSVextra/SettingsEx.h"

#include <chrono>

using namespace NSVextra;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using vxtest::readFile;
using vxtest::runLoopFor;

namespace {

// Counts the saves and notes when the first one happened.
struct CountingSettings : SettingsEx {
    explicit CountingSettings(const std::string& file) {
        setFile(file.c_str());
        addHeadGroup("R");
        addValue("/R", "v");
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

class SettingsDelayed : public vxtest::TempDirTest {};

} // namespace

TEST_F(SettingsDelayed, BurstOfRequestsGivesOneWriteAfterTheLast) {
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
        runLoopFor(0.250); // and the timer does not repeat
        EXPECT_EQ(doc.saves, 1);
        EXPECT_GE(doc.firstSave - lastCall,
                  milliseconds(45)); // never before its time
        EXPECT_EQ(readFile(path("d.txt")), "<R>\n\t<v: 3, int>\n</R>\n");
        EXPECT_FALSE(doc.isModified());
        EXPECT_FALSE(doc.checkTimer(SettingsEx::kCommitTimerId));
        return;
    }
    GTEST_SKIP() << "no round kept its 20 ms waits under 45 ms";
}

TEST_F(SettingsDelayed, DroppedWithTheDocumentAndOnlyForItsOwnTimer) {
    {
        CountingSettings doc(path("dropped.txt"));
        doc.set(1);
        doc.commit_delayed();
        EXPECT_TRUE(doc.checkTimer(SettingsEx::kCommitTimerId));
    }
    runLoopFor(0.200);
    EXPECT_FALSE(vxtest::exists(path("dropped.txt")));

    CountingSettings doc(path("other.txt"));
    doc.set(1);
    doc.timerProc(1);
    EXPECT_FALSE(vxtest::exists(path("other.txt")));
    doc.timerProc(SettingsEx::kCommitTimerId); // a direct call saves at once
    EXPECT_EQ(readFile(path("other.txt")), "<R>\n\t<v: 1, int>\n</R>\n");
    EXPECT_EQ(doc.getName(), "Settings");
}
