#include "RvInternalWave.h"

#include "ApplicationException.h"
#include "Exception.h"
#include "FmtChunk.h"
#include "NotifyWindow.h"
#include "Resampler.h"
#include "RiffFile.h"
#include "SampleConversion.h"
#include "SamplePipeline.h"
#include "Stream.h"

#include <algorithm>
#include <vector>

namespace {

using SampleKernel = void (*)(const std::uint8_t*, std::uint8_t*, std::uint64_t);
using MixKernel = void (*)(const std::uint8_t*, std::uint8_t*, std::uint64_t, std::uint32_t);

// The kernels for one kind of sample the conversions read; the width kernels are those to 8
// and to 16 bit, none where the kind is that width already.
struct SampleKind {
    std::uint16_t Tag;
    std::uint16_t Bits;
    SampleKernel To8;
    SampleKernel To16;
    SampleKernel MonoToStereo;
    MixKernel ToMono;
};

void StereoOrMixToMono8(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                        std::uint32_t channels) {
    channels == 2 ? StereoToMono8(in, out, frames) : MixToMono8(in, out, frames, channels);
}

void StereoOrMixToMono16(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                         std::uint32_t channels) {
    channels == 2 ? StereoToMono16(in, out, frames) : MixToMono16(in, out, frames, channels);
}

constexpr SampleKind kSampleKinds[] = {
    {WAVE_FORMAT_PCM, 8, nullptr, Convert8To16, MonoToStereo8, StereoOrMixToMono8},
    {WAVE_FORMAT_PCM, 16, Convert16To8, nullptr, MonoToStereo16, StereoOrMixToMono16},
    {WAVE_FORMAT_PCM, 24, Convert24To8, Convert24To16, MonoToStereo24, MixToMono24},
    {WAVE_FORMAT_PCM, 32, Convert32To8, Convert32To16, MonoToStereo32, MixToMono32},
    {WAVE_FORMAT_IEEE_FLOAT, 32, ConvertFloat32To8, ConvertFloat32To16, MonoToStereo32,
     MixToMonoFloat32},
    {WAVE_FORMAT_IEEE_FLOAT, 64, ConvertFloat64To8, ConvertFloat64To16, MonoToStereo64,
     MixToMonoFloat64},
};

bool IsConvertibleTag(std::uint16_t tag) {
    return tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT;
}

// The kind of the wave's samples, or nullptr when the conversions cannot read them (another
// width, or no channels to make a frame of).
const SampleKind* KindOf(const TWaveFormatEx& format) {
    if (format.nChannels == 0)
        return nullptr;
    for (const SampleKind& kind : kSampleKinds)
        if (kind.Tag == format.wFormatTag && kind.Bits == format.wBitsPerSample)
            return &kind;
    return nullptr;
}

void RecomputeDerivedFields(TWaveFormatEx& format) {
    format.nBlockAlign = static_cast<std::uint16_t>(format.nChannels * (format.wBitsPerSample / 8));
    // An unsigned 32-bit product, wrapping as the stored field does.
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
}

} // namespace

TRvInternalWAVE::TRvInternalWAVE() {
    CreateWAVE(44100, 16, 1, 1);
    NotifyWnd = MakeNotifyWindow([this](std::uint32_t message) { return NotifyWndProc(message); });
}

TRvInternalWAVE::~TRvInternalWAVE() {
    if (DeviceState != 0)
        StopDevice();
}

void TRvInternalWAVE::CreateWAVE(std::int32_t rate, std::int32_t bits, std::int32_t channels,
                                 std::int32_t frames) {
    if (rate <= 0 || frames <= 0 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16))
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.CreateWAVE: Invalid Parameters");
    const std::uint64_t size = static_cast<std::uint64_t>(frames) * channels * (bits / 8);
    WaveData = HeapBlock(size);
    WaveFormat = TWaveFormatEx{};
    Extension = TWaveExtension{};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = static_cast<std::uint16_t>(channels);
    WaveFormat.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    WaveFormat.wBitsPerSample = static_cast<std::uint16_t>(bits);
    RecomputeDerivedFields(WaveFormat);
}

void TRvInternalWAVE::FreeWAVE() {
    WaveData.reset();
}

