#include "WaveFormat.h"

#include "LittleEndian.h"

TWaveFormatEx::Bytes TWaveFormatEx::ToBytes() const {
    Bytes b{};
    PutLE16(&b[0], wFormatTag);
    PutLE16(&b[2], nChannels);
    PutLE32(&b[4], nSamplesPerSec);
    PutLE32(&b[8], nAvgBytesPerSec);
    PutLE16(&b[12], nBlockAlign);
    PutLE16(&b[14], wBitsPerSample);
    PutLE16(&b[16], cbSize);
    return b;
}

TWaveFormatEx TWaveFormatEx::FromBytes(const Bytes& b) {
    TWaveFormatEx f;
    f.wFormatTag = GetLE16(&b[0]);
    f.nChannels = GetLE16(&b[2]);
    f.nSamplesPerSec = GetLE32(&b[4]);
    f.nAvgBytesPerSec = GetLE32(&b[8]);
    f.nBlockAlign = GetLE16(&b[12]);
    f.wBitsPerSample = GetLE16(&b[14]);
    f.cbSize = GetLE16(&b[16]);
    return f;
}
