// The Linux sound service: the player is started with the mapped path, never waited for, and
// leaves no zombie behind.
#include "platform/platform.hpp"
#include "platform/sys.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Children of this process that have ended but were not reaped.
int zombieChildren() {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        char state = 0;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid() && state == 'Z') {
            ++zombies;
        }
    }
    closedir(proc);
    return zombies;
}

TEST(SoundService, StartsThePlayerDetachedAndLeavesNoZombies) {
    ASSERT_TRUE(sys::processInit());
    char dir[] = "/tmp/boardmon-sound-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string calls = std::string(dir) + "/calls";
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", STANDIN_PLAYER_DIR ":/usr/bin:/bin", 1);
    setenv("STANDIN_PLAYER_LOG", calls.c_str(), 1);

    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        plat::playWavAsync("c:/tmp/klaxon-short.wav");
    }
    const auto took = std::chrono::steady_clock::now() - started;
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("STANDIN_PLAYER_LOG");
    EXPECT_LT(took, std::chrono::seconds(2)); // five starts, no waiting for any of them

    std::string recorded;
    for (int i = 0; i < 300; ++i) {
        std::ifstream f(calls);
        std::getline(f, recorded, '\0');
        if (recorded.size() >= 5 * 25 && zombieChildren() == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        expected += "-q /tmp/klaxon-short.wav\n";
    }
    EXPECT_EQ(recorded, expected);
    EXPECT_EQ(zombieChildren(), 0);
    std::remove(calls.c_str());
    rmdir(dir);
}

} // namespace
