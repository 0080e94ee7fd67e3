#include "Instruments.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace instruments
{
namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr int kCycle = 32;            // samples per cycle of a pitched sample
constexpr std::uint32_t kRate = 8372; // kCycle * 261.6 Hz, rounded

// A tiny deterministic generator: the same noise on every machine and library.
class Noise
{
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    double Next() // uniform in [-1, 1)
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t state_;
};

// A second-order filter (RBJ cookbook), enough for shaping noise.
class Biquad
{
public:
    static Biquad LowPass(double rate, double freq, double q) { return Make(rate, freq, q, 0); }
    static Biquad HighPass(double rate, double freq, double q) { return Make(rate, freq, q, 1); }
    static Biquad BandPass(double rate, double freq, double q) { return Make(rate, freq, q, 2); }

    double Process(double x)
    {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    static Biquad Make(double rate, double freq, double q, int kind)
    {
        const double w = 2 * kPi * freq / rate;
        const double alpha = std::sin(w) / (2 * q);
        const double c = std::cos(w);
        double b0 = 0;
        double b1 = 0;
        double b2 = 0;
        if (kind == 0)
        {
            b0 = b2 = (1 - c) / 2;
            b1 = 1 - c;
        }
        else if (kind == 1)
        {
            b0 = b2 = (1 + c) / 2;
            b1 = -(1 + c);
        }
        else
        {
            b0 = alpha;
            b2 = -alpha;
        }
        const double a0 = 1 + alpha;
        Biquad f;
        f.b0_ = b0 / a0;
        f.b1_ = b1 / a0;
        f.b2_ = b2 / a0;
        f.a1_ = -2 * c / a0;
        f.a2_ = (1 - alpha) / a0;
        return f;
    }

    double b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// Scales to the given peak so that every sample uses the 16-bit range alike; the music's
// balance lives in the pattern volumes.
void Normalise(std::vector<float>& data, double peak = 0.9)
{
    float max = 0;
    for (float v : data)
        max = std::max(max, std::fabs(v));
    if (max > 0)
    {
        for (float& v : data)
            v = static_cast<float>(v * peak / max);
    }
}

// Fades the last part of a one-shot sample to exact silence, so it never stops on a step.
void FadeTail(std::vector<float>& data, double fraction)
{
    const std::size_t n = data.size();
    const std::size_t fade = static_cast<std::size_t>(n * fraction);
    for (std::size_t i = 0; i < fade; ++i)
    {
        const double x = static_cast<double>(i + 1) / fade; // 0 < x <= 1 towards the end
        data[n - fade + i] *= static_cast<float>(0.5 + 0.5 * std::cos(kPi * x));
    }
}

// A short raised-cosine onset: avoids a click when a sample starts on a non-zero value.
double Onset(double t, double seconds)
{
    return t >= seconds ? 1.0 : 0.5 - 0.5 * std::cos(kPi * t / seconds);
}

s3m::Sample Named(const char* name, const char* fileName)
{
    s3m::Sample s;
    s.name = name;
    s.fileName = fileName;
    return s;
}

// A sample that plays once: length samples at rate, sample i being voice(i, i / rate)
// computed in order (so a voice may keep state), its tail faded over fadeFraction of the
// length, then normalised.
template <typename Voice>
s3m::Sample OneShot(const char* name, const char* fileName, std::uint32_t rate, int length,
                    double fadeFraction, Voice voice)
{
    s3m::Sample s = Named(name, fileName);
    s.data.resize(length);
    for (int i = 0; i < length; ++i)
        s.data[i] = static_cast<float>(voice(i, static_cast<double>(i) / rate));
    FadeTail(s.data, fadeFraction);
    Normalise(s.data);
    s.c4Rate = rate;
    return s;
}

} // namespace

s3m::Sample Pad()
{
    // Three voices whose cycle counts over the loop differ by one (about +-7 cents): they
    // beat slowly against each other, which gives the chorus, and since every partial
    // completes whole cycles within the loop, the loop is seamless.
    constexpr int kCyclesPerLoop = 256;
    constexpr int kLoop = kCycle * kCyclesPerLoop; // 8192 samples, about a second
    constexpr int kVoices[] = {-1, 0, 1};
    constexpr double kVoiceGain[] = {0.85, 1.0, 0.85};

    s3m::Sample s = Named("Warm pad", "WARMPAD.SMP");
    s.data.assign(2 * kLoop, 0.0f);
    Noise phases(0x9E3779B9u);
    for (int v = 0; v < 3; ++v)
    {
        const int cycles = kCyclesPerLoop + kVoices[v];
        for (int h = 1; h * cycles * 5 < kLoop * 2; ++h) // partials stay below 0.4 x rate
        {
            // A sawtooth's 1/h spectrum under a gentle low-pass: warm, never buzzy.
            const double amp = kVoiceGain[v] / h / (1.0 + (h / 3.0) * (h / 3.0));
            const double phase = kPi * (phases.Next() + 1.0);
            const double step = 2 * kPi * h * cycles / kLoop;
            for (int i = 0; i < 2 * kLoop; ++i)
                s.data[i] += static_cast<float>(amp * std::sin(step * i + phase));
        }
    }
    // The first loop length swells in; the second is the loop itself.
    for (int i = 0; i < kLoop; ++i)
    {
        const double x = static_cast<double>(i) / kLoop;
        s.data[i] *= static_cast<float>(x * x * (3 - 2 * x));
    }
    Normalise(s.data);
    s.c4Rate = kRate;
    s.loop = true;
    s.loopStart = kLoop;
    s.loopEnd = 2 * kLoop;
    return s;
}

s3m::Sample Bass()
{
    // A pluck head of 40 cycles whose extra brightness dies away exactly at the loop start,
    // then four cycles of the steady round tone.
    constexpr int kHead = 40 * kCycle;
    constexpr int kLoop = 4 * kCycle;
    constexpr double kSteady[] = {1.0, 0.32, 0.10};
    constexpr double kPluck[] = {0.0, 0.15, 0.12, 0.08, 0.05};
    constexpr double kSustain = 0.8;

    s3m::Sample s = Named("Round bass", "ROUNDBAS.SMP");
    s.data.resize(kHead + kLoop);
    for (int i = 0; i < kHead + kLoop; ++i)
    {
        const double head = i < kHead ? 1.0 - static_cast<double>(i) / kHead : 0.0;
        const double fade = head * head; // reaches 0 at the loop start, smoothly
        double v = 0;
        for (int h = 1; h <= 5; ++h)
        {
            const double amp = (h <= 3 ? kSteady[h - 1] : 0.0) + kPluck[h - 1] * fade;
            v += amp * std::sin(2 * kPi * h * i / kCycle);
        }
        const double level = kSustain + (1 - kSustain) * fade;
        s.data[i] = static_cast<float>(v * level * Onset(static_cast<double>(i) / kRate, 0.004));
    }
    Normalise(s.data);
    s.c4Rate = kRate;
    s.loop = true;
    s.loopStart = kHead;
    s.loopEnd = kHead + kLoop;
    return s;
}

s3m::Sample Bell()
{
    // Two-operator FM at a 1:1 ratio: the index falls with time, so the tone starts with a
    // soft bite and settles towards a sine, as an electric piano does.
    return OneShot("Soft bell", "SOFTBELL.SMP", kRate, 392 * kCycle, 0.15, // 1.5 s
                   [](int i, double t)
                   {
                       const double theta = 2 * kPi * i / kCycle;
                       const double index = 0.3 + 1.2 * std::exp(-t / 0.18);
                       const double amp = Onset(t, 0.006) * std::exp(-t / 0.5);
                       return amp * std::sin(theta + index * std::sin(theta));
                   });
}

s3m::Sample Pluck()
{
    // Additive harmonics, the higher ones dying faster, like a nylon string.
    return OneShot("Harp pluck", "HARPPLCK.SMP", kRate, 235 * kCycle, 0.2, // 0.9 s
                   [](int i, double t)
                   {
                       float v = 0; // summed in single precision, as the sample holds it
                       for (int h = 1; h <= 10; ++h)
                       {
                           const double amp = std::pow(h, -1.4);
                           const double decay = 2.5 + 1.2 * h; // per second
                           v += static_cast<float>(amp * std::exp(-decay * t) *
                                                   std::sin(2 * kPi * h * i / kCycle));
                       }
                       return v * static_cast<float>(Onset(t, 0.003));
                   });
}

s3m::Sample Kick()
{
    constexpr std::uint32_t rate = 11025;
    double phase = 0;
    return OneShot("Soft kick", "SOFTKICK.SMP", rate, rate / 2, 0.3,
                   [&](int, double t)
                   {
                       const double freq = 46 + 64 * std::exp(-t / 0.035); // the drop: the thump
                       phase += 2 * kPi * freq / rate;
                       return Onset(t, 0.002) * std::exp(-t / 0.2) * std::sin(phase);
                   });
}

s3m::Sample Snare()
{
    constexpr std::uint32_t rate = 16000;
    Noise noise(0x1234567u);
    Biquad band = Biquad::BandPass(rate, 1800, 0.7);
    Biquad soft = Biquad::LowPass(rate, 5000, 0.7);
    return OneShot("Brush snare", "BRUSHSNR.SMP", rate, rate * 2 / 5, 0.3,
                   [&](int, double t)
                   {
                       const double hiss =
                           soft.Process(band.Process(noise.Next())) * std::exp(-t / 0.09);
                       const double body = 0.5 * std::sin(2 * kPi * 185 * t) * std::exp(-t / 0.05);
                       return Onset(t, 0.002) * (1.6 * hiss + body);
                   });
}

s3m::Sample Hat()
{
    constexpr std::uint32_t rate = 22050;
    Noise noise(0xC0FFEEu);
    Biquad high = Biquad::HighPass(rate, 5500, 0.7);
    Biquad soft = Biquad::LowPass(rate, 9000, 0.7); // takes the sizzle off
    return OneShot("Quiet hat", "QUIETHAT.SMP", rate, rate * 3 / 20, 0.3,
                   [&](int, double t)
                   {
                       const double v = soft.Process(high.Process(noise.Next()));
                       return Onset(t, 0.001) * std::exp(-t / 0.03) * v;
                   });
}

} // namespace instruments
