// One PCM wave in memory: its format record and its sample buffer.
#pragma once

#include "HeapBlock.h"
#include "WaveDevice.h"
#include "WaveFormat.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class TStream;
class TNotifyWindow;
class TRiffMemoryFile;

// Base of the objects that can be handed to an event handler as its sender.
class TPersistent {
public:
    virtual ~TPersistent() = default;
};

using TNotifyEvent = std::function<void(TPersistent* Sender)>;

class TRvInternalWAVE : public TPersistent {
public:
    // A sample conversion over items (samples or frames), from in to out.
    using Kernel =
        std::function<void(const std::uint8_t* in, std::uint8_t* out, std::uint64_t items)>;

    // A PCM, mono, 44100 Hz, 16-bit wave holding one zero sample.
    TRvInternalWAVE();
    ~TRvInternalWAVE() override;
    TRvInternalWAVE(const TRvInternalWAVE&) = delete;
    TRvInternalWAVE& operator=(const TRvInternalWAVE&) = delete;

    void CreateWAVE(std::int32_t rate, std::int32_t bits, std::int32_t channels,
                    std::int32_t frames);
    void FreeWAVE();
    void ChangeBits(std::int32_t bits);
    void ChangeChannels(std::int32_t channels);
    // What ChangeBits(16) then ChangeBits(8) does to an 8-bit wave, without a 16-bit block:
    // the samples stay, a trailing partial frame goes, block align and byte rate are
    // recomputed, and whatever ChangeBits refuses is refused. Other widths are left alone.
    void Renormalize8Bit();

    // Reads a whole RIFF WAVE image from the stream into this wave.
    void LoadFromFile(TStream& stream);
    // Writes this wave to the stream as a RIFF WAVE image, in one write.
    void SaveToFile(TStream& stream) const;

    // The notification window's procedure: device-done messages end the device and reach
    // OnNotify; any other message gets the default treatment.
    std::intptr_t NotifyWndProc(std::uint32_t message);
    void DeviceDone(std::uint32_t message);
    void StopDevice();

    std::uint64_t DataSize() const { return WaveData.size(); }

    std::int32_t RefCount = 1;
    TWaveFormatEx WaveFormat;
    TWaveExtension Extension;
    HeapBlock WaveData;
    std::int32_t DeviceState = 0; // 0 idle, 1 output open, -1 input open
    std::unique_ptr<TNotifyWindow> NotifyWnd;
    HWAVEOUT WaveOut = 0;
    HWAVEIN WaveIn = 0;
    std::unique_ptr<std::array<std::uint8_t, kWaveHeaderSize>> WaveHeader;
    TNotifyEvent OnNotify;

private:
    // Runs the kernel over items of inSize bytes, each becoming outSize bytes of a wave of
    // format, and makes its output the sample buffer. Raises ERvWaveInvalidWavePara with
    // tooLargeMessage when the result could not be saved, and EReadError when the samples were
    // a mapped file that has since been cut short.
    void Convert(const Kernel& kernel, std::uint64_t items, std::uint32_t inSize,
                 std::uint32_t outSize, const TWaveFormatEx& format, const char* tooLargeMessage);
    // Whole frames in the sample buffer; none when the shape has no frame size.
    std::uint64_t Frames() const;
    void WriteFactChunk(TRiffMemoryFile& riff) const;
    void LoadImage(HeapBlock image);
};
