// Reading and writing an in-memory wave as a RIFF WAVE file image.
#include "Exception.h"
#include "FmtChunk.h"
#include "LittleEndian.h"
#include "RiffFile.h"
#include "RvInternalWave.h"
#include "Stream.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kRiffHeaderSize = 8; // "RIFF" and its size, before what it counts

[[noreturn]] void Refuse(const char* message) {
    throw ERvWaveInvalidWaveFile(message);
}

[[noreturn]] void SaveFailed(const char* message) {
    throw ERvWaveInOutError(message);
}

} // namespace

void TRvInternalWAVE::LoadFromFile(TStream& stream) {
    FreeWAVE();
    LoadImage(stream.ReadAll());
}

// The samples stay where the read or the mapping put them: the image block, narrowed to the
// "data" chunk, becomes the sample buffer, so a load copies nothing and faults in no second
// block.
void TRvInternalWAVE::LoadImage(HeapBlock image) {
    TRiffMemoryFile riff(image.data(), image.size());
    riff.Seek(0);
    TRiffChunk form, fmt, data;
    if (!riff.FindRiffForm(FourCC("WAVE"), form))
        Refuse("TRvInternalWave.LoadFromFile:Not a waveform-audio file.");
    if (!riff.FindChunk(FourCC("fmt "), form, fmt))
        Refuse("TRvInternalWave.LoadFromFile:Unable to locate fmt chunk.");
    // Sizes are checked against the bytes present before anything is taken over, so a small
    // file cannot demand a large block.
    if (fmt.Size > riff.BytesLeft())
        Refuse("TRvInternalWave.LoadfromFile:Error reading fmt chunk.");
    TFmtChunkBytes chunk{};
    const std::uint64_t kept = std::min(fmt.Size, kMaxFmtChunkSize);
    if (riff.Read(chunk.data(), kept) != kept)
        Refuse("TRvInternalWave.LoadfromFile:Error reading fmt chunk.");
    // A longer record of another kind (compressed formats) has fields this wave cannot carry;
    // keeping only its head would write files whose extra size points past their chunk.
    if (!ReadFmtChunk(chunk, fmt.Size, WaveFormat, Extension))
        Refuse("TRvInternalWave.LoadfromFile:Unsupported fmt chunk.");
    riff.Ascend(fmt);

    if (!riff.FindChunk(FourCC("data"), form, data))
        Refuse("TRvInternalWave.LoadfromFile:Unable to locate data chunk.");
    if (data.Size > riff.BytesLeft())
        Refuse("TRvInternalWave.LoadfromFile:Error reading data chunk.");
    // A mapped file cut short while it was parsed gave zeros, not its bytes, as a short read
    // would have.
    if (!image.Intact())
        throw EReadError();
    image.Narrow(data.DataOffset, data.Size);
    WaveData = std::move(image);
}

namespace {

// The frames per channel, which readers of float files expect beside the samples.
void WriteFactChunk(TRiffMemoryFile& riff, std::uint64_t frameCount) {
    std::uint8_t frames[4];
    PutLE32(frames, static_cast<std::uint32_t>(frameCount));
    TRiffChunk fact;
    if (!riff.CreateChunk(FourCC("fact"), sizeof frames, fact))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to create chunk [fact].");
    if (!riff.Write(frames, sizeof frames))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to write file [fact].");
    if (!riff.Ascend(fact))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to ascend chunk [fact->RIFF].");
}

} // namespace

HeapBlock TRvInternalWAVE::ImageHead(const TWaveFormatEx& format, const TWaveExtension& extension,
                                     std::uint64_t n) {
    const std::uint64_t riffHeader = RiffHeaderBytes(format, extension);
    if (!FitsInRiff(n, riffHeader))
        SaveFailed("TRvInternalWave.SaveToFile:Wave too large for a RIFF file.");
    HeapBlock head(kRiffHeaderSize + riffHeader, HeapBlock::Fill::Overwritten);
    TRiffMemoryFile riff(head.data(), head.size());
    riff.Seek(0);

    TRiffChunk form, fmt, data;
    if (!riff.CreateRiffChunk(FourCC("WAVE"), form))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to create chunk [RIFF].");
    const std::uint32_t fmtSize = FmtChunkSize(format, extension);
    if (!riff.CreateChunk(FourCC("fmt "), fmtSize, fmt))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to Create chunk [fmt ].");
    const TFmtChunkBytes record = FmtChunkBytes(format, extension);
    if (!riff.Write(record.data(), fmtSize))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to write file [fmt ].");
    if (!riff.Ascend(fmt))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to ascend chunk [fmt->RIFF].");
    if (WritesFactChunk(format, extension)) {
        const std::uint64_t frameSize = format.nChannels * (format.wBitsPerSample / 8u);
        WriteFactChunk(riff, frameSize == 0 ? 0 : n / frameSize);
    }
    if (!riff.CreateChunk(FourCC("data"), static_cast<std::uint32_t>(n), data))
        SaveFailed("TRvInternalWave.SaveToFile:Failed to create chunk [data].");
    // The RIFF chunk counts the samples and their pad byte, which follow the head.
    PutLE32(head.data() + 4, static_cast<std::uint32_t>(riffHeader + n + (n & 1)));
    return head;
}

// The image is its head (every byte before the samples), the samples where they lie and the pad
// byte, handed to the stream in one gathered write: the samples are not copied into an image
// block first.
void TRvInternalWAVE::SaveToFile(TStream& stream) const {
    const std::uint64_t n = DataSize();
    const HeapBlock head = ImageHead(WaveFormat, Extension, n);
    static constexpr std::uint8_t kPad[1] = {0};
    const ByteSpan pieces[] = {{head.data(), head.size()}, {WaveData.data(), n}, {kPad, n & 1}};
    stream.WriteBuffers(pieces);
    // Samples of a mapped file that was cut short went out as zeros.
    if (!WaveData.Intact())
        throw EWriteError();
}
