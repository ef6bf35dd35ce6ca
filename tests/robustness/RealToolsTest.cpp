// WAV files written by programs nobody here wrote (sox, ffmpeg, espeak-ng, Python's wave
// module), made at test time, converted by tessaly-convert with several settings and read back
// by sox. PCM and float files of any width and channel count must come out in the asked format,
// and in the form they were read in, with the samples the conversion rules give; companded files
// are refused cleanly.
#include "ChildProcess.h"
#include "ConvertFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

enum class Kind {
    Pcm,       // integer samples, any width
    Float,     // IEEE float samples, 32 or 64 bit
    Companded, // 8-bit A-law or mu-law: the 8-bit re-conversion refuses it
};

struct ToolFile {
    std::string Name;
    std::vector<std::string> Make; // "@" stands for the file to write
    Kind Type;
    int Rate, Bits, Channels;
    bool HasList = false;
};

// Writes frames of a fixed pseudo-random pattern: width bytes a sample, channels, rate.
constexpr const char* kPythonWriter = R"(
import sys, wave
path, width, channels, rate = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
data = bytes((i * 2654435761 >> 7) & 255 for i in range(401 * width * channels))
with wave.open(path, 'wb') as w:
    w.setnchannels(channels); w.setsampwidth(width); w.setframerate(rate); w.writeframes(data)
)";

std::vector<std::string> Sox(std::vector<std::string> format, const std::string& synth) {
    std::vector<std::string> argv = {"sox", "-n"};
    argv.insert(argv.end(), format.begin(), format.end());
    argv.insert(argv.end(), {"@", "synth", "0.05"});
    std::istringstream words(synth);
    for (std::string w; words >> w;)
        argv.push_back(w);
    return argv;
}

std::vector<std::string> Ffmpeg(const std::string& source, const std::string& codec,
                                bool bitexact = false, int channels = 0) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", source};
    if (bitexact)
        argv.insert(argv.end(), {"-fflags", "+bitexact"});
    if (channels)
        argv.insert(argv.end(), {"-ac", std::to_string(channels)});
    argv.insert(argv.end(), {"-c:a", codec, "@"});
    return argv;
}

std::vector<std::string> Python(int width, int channels, int rate) {
    return {"python3",
            "-c",
            kPythonWriter,
            "@",
            std::to_string(width),
            std::to_string(channels),
            std::to_string(rate)};
}

const char* kTwoTones = "aevalsrc=sin(440*2*PI*t)|0.5*sin(660*2*PI*t):s=48000:d=0.05";
const char* kSixTones = "sine 440 sine 550 sine 660 sine 770 sine 880 square 220";
const char* kSine16k = "sine=f=440:d=0.05:r=16000";

