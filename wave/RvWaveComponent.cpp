#include "RvWaveComponent.h"

#include "Exception.h"
#include "Platform.h"
#include "Stream.h"

TRvWave::TRvWave() : InternalWave(std::make_unique<TRvInternalWAVE>()) {}

TRvWave::~TRvWave() {
    // A destructor must not raise: a component whose last load could not create its wave
    // simply has nothing to release.
    if (InternalWave)
        ReleaseInternalWave();
}

TRvInternalWAVE& TRvWave::Asserted(const char* message) const {
    if (!InternalWave)
        throw ERvWaveAssert(message);
    return *InternalWave;
}

void TRvWave::ReleaseInternalWave() {
    TRvInternalWAVE& wave = Asserted("TRvWave.ReleaseInternalWave: InternalWave should not be Nil");
    if (--wave.RefCount <= 0)
        InternalWave.reset();
    else
        (void)InternalWave.release(); // another holder owns it now and destroys it
}

void TRvWave::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, Monitor);
    LoadFromStream(stream);
}

void TRvWave::LoadFromStream(TStream& stream) {
    const TRvInternalWAVE& old =
        Asserted("TRvWave.ReleaseInternalWave: InternalWave should not be Nil");
    // The fresh wave exists before the old one goes: when it cannot be made, the old one stays
    // and the component still holds a wave for the files after this one.
    auto fresh = std::make_unique<TRvInternalWAVE>();
    fresh->OnNotify = old.OnNotify;
    fresh->Monitor = Monitor;
    ReleaseInternalWave();
    InternalWave = std::move(fresh);
    InternalWave->LoadFromFile(stream);
}

void TRvWave::SaveToFile(const std::string& fileName) {
    TFileReplaceStream stream(fileName, Monitor);
    SaveToStream(stream);
    // Where a mapped file cannot be replaced, a wave still mapped from the very file this save
    // replaces (its samples left as they were) takes them into memory first. Mapped from
    // another file, it stays mapped: a copy would double the memory the save needs.
    HeapBlock& samples = Asserted("TRvWave.SaveToFile: InternalWave should not be Nil").WaveData;
    if (Platform::MappedFilesBlockReplace() && stream.Replaces(samples))
        samples.LetGoOfFile();
    stream.Commit();
}

void TRvWave::SaveToStream(TStream& stream) {
    Asserted("TRvWave.SaveToStream: InternalWave should not be Nil").SaveToFile(stream);
}

std::int32_t TRvWave::GetFreq() const {
    return static_cast<std::int32_t>(
        Asserted("TRvWave.GetFreq: InternalWave should not be Nil").WaveFormat.nSamplesPerSec);
}

std::int32_t TRvWave::GetBits() const {
    return Asserted("TRvWave.GetBits: InternalWave should not be Nil").WaveFormat.wBitsPerSample;
}

std::int32_t TRvWave::GetChannels() const {
    return Asserted("TRvWave.GetChannels: InternalWave should not be Nil").WaveFormat.nChannels;
}

void TRvWave::SetFreq(std::int32_t value) {
    TRvInternalWAVE& wave = Asserted("TRvWave.SetFreq: InternalWave should not be Nil");
    if (value <= 0)
        throw ERvWaveInvalidWavePara("TRvWave.Setfreq: Invalid Frequency");
    wave.WaveFormat.nSamplesPerSec = static_cast<std::uint32_t>(value);
    wave.WaveFormat.nAvgBytesPerSec =
        static_cast<std::uint32_t>(value) * wave.WaveFormat.nBlockAlign;
}

void TRvWave::SetBits(std::int32_t value) {
    Asserted("TRvWave.SetBits: InternalWave should not be Nil").ChangeBits(value);
}

void TRvWave::SetChannels(std::int32_t value) {
    Asserted("TRvWave.SetChannels: InternalWave should not be Nil").ChangeChannels(value);
}

TNotifyEvent TRvWave::GetOnNotify() const {
    return Asserted("TRvWave.GetOnNotify: InternalWave should not be Nil").OnNotify;
}

void TRvWave::SetOnNotify(TNotifyEvent handler) {
    Asserted("TRvWave.SetOnNotify: InternalWave should not be Nil").OnNotify = std::move(handler);
}

void TRvWave::SetMonitor(WorkMonitor* monitor) {
    Monitor = monitor;
    if (InternalWave)
        InternalWave->Monitor = monitor;
}
