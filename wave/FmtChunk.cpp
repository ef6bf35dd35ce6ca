#include "FmtChunk.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kPlainFmtSize = TWaveFormatEx::ByteSize;
constexpr std::uint64_t kCommonFmtSize = 16; // tag to bits per sample
constexpr std::uint16_t kExtensionSize = 22; // valid bits, channel mask, sub-format
constexpr std::uint64_t kFactChunkBytes = 12;
constexpr std::uint64_t kRiffBytesAroundFmt = 4 + 8 + 8; // form type, "fmt " and "data" headers

// The sub-format GUIDs of PCM and IEEE float samples: the format tag, then a fixed tail.
std::array<std::uint8_t, 16> SubFormat(std::uint16_t tag) {
    std::array<std::uint8_t, 16> guid = {0,    0,    0,    0,    0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    PutLE16(guid.data(), tag);
    return guid;
}

bool IsPcmOrFloat(std::uint16_t tag) {
    return tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT;
}

// The tag an extensible chunk's sub-format stands for, or 0 for one that is not read.
std::uint16_t ExtensibleTag(const TFmtChunkBytes& bytes, std::uint64_t size) {
    if (size < kMaxFmtChunkSize || GetLE16(&bytes[16]) < kExtensionSize)
        return 0;
    for (std::uint16_t tag : {WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT})
        if (std::memcmp(&bytes[24], SubFormat(tag).data(), 16) == 0)
            return tag;
    return 0;
}

TWaveFormatEx CommonFields(const TFmtChunkBytes& bytes) {
    TWaveFormatEx::Bytes head{};
    std::copy_n(bytes.begin(), kCommonFmtSize, head.begin());
    return TWaveFormatEx::FromBytes(head); // extra size 0
}

} // namespace

bool ReadFmtChunk(const TFmtChunkBytes& bytes, std::uint64_t size, TWaveFormatEx& record,
                  TWaveExtension& extension) {
    const std::uint16_t tag = GetLE16(bytes.data());
    if (size <= kPlainFmtSize) {
        TWaveFormatEx::Bytes head = record.ToBytes();
        std::copy_n(bytes.begin(), size, head.begin());
        record = TWaveFormatEx::FromBytes(head);
        extension = TWaveExtension{};
        return true;
    }
    if (IsPcmOrFloat(tag)) {
        record = CommonFields(bytes);
        extension = TWaveExtension{};
        return true;
    }
    const std::uint16_t subTag = tag == WAVE_FORMAT_EXTENSIBLE ? ExtensibleTag(bytes, size) : 0;
    if (subTag == 0)
        return false;
    record = CommonFields(bytes);
    record.wFormatTag = subTag;
    extension = {true, GetLE16(&bytes[18]), GetLE32(&bytes[20])};
    return true;
}

bool WritesExtensible(const TWaveFormatEx& record, const TWaveExtension& extension) {
    const bool plainShape = record.wFormatTag == WAVE_FORMAT_PCM &&
                            (record.wBitsPerSample == 8 || record.wBitsPerSample == 16) &&
                            (record.nChannels == 1 || record.nChannels == 2);
    return extension.Extensible && !plainShape;
}

std::uint32_t FmtChunkSize(const TWaveFormatEx& record, const TWaveExtension& extension) {
    return WritesExtensible(record, extension) ? kMaxFmtChunkSize : kPlainFmtSize;
}

TFmtChunkBytes FmtChunkBytes(const TWaveFormatEx& record, const TWaveExtension& extension) {
    TFmtChunkBytes bytes{};
    const TWaveFormatEx::Bytes plain = record.ToBytes();
    std::copy(plain.begin(), plain.end(), bytes.begin());
    if (WritesExtensible(record, extension)) {
        PutLE16(&bytes[0], WAVE_FORMAT_EXTENSIBLE);
        PutLE16(&bytes[16], kExtensionSize);
        PutLE16(&bytes[18], extension.ValidBitsPerSample);
        PutLE32(&bytes[20], extension.ChannelMask);
        const auto guid = SubFormat(record.wFormatTag);
        std::copy(guid.begin(), guid.end(), bytes.begin() + 24);
    }
    return bytes;
}

bool WritesFactChunk(const TWaveFormatEx& record, const TWaveExtension& extension) {
    return WritesExtensible(record, extension) && record.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
}

std::uint64_t RiffHeaderBytes(const TWaveFormatEx& record, const TWaveExtension& extension) {
    return kRiffBytesAroundFmt + FmtChunkSize(record, extension) +
           (WritesFactChunk(record, extension) ? kFactChunkBytes : 0);
}
