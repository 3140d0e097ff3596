// Synthesises the sonar clip: synthsonar <file.wav>.
// A short ping of about 0.8 kHz with a hard strike, then echoes that swell in softly, each
// later, lower and weaker than the one before, over a ringing tail: PCM, mono, 11025 Hz,
// 8 bits, exactly 20467 samples. The output is the same on every run.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr int kSampleRate = 11025;
constexpr int kSampleCount = 20467;
constexpr double kPi = 3.14159265358979323846;

// One sounding of the ping: the strike itself, or an echo of it.
struct CPing {
    double dStart;   // s
    double dFreq;    // Hz
    double dLevel;   // peak, before normalising
    double dAttack;  // s to full level
    double dDecay;   // s per 1/e
    double dWobble;  // depth of the slow swell, 0 to 1
};

constexpr CPing kPings[] = {
    {0.010, 820.0, 1.00, 0.004, 0.180, 0.00},  // the strike
    {0.300, 790.0, 0.55, 0.060, 0.220, 0.25},  // echoes: each later, lower and weaker
    {0.620, 760.0, 0.34, 0.080, 0.240, 0.30}, {0.960, 730.0, 0.20, 0.100, 0.260, 0.35},
    {1.310, 700.0, 0.11, 0.120, 0.280, 0.40},
};

double Envelope(const CPing& ping, double t) {
    if (t < 0.0) return 0.0;
    // A raised-cosine attack: a soft swell for the echoes, a click-free edge for the strike.
    const double attack = t >= ping.dAttack ? 1.0 : 0.5 - 0.5 * std::cos(kPi * t / ping.dAttack);
    const double swell = 1.0 - ping.dWobble * (0.5 - 0.5 * std::cos(2.0 * kPi * 3.0 * t));
    return ping.dLevel * attack * swell * std::exp(-t / ping.dDecay);
}

double Sample(double t) {
    double value = 0.0;
    for (const CPing& ping : kPings) {
        const double local = t - ping.dStart;
        const double envelope = Envelope(ping, local);
        if (envelope == 0.0) continue;
        // A faint partner a few hertz off makes the tone shimmer like water.
        value += envelope * (0.8 * std::sin(2.0 * kPi * ping.dFreq * local) +
                             0.2 * std::sin(2.0 * kPi * (ping.dFreq + 4.0) * local));
    }
    return value;
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.wav>\n", argv[0]);
        return 2;
    }

    std::vector<double> samples(kSampleCount);
    for (int i = 0; i < kSampleCount; ++i)
        samples[i] = Sample(static_cast<double>(i) / kSampleRate);
    // The last 60 ms fade to silence, so the clip never ends on a click.
    const int fadeCount = kSampleRate * 60 / 1000;
    for (int i = 0; i < fadeCount; ++i)
        samples[kSampleCount - 1 - i] *= static_cast<double>(i) / fadeCount;
    double peak = 0.0;
    for (double s : samples) peak = std::max(peak, std::fabs(s));

    std::vector<std::uint8_t> data;
    data.reserve(kSampleCount);
    for (double s : samples) {
        // Unsigned 8-bit PCM: silence is 128.
        const long level = std::lround(128.0 + 120.0 * s / peak);
        data.push_back(static_cast<std::uint8_t>(std::clamp(level, 0L, 255L)));
    }

    const std::uint32_t formatSize = 16;
    const std::uint32_t dataSize = kSampleCount;
    const std::uint32_t padSize = dataSize % 2;  // RIFF chunks end on an even offset
    std::vector<std::uint8_t> file;
    PutTag(file, "RIFF");
    Put32(file, 4 + (8 + formatSize) + (8 + dataSize + padSize));
    PutTag(file, "WAVE");
    PutTag(file, "fmt ");
    Put32(file, formatSize);
    Put16(file, 1);            // PCM
    Put16(file, 1);            // mono
    Put32(file, kSampleRate);  // samples per second
    Put32(file, kSampleRate);  // bytes per second
    Put16(file, 1);            // bytes per sample frame
    Put16(file, 8);            // bits per sample
    PutTag(file, "data");
    Put32(file, dataSize);
    file.insert(file.end(), data.begin(), data.end());
    if (padSize != 0) file.push_back(0);

    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
