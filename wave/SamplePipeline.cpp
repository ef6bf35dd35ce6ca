#include "SamplePipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace SamplePipeline {

namespace {

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

// What a stage does with a piece of the input: count items from item at, at in.
using Take = std::function<void(const std::uint8_t* in, std::uint64_t at, std::uint64_t count)>;

// Hands the steps this thread takes from the queue to take: whole, straight from the input, when
// chunkItems is 0; else chunkItems at a time, read through scratch where the input is read from
// its file. A mapped file's pages are read ahead of the steps, mapped a step at a time before
// they are read, and given back once read (the page cache keeps them), so the file and the
// output are never resident whole at once.
void TakeSteps(HeapBlock& input, StepQueue& steps, std::uint32_t inSize, std::uint64_t chunkItems,
               WorkMonitor* monitor, const Take& take) {
    StepQueue::Step step;
    std::vector<std::uint8_t> scratch;
    // Read from its file, the input is never mapped in: nothing to map ahead or give back.
    const bool readsFile = chunkItems != 0 && input.ReadsThroughFile();
    for (;;) {
        CheckStop(monitor);
        if (!steps.Next(step))
            return;
        input.AdviseWillNeed(step.AdviseFrom * inSize, step.AdviseTo * inSize);
        if (!readsFile)
            input.PrefaultPages(step.From * inSize, step.To * inSize);
        if (chunkItems == 0)
            take(input.data() + step.From * inSize, step.From, step.To - step.From);
        for (std::uint64_t at = step.From; chunkItems != 0 && at < step.To; at += chunkItems) {
            const std::uint64_t count = std::min(step.To - at, chunkItems);
            const std::uint8_t* in = input.data() + at * inSize;
            if (readsFile) {
                scratch.resize(chunkItems * inSize);
                input.Read(at * inSize, scratch.data(), count * inSize);
                in = scratch.data();
            }
            take(in, at, count);
        }
        std::uint64_t sweepFrom = 0, sweepTo = 0;
        steps.Finished(step, sweepFrom, sweepTo);
        if (!readsFile) {
            input.ReleaseReadPages(step.From * inSize, step.To * inSize);
            input.ReleaseReadPages(sweepFrom * inSize, sweepTo * inSize);
        }
        Advance(monitor, (step.To - step.From) * inSize);
    }
}

// Runs work on threads threads, this one among them. Where no thread can be started, the
// others take its steps. Every thread is waited for before a failure of one leaves: they write
// into the same output, and hand it on to its sink.
void OnThreads(std::uint64_t threads, const std::function<void()>& work) {
    std::vector<std::future<void>> others;
    for (std::uint64_t k = 1; k < threads; ++k) {
        try {
            others.push_back(std::async(std::launch::async, work));
        } catch (const std::system_error&) {
            break;
        }
    }
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

} // namespace

// A long wave is shared between the processor's cores, a run's worth of it at least for each:
// one core alone can neither read memory nor fault in fresh pages at the rate the machine can.
// A few cores reach the memory's rate, and each keeps a step of a mapped file resident, so no
// more than eight share the work. A stop ends every thread at its next step.
void RunKernel(const Kernel& kernel, HeapBlock& input, Output out, std::uint64_t items,
               std::uint32_t inSize, std::uint32_t outSize, WorkMonitor* monitor) {
    constexpr unsigned kMostThreads = 8;
    const std::uint64_t cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
    // A file mostly still on the disk comes in at the disk's pace, whoever reads it: one thread
    // reads it as one stream and leaves the other cores to the system bringing it in.
    const std::uint64_t threads =
        input.CachedShare() < 0.5 ? 1
                                  : std::clamp<std::uint64_t>(items * inSize / kRunBytes, 1, cores);
    StepQueue steps(items, inSize, threads);
    const std::uint64_t chunkItems =
        out.Sink ? std::max<std::uint64_t>(1, kScratchChunkBytes / std::max(inSize, outSize)) : 0;
    OnThreads(threads, [&] {
        std::vector<std::uint8_t> scratch(out.Sink ? chunkItems * outSize : 0);
        TakeSteps(input, steps, inSize, chunkItems, monitor,
                  [&](const std::uint8_t* in, std::uint64_t at, std::uint64_t count) {
                      if (!out.Sink)
                          return kernel(in, out.Block + at * outSize, count);
                      kernel(in, scratch.data(), count);
                      out.Sink->Converted(scratch.data(), at * outSize, count * outSize);
                  });
    });
}

// A kernel that makes fewer bytes than it reads can write over its input: the output of item i
// lies at or before the start of its input, so nothing is overwritten before it is read. The
// first call covers a few items; each later one covers no more items than went before, so its
// output ends at or before the start of its input, the two do not overlap, and the kernel runs
// at its full vector width. No call covers more than a step.
void RunKernelInPlace(const Kernel& kernel, std::uint8_t* bytes, std::uint64_t items,
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

// One thread feeds the stage, which may share its own work between the cores.
void RunStream(StreamStage& stage, HeapBlock& input, Output out, std::uint64_t items,
               std::uint32_t inSize, std::uint64_t outBytes, WorkMonitor* monitor) {
    std::vector<std::uint8_t> made;
    std::uint64_t told = 0;
    const auto tell = [&] {
        const std::uint64_t count = std::min<std::uint64_t>(made.size(), outBytes - told);
        if (out.Sink)
            out.Sink->Converted(made.data(), told, count);
        else if (count != 0)
            std::memcpy(out.Block + told, made.data(), count);
        told += count;
        made.clear();
    };
    StepQueue steps(items, inSize, 1);
    TakeSteps(input, steps, inSize, std::max<std::uint64_t>(1, kScratchChunkBytes / inSize),
              monitor, [&](const std::uint8_t* in, std::uint64_t, std::uint64_t count) {
                  stage.Feed(in, count, made);
                  tell();
              });
    stage.Finish(made);
    tell();
}

} // namespace SamplePipeline
