// The audio layer with SDL's dummy driver (set for every test) or its disk driver, and the
// real music module: the calls start a loop decoded on SDL's thread, and every failure on
// the way leaves them harmless.
#include "AudioTestSupport.h"
#include "audio/Internal.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

using audiotest::LogCapture;
using audiotest::MusicPath;
using audiotest::Stats;
using audiotest::WaitForPulls;
using test_support::ScratchDir;
using test_support::WriteFile;

namespace
{

constexpr FMOD_MODE kLoopingStream = FMOD_LOOP_NORMAL | FMOD_2D; // 0x0A, as the demo asks

// The demo's five calls; returns the results of Init, CreateStream and PlaySound.
struct Started
{
    FMOD_SYSTEM* system = nullptr;
    FMOD_SOUND* music = nullptr;
    FMOD_CHANNEL* channel = nullptr;
    FMOD_RESULT init = FMOD_OK;
    FMOD_RESULT stream = FMOD_OK;
    FMOD_RESULT play = FMOD_OK;
};

Started StartMusic(const std::string& path, FMOD_OUTPUTTYPE output = FMOD_OUTPUTTYPE_AUTODETECT)
{
    Started s;
    EXPECT_EQ(FMOD_System_Create(&s.system), FMOD_OK);
    EXPECT_EQ(FMOD_System_SetOutput(s.system, output), FMOD_OK);
    s.init = FMOD_System_Init(s.system, 50, FMOD_INIT_NORMAL, nullptr);
    s.stream = FMOD_System_CreateStream(s.system, path.c_str(), kLoopingStream, nullptr, &s.music);
    s.play = FMOD_System_PlaySound(s.system, s.music, nullptr, 0, &s.channel);
    return s;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(AudioLayer, PlayingMusicIsPulledOnAnotherThread)
{
    LogCapture log;
    Started s = StartMusic(MusicPath());
    EXPECT_EQ(s.init, FMOD_OK);
    EXPECT_EQ(s.stream, FMOD_OK);
    EXPECT_EQ(s.play, FMOD_OK);
    ASSERT_NE(s.music, nullptr);
    EXPECT_NE(s.channel, nullptr);

    const audio::OutputStats atPlay = Stats(s.system);
    EXPECT_TRUE(atPlay.deviceOpen);
    EXPECT_GT(atPlay.sampleRate, 0);
    // A tenth of a second pulled after PlaySound, by the device's own thread; the test
    // thread only sleeps meanwhile.
    ASSERT_TRUE(WaitForPulls(s.system, atPlay.framesPulled, atPlay.sampleRate / 10));
    const audio::OutputStats later = Stats(s.system);
    EXPECT_NE(later.pullThread, std::thread::id());
    EXPECT_NE(later.pullThread, std::this_thread::get_id());
    EXPECT_TRUE(log.Warnings().empty());

    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

TEST(AudioLayer, DiskDriverRecordsAudibleUnclippedMusic)
{
    const ScratchDir dir;
    const std::string recording = dir.Path("music.raw");
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "disk", 1), 0);
    ASSERT_EQ(setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1), 0);

    Started s = StartMusic(MusicPath());
    ASSERT_EQ(s.init, FMOD_OK);
    ASSERT_EQ(s.play, FMOD_OK);
    const audio::OutputStats atPlay = Stats(s.system);
    // Two seconds: the opening chord swells in over the first one.
    ASSERT_TRUE(WaitForPulls(s.system, atPlay.framesPulled, 2 * atPlay.sampleRate,
                             std::chrono::seconds(20)));
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK); // closes the recording
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    // The device was opened for stereo float, which the disk driver writes unchanged.
    const std::string raw = ReadAll(recording);
    const size_t count = raw.size() / sizeof(float);
    ASSERT_GE(count, static_cast<size_t>(2 * atPlay.sampleRate));
    const auto* samples = reinterpret_cast<const float*>(raw.data());
    double sum = 0;
    float peak = 0;
    for (size_t i = 0; i < count; ++i)
    {
        sum += static_cast<double>(samples[i]) * samples[i];
        peak = std::max(peak, std::fabs(samples[i]));
    }
    const double rmsDb = 10 * std::log10(sum / count + 1e-30);
    EXPECT_GT(rmsDb, -50.0) << "the recording is (nearly) silent";
    EXPECT_LT(peak, 0.99f) << "the recording clips";
}

