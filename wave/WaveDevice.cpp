#include "WaveDevice.h"

namespace {
TWaveDeviceApi NoDevices;
TWaveDeviceApi* Current = &NoDevices;
} // namespace

TWaveDeviceApi& WaveDevices() {
    return *Current;
}

void SetWaveDevices(TWaveDeviceApi* api) {
    Current = api ? api : &NoDevices;
}
