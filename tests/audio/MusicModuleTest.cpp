// The music file, data/WINDWLKR.S3M, as libopenmpt sees it: a valid S3M of several channels,
// long enough, audible from the start, never clipped, soft in the highs, and seamless where
// it loops.
#include <libopenmpt/libopenmpt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr int kRate = 48000;

std::string MusicBytes()
{
    std::ifstream in(std::string(VS_DATA_DIR) + "/WINDWLKR.S3M", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void CollectLog(const char* message, void* user)
{
    static_cast<std::vector<std::string>*>(user)->push_back(message);
}

class MusicModule : public testing::Test
{
protected:
    void SetUp() override
    {
        bytes_ = MusicBytes();
        ASSERT_FALSE(bytes_.empty()) << "cannot read data/WINDWLKR.S3M";
        module_ = openmpt_module_create_from_memory2(bytes_.data(), bytes_.size(), &CollectLog,
                                                     &log_, &openmpt_error_func_store, nullptr,
                                                     nullptr, nullptr, nullptr);
        ASSERT_NE(module_, nullptr) << "libopenmpt refuses the module";
    }
    void TearDown() override
    {
        if (module_ != nullptr)
            openmpt_module_destroy(module_);
    }

    std::string Metadata(const char* key)
    {
        const char* value = openmpt_module_get_metadata(module_, key);
        std::string s = value != nullptr ? value : "";
        openmpt_free_string(value);
        return s;
    }

    // Interleaved stereo from the current position; shorter if the song ends first.
    std::vector<float> Render(double seconds)
    {
        std::vector<float> out(static_cast<size_t>(seconds * kRate) * 2);
        size_t done = 0;
        while (done < out.size() / 2)
        {
            const size_t want = std::min<size_t>(4096, out.size() / 2 - done);
            const size_t got =
                openmpt_module_read_interleaved_float_stereo(module_, kRate, want, &out[done * 2]);
            if (got == 0)
                break;
            done += got;
        }
        out.resize(done * 2);
        return out;
    }

    std::string bytes_;
    std::vector<std::string> log_;
    openmpt_module* module_ = nullptr;
};

double RmsDb(const std::vector<float>& s)
{
    double sum = 0;
    for (float v : s)
        sum += static_cast<double>(v) * v;
    return 10 * std::log10(sum / std::max<size_t>(s.size(), 1) + 1e-30);
}

float Peak(const std::vector<float>& s)
{
    float peak = 0;
    for (float v : s)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

} // namespace

TEST_F(MusicModule, IsAScreamTracker3ModuleThatLoadsCleanly)
{
    EXPECT_EQ(Metadata("type"), "s3m");
    EXPECT_EQ(Metadata("warnings"), "");
    EXPECT_TRUE(log_.empty()) << log_.front();
}

TEST_F(MusicModule, IsSmall)
{
    EXPECT_LT(bytes_.size(), 200u * 1024u);
}

TEST_F(MusicModule, UsesAtLeastFourChannels)
{
    std::set<int> channels;
    const int orders = openmpt_module_get_num_orders(module_);
    const int numChannels = openmpt_module_get_num_channels(module_);
    for (int o = 0; o < orders; ++o)
    {
        const int pattern = openmpt_module_get_order_pattern(module_, o);
        const int rows = openmpt_module_get_pattern_num_rows(module_, pattern);
        for (int r = 0; r < rows; ++r)
        {
            for (int c = 0; c < numChannels; ++c)
            {
                const int note = openmpt_module_get_pattern_row_channel_command(
                    module_, pattern, r, c, OPENMPT_MODULE_COMMAND_NOTE);
                if (note >= 1 && note <= 120)
                    channels.insert(c);
            }
        }
    }
    EXPECT_GE(channels.size(), 4u);
}

TEST_F(MusicModule, LastsAtLeastFortySecondsBeforeItRepeats)
{
    EXPECT_GE(openmpt_module_get_duration_seconds(module_), 40.0);
}

TEST_F(MusicModule, OpeningSecondsAreAudibleAndUnclipped)
{
    const auto opening = Render(8.0);
    ASSERT_EQ(opening.size(), static_cast<size_t>(8 * kRate * 2));
    EXPECT_GT(RmsDb(opening), -40.0) << "nearly silent";
    EXPECT_LT(Peak(opening), 0.95f) << "too close to clipping";
}

TEST_F(MusicModule, WholeSongKeepsHeadroomAndSoftHighs)
{
    const auto song = Render(openmpt_module_get_duration_seconds(module_));
    EXPECT_LT(Peak(song), 0.9f);
    EXPECT_GT(RmsDb(song), -30.0);

    // Energy above about 5 kHz (a first-order high-pass of the mono mix): a calm piece keeps
    // it to a trace; a shrill one would not.
    const double a = std::exp(-2 * M_PI * 5000.0 / kRate);
    double px = 0, py = 0, high = 0, all = 0;
    for (size_t i = 0; i + 1 < song.size(); i += 2)
    {
        const double x = 0.5 * (song[i] + song[i + 1]);
        const double y = a * (py + x - px);
        px = x;
        py = y;
        high += y * y;
        all += x * x;
    }
    EXPECT_LT(high / all, 0.02);
}

TEST_F(MusicModule, LoopsWithoutAClick)
{
    openmpt_module_set_repeat_count(module_, -1);
    const double duration = openmpt_module_get_duration_seconds(module_);
    const auto audio = Render(duration + 1.0);
    const size_t loopFrame = static_cast<size_t>(duration * kRate);
    ASSERT_GT(audio.size() / 2, loopFrame + kRate / 2) << "the song did not go on after its end";

    // The largest step between neighbouring samples within 50 ms of the loop point: a click
    // is a step far beyond what smooth music makes.
    float step = 0;
    for (size_t f = loopFrame - kRate / 20; f < loopFrame + kRate / 20; ++f)
    {
        for (int c = 0; c < 2; ++c)
            step = std::max(step, std::fabs(audio[f * 2 + c] - audio[(f - 1) * 2 + c]));
    }
    EXPECT_LT(step, 0.05f);
    // And the music does go on: the opening plays again.
    std::vector<float> after(audio.begin() + static_cast<long>(loopFrame + kRate / 2) * 2,
                             audio.end());
    EXPECT_GT(RmsDb(after), -50.0);
}
