#include "RvInternalWave.h"

#include "ApplicationException.h"
#include "Exception.h"
#include "NotifyWindow.h"
#include "RiffFile.h"
#include "SampleConversion.h"

TRvInternalWAVE::TRvInternalWAVE() {
    CreateWAVE(44100, 16, 1, 1);
    NotifyWnd = std::make_unique<TNotifyWindow>(
        [this](std::uint32_t message) { return NotifyWndProc(message); });
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
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = static_cast<std::uint16_t>(channels);
    WaveFormat.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    WaveFormat.wBitsPerSample = static_cast<std::uint16_t>(bits);
    RecomputeDerivedFields();
}

void TRvInternalWAVE::FreeWAVE() {
    WaveData.reset();
}

std::uint32_t TRvInternalWAVE::ConvertibleFrameSize() const {
    const auto bits = WaveFormat.wBitsPerSample;
    const auto channels = WaveFormat.nChannels;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2))
        return 0;
    return channels * (bits / 8u);
}

HeapBlock TRvInternalWAVE::ConversionBlock(std::uint64_t size, const char* tooLargeMessage) {
    if (!FitsInRiff(size))
        throw ERvWaveInvalidWavePara(tooLargeMessage);
    // Every conversion kernel writes each byte of its output, so it needs no zero fill.
    return HeapBlock(size, HeapBlock::Fill::Overwritten);
}

void TRvInternalWAVE::RecomputeDerivedFields() {
    WaveFormat.nBlockAlign =
        static_cast<std::uint16_t>(WaveFormat.nChannels * (WaveFormat.wBitsPerSample / 8));
    // An unsigned 32-bit product, wrapping as the stored field does.
    WaveFormat.nAvgBytesPerSec = WaveFormat.nSamplesPerSec * WaveFormat.nBlockAlign;
}

void TRvInternalWAVE::ChangeBits(std::int32_t bits) {
    if (WaveFormat.wFormatTag != WAVE_FORMAT_PCM)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeBits: Bad Wave Type");
    if (bits != 8 && bits != 16)
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeBits: Invalid Parameters");
    if (bits == WaveFormat.wBitsPerSample)
        return;
    const std::uint32_t frameSize = ConvertibleFrameSize();
    if (frameSize == 0)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeBits: Bad Wave Type");
    const std::uint64_t samples = DataSize() / frameSize * WaveFormat.nChannels;
    HeapBlock converted =
        ConversionBlock(samples * (bits / 8), "TRvInternalWAVE.ChangeBits: Invalid Parameters");
    if (bits == 16)
        Convert8To16(WaveData.data(), converted.data(), samples);
    else
        Convert16To8(WaveData.data(), converted.data(), samples);
    WaveData = std::move(converted);
    WaveFormat.wBitsPerSample = static_cast<std::uint16_t>(bits);
    RecomputeDerivedFields();
}

void TRvInternalWAVE::ChangeChannels(std::int32_t channels) {
    if (WaveFormat.wFormatTag != WAVE_FORMAT_PCM)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeChannels: Bad Wave Type");
    if (channels != 1 && channels != 2)
        throw ERvWaveInvalidWavePara("TRvInternalWAVE.ChangeChannels: Invalid Parameters");
    if (channels == WaveFormat.nChannels)
        return;
    const std::uint32_t frameSize = ConvertibleFrameSize();
    if (frameSize == 0)
        throw ERvWaveBadWaveType("TRvInternalWave.ChangeChannels: Bad Wave Type");
    const std::uint64_t frames = DataSize() / frameSize;
    const std::uint32_t sampleSize = WaveFormat.wBitsPerSample / 8;
    HeapBlock converted = ConversionBlock(frames * channels * sampleSize,
                                          "TRvInternalWAVE.ChangeChannels: Invalid Parameters");
    const bool toStereo = channels == 2;
    if (sampleSize == 1)
        (toStereo ? MonoToStereo8 : StereoToMono8)(WaveData.data(), converted.data(), frames);
    else
        (toStereo ? MonoToStereo16 : StereoToMono16)(WaveData.data(), converted.data(), frames);
    WaveData = std::move(converted);
    WaveFormat.nChannels = static_cast<std::uint16_t>(channels);
    RecomputeDerivedFields();
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
