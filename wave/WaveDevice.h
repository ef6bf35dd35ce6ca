// The platform's wave-device calls that stopping a device needs. This program never opens a
// device; the calls go through a replaceable table so that a device backend, or a test, can
// stand behind them. The default table does nothing.
#pragma once

#include <cstdint>

using HWAVEOUT = std::uintptr_t;
using HWAVEIN = std::uintptr_t;

// Device-done messages delivered to an in-memory wave's notification window.
constexpr std::uint32_t MM_WOM_DONE = 957; // an output buffer has been played
constexpr std::uint32_t MM_WIM_DATA = 960; // an input buffer has been filled

// Length of the buffer header block handed to a device.
constexpr std::uint32_t kWaveHeaderSize = 32;

class TWaveDeviceApi {
public:
    virtual ~TWaveDeviceApi() = default;
    virtual void waveOutReset(HWAVEOUT) {}
    virtual void waveOutUnprepareHeader(HWAVEOUT, void* /*header*/, std::uint32_t /*size*/) {}
    virtual void waveOutClose(HWAVEOUT) {}
    virtual void waveInStop(HWAVEIN) {}
    virtual void waveInReset(HWAVEIN) {}
    virtual void waveInUnprepareHeader(HWAVEIN, void* /*header*/, std::uint32_t /*size*/) {}
    virtual void waveInClose(HWAVEIN) {}
};

TWaveDeviceApi& WaveDevices();
// Installs api (not owned) as the table in use; nullptr restores the default.
void SetWaveDevices(TWaveDeviceApi* api);