TEST(AudioLayer, MissingFileWarnsOnceAndLeavesTheCallsHarmless)
{
    LogCapture log;
    Started s = StartMusic("no-such-music.s3m");
    EXPECT_EQ(s.init, FMOD_OK);
    EXPECT_EQ(s.stream, FMOD_ERR_FILE_NOTFOUND);
    EXPECT_EQ(s.music, nullptr);
    EXPECT_EQ(s.play, FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(s.channel, nullptr);

    const auto warnings = log.Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no-such-music.s3m"), std::string::npos) << warnings[0];

    // The device keeps running, silently, until release.
    const audio::OutputStats stats = Stats(s.system);
    EXPECT_TRUE(WaitForPulls(s.system, stats.framesPulled, 1));
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

struct BrokenFile
{
    const char* name;
    std::string bytes;
};

// gtest would otherwise dump the object's bytes, padding included.
void PrintTo(const BrokenFile& file, std::ostream* out)
{
    *out << file.name;
}

std::string Garbage()
{
    std::string bytes(4096, '\0');
    std::uint32_t x = 12345;
    for (char& c : bytes)
    {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

// The real module cut after its fixed header, before the order list. (libopenmpt accepts a
// module cut later, after its pointer tables, and plays the missing parts as silence.)
std::string TruncatedMusic()
{
    return ReadAll(MusicPath()).substr(0, 0x60);
}

class CorruptModule : public testing::TestWithParam<BrokenFile>
{
};

TEST_P(CorruptModule, WarnsOnceAndLeavesTheCallsHarmless)
{
    const ScratchDir dir;
    const std::string file = dir.Path("BROKEN.S3M");
    WriteFile(file, GetParam().bytes);
    LogCapture log;
    Started s = StartMusic(file);
    EXPECT_EQ(s.stream, FMOD_ERR_FORMAT);
    EXPECT_EQ(s.music, nullptr);
    EXPECT_EQ(s.play, FMOD_ERR_INVALID_PARAM);
    const auto warnings = log.Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(file), std::string::npos) << warnings[0];
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

INSTANTIATE_TEST_SUITE_P(AudioLayer, CorruptModule,
                         testing::Values(BrokenFile{"Empty", ""}, BrokenFile{"Garbage", Garbage()},
                                         BrokenFile{"TruncatedHeader", TruncatedMusic()}),
                         [](const testing::TestParamInfo<BrokenFile>& info)
                         { return std::string(info.param.name); });

// A path that names no regular file: a directory opens like a file but has no contents, and
// opening a FIFO waits for a writer that never comes.
TEST(AudioLayer, ANonRegularFileWarnsOnceWithoutWaiting)
{
    const ScratchDir dir;
    const std::string fifo = dir.Path("MUSIC.S3M");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, dir.Root()})
    {
        LogCapture log;
        Started s = StartMusic(path, FMOD_OUTPUTTYPE_NOSOUND);
        EXPECT_EQ(s.stream, FMOD_ERR_FILE_NOTFOUND) << path;
        EXPECT_EQ(s.music, nullptr) << path;
        const auto warnings = log.Warnings();
        ASSERT_EQ(warnings.size(), 1u) << path;
        EXPECT_NE(warnings[0].find(path), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("not a regular file"), std::string::npos) << warnings[0];
        EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
    }
}

TEST(AudioLayer, WithoutAnAudioDriverTheDemoRunsSilent)
{
    // What a machine without sound looks like to SDL: no driver that can start.
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    LogCapture log;
    Started s = StartMusic(MusicPath());
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(s.init, FMOD_ERR_OUTPUT_INIT);
    EXPECT_EQ(s.stream, FMOD_OK);
    EXPECT_EQ(s.play, FMOD_OK);
    EXPECT_FALSE(Stats(s.system).deviceOpen);
    EXPECT_TRUE(log.Warnings().empty());
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

TEST(AudioLayer, NoSoundOutputAcceptsEverything)
{
    Started s = StartMusic(MusicPath(), FMOD_OUTPUTTYPE_NOSOUND);
    EXPECT_EQ(s.init, FMOD_OK);
    EXPECT_EQ(s.stream, FMOD_OK);
    EXPECT_EQ(s.play, FMOD_OK);
    EXPECT_FALSE(Stats(s.system).deviceOpen);
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

TEST(AudioLayer, NullHandlesAndMisorderedCallsAreRefused)
{
    EXPECT_EQ(FMOD_System_Create(nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_SetOutput(nullptr, FMOD_OUTPUTTYPE_AUTODETECT), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_Init(nullptr, 50, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INVALID_PARAM);
    FMOD_SOUND* sound = reinterpret_cast<FMOD_SOUND*>(1);
    EXPECT_EQ(FMOD_System_CreateStream(nullptr, "x", kLoopingStream, nullptr, &sound),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound, nullptr);
    FMOD_CHANNEL* channel = reinterpret_cast<FMOD_CHANNEL*>(1);
    EXPECT_EQ(FMOD_System_PlaySound(nullptr, nullptr, nullptr, 0, &channel),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(channel, nullptr);
    EXPECT_EQ(FMOD_Sound_Release(nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_Release(nullptr), FMOD_ERR_INVALID_PARAM);

    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    FMOD_SOUND* music = nullptr;
    ASSERT_EQ(
        FMOD_System_CreateStream(system, MusicPath().c_str(), kLoopingStream, nullptr, &music),
        FMOD_OK);
    EXPECT_EQ(FMOD_System_PlaySound(system, music, nullptr, 0, nullptr), FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(FMOD_System_Init(system, 0, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_Init(system, 50, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    EXPECT_EQ(FMOD_System_Init(system, 50, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INITIALIZED);
    EXPECT_EQ(FMOD_System_SetOutput(system, FMOD_OUTPUTTYPE_NOSOUND), FMOD_ERR_INITIALIZED);
    EXPECT_EQ(FMOD_System_Release(system), FMOD_OK);
}

TEST(AudioLayer, PlayingAgainRestartsOnTheSameChannel)
{
    Started s = StartMusic(MusicPath());
    ASSERT_EQ(s.play, FMOD_OK);
    FMOD_CHANNEL* again = nullptr;
    EXPECT_EQ(FMOD_System_PlaySound(s.system, s.music, nullptr, 0, &again), FMOD_OK);
    EXPECT_EQ(again, s.channel);
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

TEST(AudioLayer, ReleasingTheSoundWhilePlayingIsSafe)
{
    Started s = StartMusic(MusicPath());
    ASSERT_EQ(s.play, FMOD_OK);
    const audio::OutputStats atPlay = Stats(s.system);
    ASSERT_TRUE(WaitForPulls(s.system, atPlay.framesPulled, atPlay.sampleRate / 20));
    EXPECT_EQ(FMOD_Sound_Release(s.music), FMOD_OK);
    // The device keeps pulling (silence) without touching the freed module.
    ASSERT_TRUE(WaitForPulls(s.system, Stats(s.system).framesPulled, atPlay.sampleRate / 20));
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

// A sound without a loop ends on the audio thread, which frees its channel there. PlaySound
// looks for a free channel under the device lock, where the callback changes the channels
// (ThreadSanitizer caught the search reading them unlocked). Two sounds take turns on one
// channel, each skipped to its last millisecond so that it ends at once.
TEST(AudioLayer, AnEndedSoundFreesTheOnlyChannelForTheNext)
{
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    ASSERT_EQ(FMOD_System_Init(system, 1, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    FMOD_SOUND* sounds[2] = {};
    for (FMOD_SOUND*& sound : sounds)
    {
        ASSERT_EQ(
            FMOD_System_CreateStream(system, MusicPath().c_str(), FMOD_LOOP_OFF, nullptr, &sound),
            FMOD_OK);
    }
    const double duration = openmpt_module_get_duration_seconds(sounds[0]->module);
    for (int round = 0; round < 10; ++round)
    {
        FMOD_SOUND* sound = sounds[round % 2];
        // The channel stays busy until the other sound has ended.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        FMOD_RESULT played = FMOD_System_PlaySound(system, sound, nullptr, 0, nullptr);
        while (played == FMOD_ERR_CHANNEL_ALLOC && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            played = FMOD_System_PlaySound(system, sound, nullptr, 0, nullptr);
        }
        ASSERT_EQ(played, FMOD_OK) << "round " << round;
        audio::WithDeviceLocked(
            system, [&] { openmpt_module_set_position_seconds(sound->module, duration - 0.001); });
    }
    EXPECT_EQ(FMOD_System_Release(system), FMOD_OK);
}

TEST(AudioLayer, SdlLeavesCtrlCToTheProcess)
{
    Started s = StartMusic(MusicPath());
    ASSERT_EQ(s.init, FMOD_OK);
    struct sigaction action = {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
    EXPECT_EQ(FMOD_System_Release(s.system), FMOD_OK);
}

// Run with leak detection on by its own CTest entry (see CMakeLists.txt).
TEST(AudioLayer, HundredCreatePlayReleaseCycles)
{
    for (int i = 0; i < 100; ++i)
    {
        Started s = StartMusic(MusicPath());
        ASSERT_EQ(s.init, FMOD_OK) << "cycle " << i;
        ASSERT_EQ(s.stream, FMOD_OK) << "cycle " << i;
        ASSERT_EQ(s.play, FMOD_OK) << "cycle " << i;
        // Now and then let the thread decode before tearing down under it.
        if (i % 10 == 0)
        {
            ASSERT_TRUE(WaitForPulls(s.system, Stats(s.system).framesPulled, 1));
        }
        ASSERT_EQ(FMOD_System_Release(s.system), FMOD_OK) << "cycle " << i;
    }
}