std::vector<ToolFile> ToolFiles() {
    return {
        {"sox-u8-stereo.wav",
         Sox({"-r", "22050", "-c", "2", "-b", "8", "-e", "unsigned"}, "sine 440 sine 660"),
         Kind::Pcm, 22050, 8, 2},
        {"sox-s16-mono.wav", Sox({"-r", "44100", "-c", "1", "-b", "16"}, "sine 300"), Kind::Pcm,
         44100, 16, 1},
        {"sox-s16-stereo.wav", Sox({"-r", "11025", "-c", "2", "-b", "16"}, "square 300 sine 500"),
         Kind::Pcm, 11025, 16, 2},
        {"sox-float.wav", Sox({"-r", "44100", "-c", "2", "-e", "float", "-b", "32"}, "sine 440"),
         Kind::Float, 44100, 32, 2},
        {"sox-f64-mono.wav", Sox({"-r", "8000", "-c", "1", "-e", "float", "-b", "64"}, "sine 440"),
         Kind::Float, 8000, 64, 1},
        {"sox-f32-6ch.wav", Sox({"-r", "32000", "-c", "6", "-e", "float", "-b", "32"}, kSixTones),
         Kind::Float, 32000, 32, 6},
        {"sox-s32-mono.wav", Sox({"-r", "44100", "-c", "1", "-b", "32"}, "sine 440"), Kind::Pcm,
         44100, 32, 1},
        {"sox-s16-6ch.wav", Sox({"-r", "48000", "-c", "6", "-b", "16"}, kSixTones), Kind::Pcm,
         48000, 16, 6},
        {"sox-u8-6ch.wav", Sox({"-r", "11025", "-c", "6", "-b", "8", "-e", "unsigned"}, kSixTones),
         Kind::Pcm, 11025, 8, 6},
        {"sox-mulaw.wav", Sox({"-r", "8000", "-c", "1", "-e", "mu-law"}, "sine 440"),
         Kind::Companded, 8000, 8, 1},
        {"sox-s24.wav", Sox({"-r", "48000", "-c", "2", "-b", "24"}, "sine 440"), Kind::Pcm, 48000,
         24, 2},
        {"ffmpeg-u8-mono.wav", Ffmpeg("sine=f=440:d=0.05:r=16000", "pcm_u8"), Kind::Pcm, 16000, 8,
         1, true},
        {"ffmpeg-s16-stereo.wav", Ffmpeg(kTwoTones, "pcm_s16le"), Kind::Pcm, 48000, 16, 2, true},
        {"ffmpeg-s16-mono-bare.wav", Ffmpeg("sine=f=440:d=0.05:r=8000", "pcm_s16le", true),
         Kind::Pcm, 8000, 16, 1},
        {"ffmpeg-alaw.wav", Ffmpeg("sine=f=440:d=0.05:r=8000", "pcm_alaw"), Kind::Companded, 8000,
         8, 1, true},
        {"ffmpeg-s24.wav", Ffmpeg(kTwoTones, "pcm_s24le"), Kind::Pcm, 48000, 24, 2, true},
        {"ffmpeg-s32-mono.wav", Ffmpeg(kSine16k, "pcm_s32le"), Kind::Pcm, 16000, 32, 1, true},
        {"ffmpeg-f32-mono.wav", Ffmpeg(kSine16k, "pcm_f32le"), Kind::Float, 16000, 32, 1, true},
        {"ffmpeg-s24-6ch.wav", Ffmpeg(kSine16k, "pcm_s24le", false, 6), Kind::Pcm, 16000, 24, 6,
         true},
        {"ffmpeg-f64-6ch.wav", Ffmpeg(kSine16k, "pcm_f64le", false, 6), Kind::Float, 16000, 64, 6,
         true},
        {"espeak.wav",
         {"espeak-ng", "-w", "@", "Tessaly converts wave files"},
         Kind::Pcm,
         22050,
         16,
         1},
        {"python-u8-mono.wav", Python(1, 1, 11025), Kind::Pcm, 11025, 8, 1},
        {"python-s16-stereo.wav", Python(2, 2, 32000), Kind::Pcm, 32000, 16, 2},
        {"python-s24-stereo.wav", Python(3, 2, 32000), Kind::Pcm, 32000, 24, 2},
        {"python-s32-mono.wav", Python(4, 1, 22050), Kind::Pcm, 22050, 32, 1},
    };
}

struct Settings {
    std::string Name;
    std::vector<std::string> Options;
    int Rate = 0, Bits = 0, Channels = 0;
    bool KeepLower = true;
};

void PrintTo(const Settings& settings, std::ostream* os) {
    *os << settings.Name;
}

std::vector<Settings> AllSettings() {
    return {
        {"Keep", {}},
        {"To8Bit", {"--bits", "8"}, 0, 8},
        {"To16Bit", {"--bits", "16"}, 0, 16},
        {"ToMono", {"--channels", "1"}, 0, 0, 1},
        {"ToStereo", {"--channels", "2"}, 0, 0, 2},
        {"To11025Hz8BitMono", {"--rate", "11025", "--bits", "8", "--channels", "1"}, 11025, 8, 1},
        {"Raised44100Hz16BitStereo",
         {"--rate", "44100", "--no-keep-lower", "--bits", "16", "--channels", "2"},
         44100,
         16,
         2,
         false},
    };
}

// What sox sees in a file: its format and its samples, integers or floats, as doubles.
struct SoxView {
    int Rate = 0, Bits = 0, Channels = 0;
    std::string Encoding;
    std::vector<double> Samples;
};

std::string InfoField(const std::string& info, const std::string& field) {
    const auto at = info.find(field);
    if (at == std::string::npos)
        return "";
    const auto start = info.find(": ", at) + 2;
    return info.substr(start, info.find('\n', start) - start);
}

