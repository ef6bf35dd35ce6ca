// One PCM wave in memory: its format record and its sample buffer.
#pragma once

#include "HeapBlock.h"
#include "SamplePipeline.h"
#include "WaveDevice.h"
#include "WaveFormat.h"
#include "WorkMonitor.h"

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
    using Kernel = SamplePipeline::Kernel;

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

    // The samples' shape: what a change is planned from, and what it leaves.
    struct Shape {
        TWaveFormatEx Format;
        TWaveExtension Extension;
        std::uint64_t Frames = 0;
    };
    // A change of the width or the channel count, checked and ready to make: its kernel turns
    // each frame's ItemsPerFrame items of InSize bytes into items of OutSize bytes.
    struct SampleChange {
        Kernel Run; // empty when the change leaves the samples as they are
        std::uint32_t ItemsPerFrame = 0;
        std::uint32_t InSize = 0;
        std::uint32_t OutSize = 0;
        Shape After;
        // Instead of Run, a stage that carries state from frame to frame (a resampling), made
        // anew for each pass over the frames.
        std::function<std::unique_ptr<SamplePipeline::StreamStage>()> Stage;

        bool Changes() const { return Run || Stage; }
    };
    Shape CurrentShape() const;
    // What ChangeBits or ChangeChannels would do to a wave of shape from. Raises what they
    // raise, in the same order; nothing is changed until the plan is applied.
    static SampleChange PlanBits(const Shape& from, std::int32_t bits);
    static SampleChange PlanChannels(const Shape& from, std::int32_t channels);
    // Resamples a wave of shape from to rate, leaving it in the width and channels of to (the
    // shape the planned width and channel conversions would leave): one change for all three.
    // None when rate is from's. Raises ERvWaveBadWaveType for samples it cannot read, and
    // ERvWaveInvalidWavePara when the result would not fit in a RIFF file.
    static SampleChange PlanResample(const Shape& from, const Shape& to, std::int32_t rate);
    // Makes first and then second, planned one after the other from this wave's shape. When
    // both convert samples, each frame goes through both at once, so the wave between them is
    // never made whole. Raises EReadError when the samples were a mapped file since cut short.
    // sink, if any, takes the output as it is made.
    void Apply(const SampleChange& first, const SampleChange& second, TSampleSink* sink = nullptr);
    void Apply(const SampleChange& change) { Apply(change, SampleChange()); }
    // What ChangeBits(16) then ChangeBits(8) does to an 8-bit wave, without a 16-bit block:
    // the samples stay, a trailing partial frame goes, block align and byte rate are
    // recomputed, and whatever ChangeBits refuses is refused. Other widths are left alone.
    void Renormalize8Bit();

    // Reads a whole RIFF WAVE image from the stream into this wave.
    void LoadFromFile(TStream& stream);
    // Writes this wave to the stream as a RIFF WAVE image, in one write.
    void SaveToFile(TStream& stream) const;
    // Every byte of that image before the samples, for a wave of this format and size bytes of
    // samples; raises ERvWaveInOutError as the save does when they do not fit in a RIFF file.
    static HeapBlock ImageHead(const TWaveFormatEx& format, const TWaveExtension& extension,
                               std::uint64_t size);

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
    // Where conversions count their bytes and look for a stop; none when nobody watches.
    WorkMonitor* Monitor = nullptr;

private:
    // Runs a change's kernel or stage over the samples and makes its output the sample buffer.
    void Convert(const SampleChange& change, TSampleSink* sink);
    // Raises EReadError when the samples are a mapped file since cut short.
    void CheckIntact() const;
    // Whole frames in the sample buffer; none when the shape has no frame size.
    std::uint64_t Frames() const;
    void LoadImage(HeapBlock image);
};
