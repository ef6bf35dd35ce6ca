#include "EarlySave.h"

#include <cstring>

std::unique_ptr<EarlySave> EarlySave::Begin(const std::string& fileName,
                                            const TRvInternalWAVE::Shape& after,
                                            WorkMonitor* monitor) {
    const std::uint64_t size = after.Frames * after.Format.nBlockAlign;
    try {
        HeapBlock head = TRvInternalWAVE::ImageHead(after.Format, after.Extension, size);
        return std::unique_ptr<EarlySave>(new EarlySave(fileName, std::move(head), size, monitor));
    } catch (const ERvWaveInOutError&) {
        return nullptr; // too large to save: the save says so
    } catch (const EFCreateError&) {
        return nullptr; // the save tries again, and says so if it still cannot
    }
}

EarlySave::EarlySave(const std::string& fileName, HeapBlock head, std::uint64_t size,
                     WorkMonitor* monitor)
    : Stream(fileName, monitor), Head(std::move(head)), Size(size) {
    const ByteSpan piece(Head.data(), Head.size());
    Failed = Stream.WriteGathered({&piece, 1}) != piece.size();
}

void EarlySave::Converted(const std::uint8_t* block, std::uint64_t from, std::uint64_t to) {
    std::unique_lock<std::mutex> hold(Lock);
    Waiting.emplace(from, to);
    // One thread writes at a time, and takes the runs that come meanwhile: the others leave
    // theirs to it and go on converting, so the reading never waits for a write.
    if (Writing)
        return;
    Writing = true;
    for (;;) {
        const std::uint64_t start = Written;
        std::uint64_t end = start;
        for (auto run = Waiting.begin(); run != Waiting.end() && run->first == end;
             run = Waiting.erase(run))
            end = run->second;
        if (end == start)
            break;
        // Once a write failed, the file is lost: the runs are only counted.
        bool failed = Failed;
        hold.unlock();
        try {
            const ByteSpan piece(block + start, end - start);
            if (!failed)
                failed = Stream.WriteGathered({&piece, 1}) != piece.size();
        } catch (...) {
            hold.lock();
            Writing = false;
            throw;
        }
        hold.lock();
        Failed = failed;
        Written = end;
    }
    Writing = false;
}

bool EarlySave::Finish(const TRvInternalWAVE& wave) {
    if (Failed)
        throw EWriteError();
    const std::uint64_t n = wave.DataSize();
    if (n != Size || Written != Size)
        return false;
    const HeapBlock head = TRvInternalWAVE::ImageHead(wave.WaveFormat, wave.Extension, n);
    if (head.size() != Head.size() || std::memcmp(head.data(), Head.data(), Head.size()) != 0)
        return false;
    static constexpr std::uint8_t kPad[1] = {0};
    const ByteSpan pad(kPad, n & 1);
    Stream.WriteBuffers({&pad, 1});
    Stream.Commit();
    return true;
}
