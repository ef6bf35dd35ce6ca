// The wave component: the one way the application reaches an in-memory wave.
#pragma once

#include "RvInternalWave.h"

#include <memory>
#include <string>

class TStream;

// Its properties Freq, Bits and Channels are each a getter and a setter; its owner holds it.
class TRvWave {
public:
    TRvWave();
    ~TRvWave();
    TRvWave(const TRvWave&) = delete;
    TRvWave& operator=(const TRvWave&) = delete;

    void ReleaseInternalWave();

    // Replaces the wave by one loaded from the file; a file that cannot be opened leaves the
    // current wave as it is.
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TStream& stream);
    // Writes the wave to the file, replacing it only once the whole image is safely written.
    void SaveToFile(const std::string& fileName);
    void SaveToStream(TStream& stream);

    std::int32_t GetFreq() const;
    std::int32_t GetBits() const;
    std::int32_t GetChannels() const;
    // Relabels the sampling rate; the samples stay as they are.
    void SetFreq(std::int32_t value);
    void SetBits(std::int32_t value);
    void SetChannels(std::int32_t value);
    TNotifyEvent GetOnNotify() const;
    void SetOnNotify(TNotifyEvent handler);
    // Loads, conversions and saves from now on count their bytes on monitor and stop
    // (EWorkStopped) when it is asked to; nullptr for none. The monitor must outlive its use.
    void SetMonitor(WorkMonitor* monitor);

    // The in-memory wave, or nullptr between a release and the next creation.
    const TRvInternalWAVE* Wave() const { return InternalWave.get(); }
    TRvInternalWAVE* Wave() { return InternalWave.get(); }

private:
    TRvInternalWAVE& Asserted(const char* message) const;

    std::unique_ptr<TRvInternalWAVE> InternalWave;
    WorkMonitor* Monitor = nullptr;
};
