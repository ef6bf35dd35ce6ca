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

void EarlySave::Converted(const std::uint8_t* bytes, std::uint64_t at, std::uint64_t count) {
    // Once a write failed, the file is lost: the rest is only counted.
    if (!Failed) {
        try {
            Stream.WriteAt(Head.size() + at, ByteSpan(bytes, count));
        } catch (const EWriteError&) {
            Failed = true;
        }
    }
    Told += count;
}

HeapBlock EarlySave::Output() {
    if (Failed || Told != Size)
        return {};
    return Stream.WrittenBytes(Head.size(), Size);
}

bool EarlySave::Finish(const TRvInternalWAVE& wave) {
    if (Failed)
        throw EWriteError();
    const std::uint64_t n = wave.DataSize();
    if (n != Size || Told != Size)
        return false;
    const HeapBlock head = TRvInternalWAVE::ImageHead(wave.WaveFormat, wave.Extension, n);
    if (head.size() != Head.size() || std::memcmp(head.data(), Head.data(), Head.size()) != 0)
        return false;
    static constexpr std::uint8_t kPad[1] = {0};
    Stream.WriteAt(Head.size() + n, ByteSpan(kPad, n & 1));
    Stream.Commit();
    return true;
}