// Samples as stored, little-endian, signed but for 8-bit which stays unsigned.
std::vector<double> Decode(const std::string& raw, int bits, bool isFloat) {
    const int width = bits / 8;
    std::vector<double> samples;
    for (std::size_t i = 0; i + width <= raw.size(); i += width) {
        std::uint64_t v = 0;
        for (int b = width - 1; b >= 0; --b)
            v = v << 8 | static_cast<std::uint8_t>(raw[i + b]);
        const bool negative = width > 1 && (v >> (bits - 1)) & 1;
        if (isFloat && bits == 32)
            samples.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(v)));
        else if (isFloat)
            samples.push_back(std::bit_cast<double>(v));
        else
            samples.push_back(negative ? static_cast<double>(static_cast<std::int64_t>(v) -
                                                             (std::int64_t{1} << bits))
                                       : static_cast<double>(v));
    }
    return samples;
}

SoxView ReadWithSox(const std::string& path) {
    const RunResult info = RunProgram({"sox", "--i", path});
    SoxView view;
    view.Rate = std::stoi(InfoField(info.Out, "Sample Rate"));
    view.Channels = std::stoi(InfoField(info.Out, "Channels"));
    view.Encoding = InfoField(info.Out, "Sample Encoding");
    view.Bits = std::stoi(view.Encoding);
    // sox carries samples as 32-bit integers inside, so floats are read exactly by ffmpeg.
    const bool isFloat = view.Encoding.find("Floating") != std::string::npos;
    const RunResult raw =
        isFloat ? RunProgram({"ffmpeg", "-v", "error", "-i", path, "-f", "f64le", "-"})
                : RunProgram({"sox", path, "-t", "raw", "-"});
    EXPECT_EQ(raw.ExitCode, 0) << raw.Err;
    view.Samples = Decode(raw.Out, isFloat ? 64 : view.Bits, isFloat);
    return view;
}

// The conversion rules, independent of the converter's code: width first, then channels.
// Every value is exact in a double, so std::trunc is the integer division toward zero.
std::vector<double> Converted(std::vector<double> s, const ToolFile& file, int toBits,
                              int toChannels) {
    const int fromBits = file.Bits;
    if (fromBits == 8 && toBits == 16)
        for (auto& v : s)
            v = (v - 128) * 256;
    const double range = toBits == 16 ? 32768 : 128;
    if (file.Type == Kind::Float && toBits != 0)
        for (auto& v : s)
            v = std::isnan(v) ? 0 : std::clamp(std::trunc(v * range), -range, range - 1);
    else if (fromBits > toBits && toBits != 0)
        for (auto& v : s)
            v = std::trunc(v / std::ldexp(1.0, fromBits - toBits));
    if (fromBits > toBits && toBits == 8)
        for (auto& v : s)
            v += 128;
    const bool floatOut = file.Type == Kind::Float && toBits == 0;
    std::vector<double> out;
    if (file.Channels > 1 && toChannels == 1)
        for (std::size_t i = 0; i + file.Channels <= s.size(); i += file.Channels) {
            double sum = 0;
            for (int c = 0; c < file.Channels; ++c)
                sum += s[i + c];
            const double mean = sum / file.Channels;
            out.push_back(!floatOut ? std::trunc(mean) : fromBits == 32 ? float(mean) : mean);
        }
    else if (file.Channels == 1 && toChannels == 2)
        for (auto v : s)
            out.insert(out.end(), {v, v});
    else
        out = s;
    return out;
}

std::string EncodingOf(int bits) {
    return bits == 8 ? "8-bit Unsigned Integer PCM"
                     : std::to_string(bits) + "-bit Signed Integer PCM";
}

// The size of the file's first chunk of that identifier, -1 when it has none.
std::int64_t ChunkSizeIn(const std::string& path, const std::string& id) {
    const Bytes b = ReadFileBytes(path);
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | b[at + 7] << 24;
        if (std::string(b.begin() + at, b.begin() + at + 4) == id)
            return size;
        at += 8 + size + (size & 1);
    }
    return -1;
}

