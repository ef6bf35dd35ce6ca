#include "RvInternalWave.h"

#include "ApplicationException.h"
#include "Exception.h"
#include "FmtChunk.h"
#include "NotifyWindow.h"
#include "RiffFile.h"
#include "SampleConversion.h"
#include "Stream.h"

#include <algorithm>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
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

// A kernel that makes fewer bytes than it reads can write over its input: the output of item i
// lies at or before the start of its input, so nothing is overwritten before it is read. The
// first call covers a few items; each later one covers no more items than went before, so its
// output ends at or before the start of its input, the two do not overlap, and the kernel runs
// at its full vector width. No call covers more than a step.
void ConvertInPlace(const TRvInternalWAVE::Kernel& kernel, std::uint8_t* bytes, std::uint64_t items,
                    std::uint32_t inSize, std::uint32_t outSize, WorkMonitor* monitor) {
    constexpr std::uint64_t kFirstItems = 4096;
    const std::uint64_t stepItems = std::max<std::uint64_t>(1, kWorkStepBytes / inSize);
    for (std::uint64_t done = 0; done < items;) {
        CheckStop(monitor);
        const std::uint64_t count =
            std::min({items - done, std::max(done, kFirstItems), stepItems});
        kernel(bytes + done * inSize, bytes + done * outSize, count);
        Advance(monitor, count * inSize);
        done += count;
    }
}

constexpr std::uint64_t kRunBytes = std::uint64_t{16} << 20;
// How far each thread has the disk read ahead of the steps taken: a file not yet in the page
// cache then comes in at the disk's pace while the steps before are converted, instead of a
// step's worth at a time when the step is mapped; and a thread kept waiting for the processor
// meanwhile does not leave the disk idle.
constexpr std::uint64_t kReadAheadBytes = std::uint64_t{64} << 20;

// The steps of one conversion, handed to its threads in the order of the samples: each thread
// takes the next step once it is done with its last. So the input is read from its start to
// its end as one stream, at the disk's pace whichever thread reads it, and the output is made
// in about its order, for a sink that writes it as it comes.
class StepQueue {
public:
    struct Step {
        std::uint64_t From = 0, To = 0;             // the items to convert
        std::uint64_t AdviseFrom = 0, AdviseTo = 0; // the items to have the disk read ahead
    };

    StepQueue(std::uint64_t items, std::uint32_t inSize, std::uint64_t threads)
        : Items(items), StepItems(std::max<std::uint64_t>(1, kWorkStepBytes / inSize)),
          AheadItems(threads * kReadAheadBytes / inSize), FolioItems(kFolioBytes / inSize + 1) {}

    // False once every step is taken.
    bool Next(Step& step) {
        const std::lock_guard<std::mutex> hold(Lock);
        if (Taken >= Items)
            return false;
        step.From = Taken;
        step.To = Taken = std::min(Items, Taken + StepItems);
        step.AdviseFrom = Advised;
        step.AdviseTo = Advised = std::max(Advised, std::min(Items, Taken + AheadItems));
        return true;
    }

    // Notes the step as converted, and gives the items [from, to) to sweep: mapping a step maps
    // the whole large folios of the page cache at its ends, reaching into the steps beside it,
    // which another thread may have let go already. The sweep goes over what lies below every
    // step still in hand, a folio short of it.
    void Finished(const Step& step, std::uint64_t& from, std::uint64_t& to) {
        const std::lock_guard<std::mutex> hold(Lock);
        Done.emplace(step.From, step.To);
        for (auto run = Done.begin(); run != Done.end() && run->first == DonePrefix;
             run = Done.erase(run))
            DonePrefix = run->second;
        from = Released;
        if (DonePrefix == Items)
            Released = Items;
        else if (DonePrefix > FolioItems)
            Released = std::max(Released, DonePrefix - FolioItems);
        to = Released;
    }

private:
    // The largest folio the page cache maps at once: a huge page.
    static constexpr std::uint64_t kFolioBytes = std::uint64_t{2} << 20;

    std::mutex Lock;
    const std::uint64_t Items, StepItems, AheadItems;
    const std::uint64_t FolioItems;
    std::uint64_t Taken = 0, Advised = 0;
    std::map<std::uint64_t, std::uint64_t> Done; // steps converted past DonePrefix, from -> to
    std::uint64_t DonePrefix = 0, Released = 0;
};

// Output bound for a sink passes through a scratch block of this size, and so does input read
// from its file: small enough to stay in the core's cache until it is used, so the output is
// never whole in memory and no fresh page is zeroed for it; large enough that a call of the
// sink or the system costs nothing beside it.
constexpr std::uint64_t kScratchChunkBytes = std::uint64_t{256} << 10;

// Where a conversion's output goes: into a block, or a chunk at a time through scratch to a sink.
struct Output {
    std::uint8_t* Block = nullptr;
    TSampleSink* Sink = nullptr;
};

struct Scratch {
    std::vector<std::uint8_t> In, Out;
};

void ConvertItems(const TRvInternalWAVE::Kernel& kernel, const HeapBlock& input, Output out,
                  std::uint64_t from, std::uint64_t to, std::uint32_t inSize, std::uint32_t outSize,
                  Scratch& scratch) {
    if (!out.Sink) {
        kernel(input.data() + from * inSize, out.Block + from * outSize, to - from);
        return;
    }
    const std::uint64_t chunk =
        std::max<std::uint64_t>(1, kScratchChunkBytes / std::max(inSize, outSize));
    const bool readsFile = input.ReadsThroughFile();
    scratch.Out.resize(chunk * outSize);
    scratch.In.resize(readsFile ? chunk * inSize : 0);
    for (std::uint64_t at = from; at < to; at += chunk) {
        const std::uint64_t count = std::min(to - at, chunk);
        const std::uint8_t* in = input.data() + at * inSize;
        if (readsFile) {
            input.Read(at * inSize, scratch.In.data(), count * inSize);
            in = scratch.In.data();
        }
        kernel(in, scratch.Out.data(), count);
        out.Sink->Converted(scratch.Out.data(), at * outSize, count * outSize);
    }
}

