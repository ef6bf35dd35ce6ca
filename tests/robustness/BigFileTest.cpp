// Waves past 2 GiB, where any size kept in a signed 32-bit field or any single read or write of
// the whole file would break. The sources are sparse files with a proper header and a few
// marked frames: quick to make, yet every marked frame must come out converted at its place.
#include "ChildProcess.h"
#include "ConvertFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t GiB = 1ull << 30;

struct Marker {
    std::uint64_t Frame;
    Bytes Sample; // the frame's bytes as stored
};

class File {
public:
    File(const std::string& path, int flags) : Fd(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
        if (Fd < 0)
            throw std::runtime_error("cannot open " + path);
    }
    ~File() { ::close(Fd); }
    void WriteAt(std::uint64_t offset, const Bytes& bytes) const {
        if (::pwrite(Fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("short write");
    }
    Bytes ReadAt(std::uint64_t offset, std::size_t count) const {
        Bytes bytes(count);
        if (::pread(Fd, bytes.data(), count, static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(count))
            throw std::runtime_error("short read");
        return bytes;
    }
    void Resize(std::uint64_t size) const {
        if (::ftruncate(Fd, static_cast<off_t>(size)) != 0)
            throw std::runtime_error("cannot resize");
    }

private:
    int Fd;
};

// A 44-byte header (16-byte "fmt ") and dataSize bytes of zero samples but for the markers.
void MakeSparseWave(const std::string& path, const Format& format, std::uint64_t dataSize,
                    const std::vector<Marker>& markers) {
    Bytes header;
    AppendText(header, "RIFF");
    AppendLE32(header, static_cast<std::uint32_t>(36 + dataSize));
    AppendText(header, "WAVE");
    const Bytes fmt = Chunk("fmt ", FmtRecord(format));
    header.insert(header.end(), fmt.begin(), fmt.end());
    AppendText(header, "data");
    AppendLE32(header, static_cast<std::uint32_t>(dataSize));

    const File file(path, O_WRONLY | O_CREAT | O_TRUNC);
    file.WriteAt(0, header);
    file.Resize(header.size() + dataSize);
    const std::uint64_t frameSize = format.Channels * format.Bits / 8u;
    for (const Marker& m : markers)
        file.WriteAt(header.size() + m.Frame * frameSize, m.Sample);
}

std::uint32_t LE32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t LE16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

class BigFileTest : public testing::Test {
protected:
    ChildResult Convert(std::vector<std::string> options) {
        std::vector<std::string> args = {converter.path(), "--dir", out.path()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(source);
        ChildOptions limits;
        limits.TimeoutSeconds = 600;
        return RunChild(args, limits);
    }

    // The output's 46-byte header: 18-byte "fmt " right after "WAVE", then "data".
    void ExpectHeader(std::uint16_t channels, std::uint16_t bits, std::uint64_t n) {
        const File file(output, O_RDONLY);
        const Bytes h = file.ReadAt(0, 46);
        EXPECT_EQ(fs::file_size(output), 46 + n + (n & 1));
        EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
        EXPECT_EQ(LE32(h, 4), 38 + n + (n & 1));
        EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(LE32(h, 16), 18u);
        EXPECT_EQ(LE16(h, 20), 1u);
        EXPECT_EQ(LE16(h, 22), channels);
        EXPECT_EQ(LE32(h, 24), 44100u);
        EXPECT_EQ(LE32(h, 28), 44100u * channels * bits / 8);
        EXPECT_EQ(LE16(h, 32), channels * bits / 8);
        EXPECT_EQ(LE16(h, 34), bits);
        EXPECT_EQ(LE16(h, 36), 0u);
        EXPECT_EQ(std::string(h.begin() + 38, h.begin() + 42), "data");
        EXPECT_EQ(LE32(h, 42), n);
    }

    void ExpectFrames(const std::vector<Marker>& expected) {
        const File file(output, O_RDONLY);
        for (const Marker& m : expected)
            EXPECT_EQ(file.ReadAt(46 + m.Frame * m.Sample.size(), m.Sample.size()), m.Sample)
                << "frame " << m.Frame;
    }

    ConverterCopy converter;
    TempDir in, out;
    const std::string source = in / "long.wav";
    const std::string output = out / "long.wav";
};

// 16-bit stereo, a little over 2 GiB of data, frames marked at the start, at byte 2^31 and at
// the end, plus one plain zero frame.
constexpr std::uint64_t kStereoData = 2 * GiB + 4096;
constexpr std::uint64_t kStereoFrames = kStereoData / 4;
const std::uint64_t kPast2GiB = 2 * GiB / 4;
const Format kStereo16 = {.Channels = 2};

std::vector<Marker> StereoMarkers() {
    return {{0, Samples16({1000, -3000})},
            {kPast2GiB, Samples16({-32768, -32767})},
            {kStereoFrames - 1, Samples16({32767, 301})}};
}

TEST_F(BigFileTest, SixteenToEightBitPast2GiB) {
    MakeSparseWave(source, kStereo16, kStereoData, StereoMarkers());
    const ChildResult run = Convert({"--bits", "8"});

    ASSERT_FALSE(run.TimedOut);
    ASSERT_EQ(RowFields(run.Out).at(3), StatusWord::Converted) << run.Out << run.Err;
    ExpectHeader(2, 8, kStereoData / 2);
    ExpectFrames({{0, {131, 117}},
                  {1000, {128, 128}},
                  {kPast2GiB, {0, 1}},
                  {kStereoFrames - 1, {255, 129}}});
}

TEST_F(BigFileTest, StereoToMonoPast2GiB) {
    MakeSparseWave(source, kStereo16, kStereoData, StereoMarkers());
    const ChildResult run = Convert({"--channels", "1"});

    ASSERT_FALSE(run.TimedOut);
    ASSERT_EQ(RowFields(run.Out).at(3), StatusWord::Converted) << run.Out << run.Err;
    ExpectHeader(1, 16, kStereoData / 2);
    ExpectFrames({{0, Samples16({-1000})},
                  {1000, Samples16({0})},
                  {kPast2GiB, Samples16({-32767})},
                  {kStereoFrames - 1, Samples16({16534})}});
}

// 8 to 16 bit doubles 1.5 GiB into 3 GiB: the RIFF and data sizes pass 2^31 and must be
// stored unsigned.
TEST_F(BigFileTest, OutputPast2GiBKeepsItsSizesUnsigned) {
    const std::uint64_t data = 3 * GiB / 2;
    MakeSparseWave(source, {.Bits = 8}, data, {{0, {0}}, {GiB, {255}}, {data - 1, {128}}});
    const ChildResult run = Convert({"--bits", "16"});

    ASSERT_FALSE(run.TimedOut);
    ASSERT_EQ(RowFields(run.Out).at(3), StatusWord::Converted) << run.Out << run.Err;
    ExpectHeader(1, 16, 2 * data);
    ExpectFrames({{0, Samples16({-32768})},
                  {1, Samples16({-32768})}, // the zero bytes between markers are 8-bit minimum
                  {GiB, Samples16({32512})},
                  {data - 1, Samples16({0})}});
}

// 3 GiB of 8-bit stereo with odd derived fields and half a frame at its end, every setting kept:
// the 8-bit re-conversion drops the half frame and recomputes the fields without a 16-bit
// block, which would be 6 GiB, past what RIFF sizes can say.
TEST_F(BigFileTest, EightBitPast2GiBConvertsWithEverySettingKept) {
    const std::uint64_t frames = 3 * GiB / 2;
    MakeSparseWave(source, {.Channels = 2, .Bits = 8, .AvgBytesPerSec = 1, .BlockAlign = 5},
                   2 * frames + 1, {{0, {1, 2}}, {frames - 1, {254, 255, 77}}});
    const ChildResult run = Convert({});

    ASSERT_FALSE(run.TimedOut);
    ASSERT_EQ(RowFields(run.Out).at(3), StatusWord::Converted) << run.Out << run.Err;
    ExpectHeader(2, 8, 2 * frames);
    ExpectFrames({{0, {1, 2}}, {1, {0, 0}}, {frames - 1, {254, 255}}});
}

// 1.125 GiB of 8-bit mono made 16-bit stereo would be 4.5 GiB, past what RIFF sizes can say:
// the channel step refuses it and nothing is written.
TEST_F(BigFileTest, OutputPast4GiBFailsAndWritesNothing) {
    MakeSparseWave(source, {.Bits = 8}, GiB + GiB / 8, {});
    const ChildResult run = Convert({"--bits", "16", "--channels", "2"});

    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(RowFields(run.Out).at(3), StatusWord::ChannelsFailed) << run.Out << run.Err;
    EXPECT_TRUE(ListFolder(out.path()).empty());
}

} // namespace