namespace {

// The scratch buffer a composed change passes a batch of frames through: well inside the
// first-level cache, with the batch's input and output beside it.
constexpr std::uint64_t kScratchBytes = std::uint64_t{16} << 10;

// Both changes at once, frame by frame: a batch of frames small enough to stay in the cache
// goes through first into a scratch buffer and from there through second to the output.
TRvInternalWAVE::SampleChange Composed(const TRvInternalWAVE::SampleChange& first,
                                       const TRvInternalWAVE::SampleChange& second) {
    const std::uint64_t inFrame = std::uint64_t{first.ItemsPerFrame} * first.InSize;
    const std::uint64_t midFrame = std::uint64_t{first.ItemsPerFrame} * first.OutSize;
    const std::uint64_t outFrame = std::uint64_t{second.ItemsPerFrame} * second.OutSize;
    const std::uint64_t batch = std::max<std::uint64_t>(1, kScratchBytes / midFrame);
    TRvInternalWAVE::Kernel run = [=](const std::uint8_t* in, std::uint8_t* out,
                                      std::uint64_t frames) {
        std::vector<std::uint8_t> scratch(batch * midFrame);
        for (std::uint64_t done = 0; done < frames;) {
            const std::uint64_t count = std::min(frames - done, batch);
            first.Run(in + done * inFrame, scratch.data(), count * first.ItemsPerFrame);
            second.Run(scratch.data(), out + done * outFrame, count * second.ItemsPerFrame);
            done += count;
        }
    };
    return {std::move(run),
            1,
            static_cast<std::uint32_t>(inFrame),
            static_cast<std::uint32_t>(outFrame),
            second.After,
            {}};
}

TRvInternalWAVE::SampleChange Unchanged(const TRvInternalWAVE::Shape& shape) {
    TRvInternalWAVE::SampleChange none;
    none.After = shape;
    return none;
}

} // namespace

void TRvInternalWAVE::Convert(const SampleChange& change, TSampleSink* sink) {
    // A kernel converts items (samples or frames) of the result; a stage reads every frame.
    const std::uint64_t items =
        change.Stage ? Frames() : change.After.Frames * change.ItemsPerFrame;
    const std::uint64_t size = change.After.Frames * change.ItemsPerFrame * change.OutSize;
    Expect(Monitor, items * change.InSize, false);
    const auto pass = [&](SamplePipeline::Output out) {
        if (change.Stage)
            SamplePipeline::RunStream(*change.Stage(), WaveData, out, items, change.InSize, size,
                                      Monitor);
        else
            SamplePipeline::RunKernel(change.Run, WaveData, out, items, change.InSize,
                                      change.OutSize, Monitor);
        CheckIntact();
    };
    // A sink takes the output as it comes, and keeps it.
    if (sink) {
        pass({.Sink = sink});
        if (HeapBlock output = sink->Output()) {
            WaveData = std::move(output);
            return;
        }
    }
    // A shrinking conversion of samples in a block of our own needs no second block: no fresh
    // pages to fault in, and the freed tail goes back at once.
    if (!change.Stage && change.OutSize < change.InSize && WaveData.Writable()) {
        SamplePipeline::RunKernelInPlace(change.Run, WaveData.data(), items, change.InSize,
                                         change.OutSize, Monitor);
        WaveData.Narrow(0, size);
        return;
    }
    // Every kernel and stage writes each byte of its output, so the block needs no zero fill.
    HeapBlock converted(size, HeapBlock::Fill::Overwritten);
    pass({.Block = converted.data()});
    WaveData = std::move(converted);
}

void TRvInternalWAVE::Apply(const SampleChange& first, const SampleChange& second,
                            TSampleSink* sink) {
    if (!first.Changes() && !second.Changes())
        return;
    Convert(!second.Changes() ? first : !first.Changes() ? second : Composed(first, second), sink);
    const Shape& after = second.Changes() ? second.After : first.After;
    WaveFormat = after.Format;
    Extension = after.Extension;
}

void TRvInternalWAVE::CheckIntact() const {
    // A mapped file cut short while the kernel read it gave zeros, not its samples.
    if (!WaveData.Intact())
        throw EReadError();
}

std::uint64_t TRvInternalWAVE::Frames() const {
    const std::uint64_t frameSize = WaveFormat.nChannels * (WaveFormat.wBitsPerSample / 8u);
    return frameSize == 0 ? 0 : DataSize() / frameSize;
}

TRvInternalWAVE::Shape TRvInternalWAVE::CurrentShape() const {
    return {WaveFormat, Extension, Frames()};
}

TRvInternalWAVE::SampleChange TRvInternalWAVE::PlanBits(const Shape& from, std::int32_t bits) {
    if (!IsConvertibleTag(from.Format.wFormatTag))
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeBits: Bad Wave Type");
    if (bits != 8 && bits != 16)
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeBits: Invalid Parameters");
    if (bits == from.Format.wBitsPerSample)
        return Unchanged(from);
    const SampleKind* kind = KindOf(from.Format);
    if (!kind || from.Format.nChannels * (bits / 8) > 0xFFFF)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeBits: Bad Wave Type");
    SampleChange change{bits == 16 ? kind->To16 : kind->To8,
                        from.Format.nChannels,
                        from.Format.wBitsPerSample / 8u,
                        bits / 8u,
                        from,
                        {}};
    TWaveFormatEx& format = change.After.Format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    RecomputeDerivedFields(format);
    if (!FitsInRiff(from.Frames * format.nBlockAlign, RiffHeaderBytes(format, from.Extension)))
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeBits: Invalid Parameters");
    change.After.Extension.ValidBitsPerSample = format.wBitsPerSample;
    return change;
}

