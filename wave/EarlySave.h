// A save that writes a conversion's output as it is made: a long file's result is then on its
// way to the disk while the end of its source is still being read, and is never whole in memory.
#pragma once

#include "RvInternalWave.h"
#include "Stream.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class EarlySave final : public TSampleSink {
public:
    // Begins the save to fileName of a wave that a conversion will leave in shape after: its
    // head is written now, its samples as the conversion tells them. None when the file cannot
    // be begun now: the save made afterwards meets the same failure and raises it. Raises
    // EWorkStopped once a stop is asked.
    static std::unique_ptr<EarlySave>
    Begin(const std::string& fileName, const TRvInternalWAVE::Shape& after, WorkMonitor* monitor);

    // Writes the bytes where they belong in the file, from whichever thread made them.
    void Converted(const std::uint8_t* bytes, std::uint64_t at, std::uint64_t count) override;
    // The written samples, once every one was told; none when a write failed.
    HeapBlock Output() override;

    // Puts the written file in place of the destination when it is the whole image of wave,
    // and returns true; false, with nothing put in place, when it is not (the wave is then
    // saved the ordinary way). Raises EWriteError when a write failed, and what Commit raises.
    bool Finish(const TRvInternalWAVE& wave);

private:
    EarlySave(const std::string& fileName, HeapBlock head, std::uint64_t size,
              WorkMonitor* monitor);

    TFileReplaceStream Stream;
    const HeapBlock Head;
    const std::uint64_t Size; // of the samples
    std::atomic<std::uint64_t> Told{0};
    std::atomic<bool> Failed{false};
};