// Converts the steps this thread takes from the queue. A mapped file's pages are read ahead of
// the steps, mapped a step at a time before the kernel reads them, and given back once read
// (the page cache keeps them), so the file and the output are never resident whole at once.
void ConvertSteps(const TRvInternalWAVE::Kernel& kernel, HeapBlock& input, Output out,
                  StepQueue& steps, std::uint32_t inSize, std::uint32_t outSize,
                  WorkMonitor* monitor) {
    StepQueue::Step step;
    Scratch scratch;
    // Read from its file, the input is never mapped in: nothing to map ahead or give back.
    const bool mapsInput = !(out.Sink && input.ReadsThroughFile());
    for (;;) {
        CheckStop(monitor);
        if (!steps.Next(step))
            return;
        input.AdviseWillNeed(step.AdviseFrom * inSize, step.AdviseTo * inSize);
        if (mapsInput)
            input.PrefaultPages(step.From * inSize, step.To * inSize);
        ConvertItems(kernel, input, out, step.From, step.To, inSize, outSize, scratch);
        std::uint64_t sweepFrom = 0, sweepTo = 0;
        steps.Finished(step, sweepFrom, sweepTo);
        if (mapsInput) {
            input.ReleaseReadPages(step.From * inSize, step.To * inSize);
            input.ReleaseReadPages(sweepFrom * inSize, sweepTo * inSize);
        }
        Advance(monitor, (step.To - step.From) * inSize);
    }
}

// A long wave is shared between the processor's cores, a run's worth of it at least for each:
// one core alone can neither read memory nor fault in fresh pages at the rate the machine can.
// A few cores reach the memory's rate, and each keeps a step of a mapped file resident, so no
// more than eight share the work. Where no thread can be started, the others take its steps. A
// stop ends every thread at its next step.
void ConvertInRuns(const TRvInternalWAVE::Kernel& kernel, HeapBlock& input, Output out,
                   std::uint64_t items, std::uint32_t inSize, std::uint32_t outSize,
                   WorkMonitor* monitor) {
    constexpr unsigned kMostThreads = 8;
    const std::uint64_t cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    // A file mostly still on the disk comes in at the disk's pace, whoever reads it: one thread
    // reads it as one stream and leaves the other cores to the system bringing it in.
    const std::uint64_t threads =
        input.CachedShare() < 0.5 ? 1
                                  : std::clamp<std::uint64_t>(items * inSize / kRunBytes, 1, cores);
    StepQueue steps(items, inSize, threads);
    const auto work = [&] { ConvertSteps(kernel, input, out, steps, inSize, outSize, monitor); };
    std::vector<std::future<void>> others;
    for (std::uint64_t k = 1; k < threads; ++k) {
        try {
            others.push_back(std::async(std::launch::async, work));
        } catch (const std::system_error&) {
            break;
        }
    }
    // Every thread is waited for before a failure of one leaves: they write into out, and
    // hand it on to its sink.
    std::exception_ptr failure;
    try {
        work();
    } catch (...) {
        failure = std::current_exception();
    }
    for (std::future<void>& other : others) {
        try {
            other.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

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
    return {std::move(run), 1, static_cast<std::uint32_t>(inFrame),
            static_cast<std::uint32_t>(outFrame), second.After};
}

TRvInternalWAVE::SampleChange Unchanged(const TRvInternalWAVE::Shape& shape) {
    TRvInternalWAVE::SampleChange none;
    none.After = shape;
    return none;
}

} // namespace

void TRvInternalWAVE::Convert(const SampleChange& change, TSampleSink* sink) {
    const std::uint64_t items = change.After.Frames * change.ItemsPerFrame;
    const std::uint64_t size = items * change.OutSize;
    Expect(Monitor, items * change.InSize, false);
    // A sink takes the output as it comes, and keeps it.
    if (sink) {
        ConvertInRuns(change.Run, WaveData, {.Sink = sink}, items, change.InSize, change.OutSize,
                      Monitor);
        CheckIntact();
        if (HeapBlock output = sink->Output()) {
            WaveData = std::move(output);
            return;
        }
    }
    // A shrinking conversion of samples in a block of our own needs no second block: no fresh
    // pages to fault in, and the freed tail goes back at once.
    if (change.OutSize < change.InSize && WaveData.Writable()) {
        ConvertInPlace(change.Run, WaveData.data(), items, change.InSize, change.OutSize, Monitor);
        WaveData.Narrow(0, size);
        return;
    }
    // Every kernel writes each byte of its output, so the block needs no zero fill.
    HeapBlock converted(size, HeapBlock::Fill::Overwritten);
    ConvertInRuns(change.Run, WaveData, {.Block = converted.data()}, items, change.InSize,
                  change.OutSize, Monitor);
    CheckIntact();
    WaveData = std::move(converted);
}

void TRvInternalWAVE::Apply(const SampleChange& first, const SampleChange& second,
                            TSampleSink* sink) {
    if (!first.Run && !second.Run)
        return;
    Convert(!second.Run ? first : !first.Run ? second : Composed(first, second), sink);
    const Shape& after = second.Run ? second.After : first.After;
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
    SampleChange change{bits == 16 ? kind->To16 : kind->To8, from.Format.nChannels,
                        from.Format.wBitsPerSample / 8u, bits / 8u, from};
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
    SampleChange change{std::move(run), 1, frameSize, 0, from};
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
