#include "ConversionSteps.h"

#include "RvWaveComponent.h"

namespace {

std::int32_t TargetRate(const ConversionSettings& settings, std::int32_t current) {
    std::int32_t target = settings.RateChoice == 0 ? current : settings.RateChoice;
    if (settings.KeepLowerRate && current < target)
        target = current;
    return target;
}

} // namespace

void ConvertRate(TRvWave& wave, const ConversionSettings& settings) {
    const std::int32_t target = TargetRate(settings, wave.GetFreq());
    if (target != wave.GetFreq() && !settings.Resample)
        wave.SetFreq(target);
}

SampleChange PlanResample(const TRvWave& wave, const SampleChange& bits,
                          const SampleChange& channels, const ConversionSettings& settings) {
    if (!settings.Resample)
        return {};
    const TRvInternalWAVE::Shape from = wave.Wave()->CurrentShape();
    const TRvInternalWAVE::Shape& to = channels.Changes() ? channels.After
                                       : bits.Changes()   ? bits.After
                                                          : from;
    return TRvInternalWAVE::PlanResample(from, to, TargetRate(settings, wave.GetFreq()));
}

SampleChange PlanBits(const TRvWave& wave, std::int32_t choice) {
    if ((choice == 16 || choice == 8) && wave.GetBits() != choice)
        return TRvInternalWAVE::PlanBits(wave.Wave()->CurrentShape(), choice);
    return {};
}

SampleChange PlanChannels(const TRvWave& wave, const SampleChange& bits, std::int32_t choice) {
    // A width conversion keeps the channel count.
    if ((choice == 2 || choice == 1) && wave.GetChannels() != choice)
        return TRvInternalWAVE::PlanChannels(bits.Run ? bits.After : wave.Wave()->CurrentShape(),
                                             choice);
    return {};
}

std::unique_ptr<EarlySave> BeginSave(TRvWave& wave, const SampleChange& bits,
                                     const SampleChange& channels, const std::string& destination) {
    // Samples in memory are read already; a mapped file's are read as they are converted.
    if ((!bits.Changes() && !channels.Changes()) || wave.Wave()->WaveData.Writable())
        return nullptr;
    return EarlySave::Begin(destination, channels.Changes() ? channels.After : bits.After,
                            wave.Wave()->Monitor);
}

void ApplyChanges(TRvWave& wave, const SampleChange& bits, const SampleChange& channels,
                  EarlySave* early) {
    // A plan to change something was made from a wave, so the wave is there.
    if (bits.Changes() || channels.Changes())
        wave.Wave()->Apply(bits, channels, early);
}

void Save(TRvWave& wave, const std::string& destination, std::unique_ptr<EarlySave>& early) {
    if (early && wave.Wave() && early->Finish(*wave.Wave()))
        return;
    early.reset();
    wave.SaveToFile(destination);
}

void Renormalize8Bit(TRvWave& wave) {
    // Read first, so a component without a wave raises as the width property does.
    if (wave.GetBits() == 8)
        wave.Wave()->Renormalize8Bit();
}