TRvInternalWAVE::SampleChange TRvInternalWAVE::PlanChannels(const Shape& from,
                                                            std::int32_t channels) {
    if (!IsConvertibleTag(from.Format.wFormatTag))
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeChannels: Bad Wave Type");
    if (channels != 1 && channels != 2)
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeChannels: Invalid Parameters");
    if (channels == from.Format.nChannels)
        return Unchanged(from);
    const SampleKind* kind = KindOf(from.Format);
    // Two channels out of more would need a speaker layout to downmix by.
    if (!kind || (channels == 2 && from.Format.nChannels != 1))
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeChannels: Bad Wave Type");
    const std::uint32_t channelsIn = from.Format.nChannels;
    Kernel run = kind->MonoToStereo;
    if (channels == 1)
        run = [kind, channelsIn](const std::uint8_t* in, std::uint8_t* out, std::uint64_t count) {
            kind->ToMono(in, out, count, channelsIn);
        };
    // The stored block align may be anything; the samples are read as whole frames.
    const std::uint32_t frameSize = channelsIn * (from.Format.wBitsPerSample / 8u);
    SampleChange change{std::move(run), 1, frameSize, 0, from, {}};
    TWaveFormatEx& format = change.After.Format;
    format.nChannels = static_cast<std::uint16_t>(channels);
    RecomputeDerivedFields(format);
    change.OutSize = format.nBlockAlign;
    if (!FitsInRiff(from.Frames * format.nBlockAlign, RiffHeaderBytes(format, from.Extension)))
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeChannels: Invalid Parameters");
    change.After.Extension.ChannelMask =
        channels == 1 ? kSpeakerFrontCenter : kSpeakerFrontLeftRight;
    return change;
}

TRvInternalWAVE::SampleChange TRvInternalWAVE::PlanResample(const Shape& from, const Shape& to,
                                                            std::int32_t rate) {
    if (rate <= 0 || static_cast<std::uint32_t>(rate) == from.Format.nSamplesPerSec)
        return Unchanged(from);
    if (!IsConvertibleTag(from.Format.wFormatTag) || !KindOf(from.Format))
        throw ERvWaveBadWaveType("TRvInternalWave.Resample: Bad Wave Type");
    SampleChange change{{}, 1,  from.Format.nChannels * (from.Format.wBitsPerSample / 8u),
                        0,  to, {}};
    TWaveFormatEx& format = change.After.Format;
    format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    RecomputeDerivedFields(format);
    change.OutSize = format.nBlockAlign;
    change.After.Frames =
        TResampler::FramesAt(from.Frames, from.Format.nSamplesPerSec, format.nSamplesPerSec);
    if (!FitsInRiff(change.After.Frames * format.nBlockAlign,
                    RiffHeaderBytes(format, to.Extension)))
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.Resample: Invalid Parameters");
    change.Stage = [from = from.Format, to = format, frames = change.After.Frames] {
        return std::make_unique<TResampler>(from, to, frames);
    };
    return change;
}

void TRvInternalWAVE::ChangeBits(std::int32_t bits) {
    Apply(PlanBits(CurrentShape(), bits));
}

void TRvInternalWAVE::ChangeChannels(std::int32_t channels) {
    Apply(PlanChannels(CurrentShape(), channels));
}

void TRvInternalWAVE::Renormalize8Bit() {
    if (WaveFormat.wBitsPerSample != 8)
        return;
    // ChangeBits refuses these on the way to 16 bit.
    if (WaveFormat.wFormatTag != WAVE_FORMAT_PCM || WaveFormat.nChannels == 0)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeBits: Bad Wave Type");
    // 8 to 16 bit and back gives every whole frame's bytes again: only the tail goes.
    WaveData.Narrow(0, Frames() * WaveFormat.nChannels);
    RecomputeDerivedFields(WaveFormat);
}

std::intptr_t TRvInternalWAVE::NotifyWndProc(std::uint32_t message) {
    if (message != MM_WOM_DONE && message != MM_WIM_DATA)
        return DefWindowProc(message);
    DeviceDone(message);
    if (OnNotify) {
        // The handler's failure must not unwind through the event loop.
        try {
            OnNotify(this);
        } catch (const std::exception& failure) {
            HandleApplicationException(failure);
        } catch (...) {
            HandleApplicationException(Exception("Unknown exception."));
        }
    }
    return 0;
}

void TRvInternalWAVE::DeviceDone(std::uint32_t message) {
    if ((message == MM_WOM_DONE && DeviceState == 1) ||
        (message == MM_WIM_DATA && DeviceState == -1))
        StopDevice();
    DeviceState = 0;
}

void TRvInternalWAVE::StopDevice() {
    TWaveDeviceApi& devices = WaveDevices();
    if (DeviceState == 1) {
        DeviceState = 0;
        devices.waveOutReset(WaveOut);
        devices.waveOutUnprepareHeader(WaveOut, WaveHeader.get(), kWaveHeaderSize);
        WaveHeader.reset();
        devices.waveOutClose(WaveOut);
    } else if (DeviceState == -1) {
        DeviceState = 0;
        devices.waveInStop(WaveIn);
        devices.waveInReset(WaveIn);
        devices.waveInUnprepareHeader(WaveIn, WaveHeader.get(), kWaveHeaderSize);
        devices.waveInClose(WaveIn);
    }
}
