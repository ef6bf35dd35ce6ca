// The wave unit: an in-memory PCM wave, its RIFF WAVE image, and the wave component.
#pragma once

#include "ApplicationException.h"
#include "Exception.h"
#include "RvInternalWave.h"
#include "RvWaveComponent.h"
#include "Stream.h"
#include "WaveDevice.h"
#include "WaveFormat.h"