class RealToolsTest : public testing::TestWithParam<Settings> {
protected:
    static void SetUpTestSuite() {
        sources = std::make_unique<TempDir>();
        for (const ToolFile& file : ToolFiles()) {
            std::vector<std::string> argv = file.Make;
            for (auto& a : argv)
                if (a == "@")
                    a = *sources / file.Name;
            const RunResult made = RunProgram(argv);
            ASSERT_EQ(made.ExitCode, 0) << file.Name << ": " << made.Err;
        }
    }
    static void TearDownTestSuite() { sources.reset(); }

    // The row of each file, by name, from one run over all the files.
    std::map<std::string, std::vector<std::string>> ConvertAll() {
        std::vector<std::string> args = {converter.path(), "--dir", out.path()};
        args.insert(args.end(), GetParam().Options.begin(), GetParam().Options.end());
        for (const ToolFile& file : ToolFiles())
            args.push_back(*sources / file.Name);
        const ChildResult run = RunChild(args);
        EXPECT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << "some files must be refused: " << run.Err;
        std::map<std::string, std::vector<std::string>> rows;
        std::istringstream lines(run.Out);
        for (std::string line; std::getline(lines, line);)
            rows[RowFields(line).at(0)] = RowFields(line);
        return rows;
    }

    const char* ExpectedStatus(const ToolFile& file) const {
        const Settings& s = GetParam();
        if (file.Type == Kind::Companded)
            return StatusWord::BitsFailed;
        // No downmix of more than two channels to stereo.
        if (s.Channels == 2 && file.Channels > 2)
            return StatusWord::ChannelsFailed;
        return StatusWord::Converted;
    }

    int ExpectedRate(const ToolFile& file) const {
        const Settings& s = GetParam();
        if (s.Rate == 0 || (s.KeepLower && file.Rate < s.Rate))
            return file.Rate;
        return s.Rate;
    }

    void CheckOutput(const ToolFile& file) {
        const Settings& s = GetParam();
        const SoxView source = ReadWithSox(*sources / file.Name);
        const SoxView output = ReadWithSox(out / file.Name);
        const int toBits = s.Bits != file.Bits ? s.Bits : 0;
        const int bits = toBits ? toBits : file.Bits;
        const int channels = s.Channels ? s.Channels : file.Channels;
        EXPECT_EQ(output.Rate, ExpectedRate(file));
        EXPECT_EQ(output.Channels, channels);
        EXPECT_EQ(output.Encoding, toBits ? EncodingOf(bits) : source.Encoding);
        EXPECT_EQ(output.Samples, Converted(source.Samples, file, toBits, channels));
        // The form read is the form written, but for 8- and 16-bit PCM in mono or stereo.
        const bool extensibleIn = ChunkSizeIn(*sources / file.Name, "fmt ") == 40;
        const bool plainShape = file.Type == Kind::Pcm || toBits;
        const bool extensibleOut = extensibleIn && !(plainShape && bits <= 16 && channels <= 2);
        EXPECT_EQ(ChunkSizeIn(out / file.Name, "fmt "), extensibleOut ? 40 : 18);
        EXPECT_EQ(ChunkSizeIn(out / file.Name, "fact"),
                  extensibleOut && file.Type == Kind::Float && !toBits ? 4 : -1);
    }

    static std::unique_ptr<TempDir> sources;
    ConverterCopy converter;
    TempDir out;
};

std::unique_ptr<TempDir> RealToolsTest::sources;

TEST_P(RealToolsTest, ConvertsOrRefusesEachFile) {
    const auto rows = ConvertAll();
    for (const ToolFile& file : ToolFiles()) {
        SCOPED_TRACE(file.Name);
        ASSERT_EQ(rows.count(file.Name), 1u);
        const std::vector<std::string>& row = rows.at(file.Name);
        const char* status = ExpectedStatus(file);
        EXPECT_EQ(row.at(3), status);
        EXPECT_EQ(ChunkSizeIn(*sources / file.Name, "LIST") >= 0, file.HasList);
        if (std::string(status) == StatusWord::Converted)
            CheckOutput(file);
        else
            EXPECT_FALSE(FileExists(out / file.Name));
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, RealToolsTest, testing::ValuesIn(AllSettings()),
                         [](const testing::TestParamInfo<Settings>& info) {
                             return info.param.Name;
                         });

} // namespace
