// A conversion's way through a wave's samples: the input taken a step at a time in the order of
// the samples (read ahead from the disk, mapped in and given back, or read through a scratch
// block from its file), each step handed to a stage, and the stage's output put into a block
// or told to a sink as it comes. Two kinds of stage plug in: a kernel, which converts each item
// on its own, so that the processor's cores share its steps; and a stream stage, which carries
// state from one piece to the next (the resampler) and is fed the pieces in order.
#pragma once

#include "HeapBlock.h"
#include "WorkMonitor.h"

#include <cstdint>
#include <functional>
#include <vector>

// Takes a conversion's output as it is made, from the threads that make it, so that a save
// can write what is ready while the rest of the samples are still being read, and the output
// need not be whole in memory.
class TSampleSink {
public:
    virtual ~TSampleSink() = default;
    // bytes hold output bytes [at, at + count), final; they are gone once this returns. The
    // runs come in about their order.
    virtual void Converted(const std::uint8_t* bytes, std::uint64_t at, std::uint64_t count) = 0;
    // Once every output byte was told: the output as a block for the wave to keep, or none
    // when the sink could not keep it (the wave is then converted again, in memory).
    virtual HeapBlock Output() = 0;
};

namespace SamplePipeline {

// A sample conversion over items (samples or frames), from in to out.
using Kernel = std::function<void(const std::uint8_t* in, std::uint8_t* out, std::uint64_t items)>;

// Where a conversion's output goes: into a block, or a piece at a time to a sink.
struct Output {
    std::uint8_t* Block = nullptr;
    TSampleSink* Sink = nullptr;
};

// Runs kernel over items of inSize bytes each from input, making items of outSize bytes.
void RunKernel(const Kernel& kernel, HeapBlock& input, Output out, std::uint64_t items,
               std::uint32_t inSize, std::uint32_t outSize, WorkMonitor* monitor);
// The same within the input's own bytes, for a kernel that makes fewer bytes than it reads.
void RunKernelInPlace(const Kernel& kernel, std::uint8_t* bytes, std::uint64_t items,
                      std::uint32_t inSize, std::uint32_t outSize, WorkMonitor* monitor);

// A stage with state carried from one piece of its input to the next.
class StreamStage {
public:
    virtual ~StreamStage() = default;
    // Takes the next items of the input; appends to out whatever output is ready.
    virtual void Feed(const std::uint8_t* in, std::uint64_t items,
                      std::vector<std::uint8_t>& out) = 0;
    // Once the input has ended: appends the rest of the output.
    virtual void Finish(std::vector<std::uint8_t>& out) = 0;
};
// Runs stage over items of inSize bytes each from input, in order; its output, outBytes in all,
// goes to out in order.
void RunStream(StreamStage& stage, HeapBlock& input, Output out, std::uint64_t items,
               std::uint32_t inSize, std::uint64_t outBytes, WorkMonitor* monitor);

} // namespace SamplePipeline
