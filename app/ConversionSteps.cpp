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
    if (target != wave.GetFreq())
        wave.SetFreq(target);
}

void ConvertBits(TRvWave& wave, std::int32_t choice) {
    if ((choice == 16 || choice == 8) && wave.GetBits() != choice)
        wave.SetBits(choice);
}

void ConvertChannels(TRvWave& wave, std::int32_t choice) {
    if ((choice == 2 || choice == 1) && wave.GetChannels() != choice)
        wave.SetChannels(choice);
}

void Renormalize8Bit(TRvWave& wave) {
    // Read first, so a component without a wave raises as the width property does.
    if (wave.GetBits() == 8)
        wave.Wave()->Renormalize8Bit();
}
