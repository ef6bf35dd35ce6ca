// The "fmt " chunk in the forms files hold it: the plain record (16 or 18 bytes, or longer for
// PCM and float), and the 40-byte WAVE_FORMAT_EXTENSIBLE form.
#pragma once

#include "WaveFormat.h"

#include <array>
#include <cstdint>

// The most of a "fmt " chunk that is ever read or written.
constexpr std::uint64_t kMaxFmtChunkSize = 40;
using TFmtChunkBytes = std::array<std::uint8_t, kMaxFmtChunkSize>;

// Takes a "fmt " chunk of size bytes, of which bytes holds the first ones (up to
// kMaxFmtChunkSize). A chunk of up to 18 bytes overwrites the leading bytes of record; a longer
// one must be PCM or float, plain or extensible, and gives a record with extra size 0. Returns
// false, changing nothing, for any other longer chunk.
bool ReadFmtChunk(const TFmtChunkBytes& bytes, std::uint64_t size, TWaveFormatEx& record,
                  TWaveExtension& extension);

// Whether a save writes the wave in the extensible form.
bool WritesExtensible(const TWaveFormatEx& record, const TWaveExtension& extension);
// The size of the "fmt " chunk a save writes, and its bytes.
std::uint32_t FmtChunkSize(const TWaveFormatEx& record, const TWaveExtension& extension);
TFmtChunkBytes FmtChunkBytes(const TWaveFormatEx& record, const TWaveExtension& extension);
// Whether a save writes a "fact" chunk: float in the extensible form, as other writers do.
bool WritesFactChunk(const TWaveFormatEx& record, const TWaveExtension& extension);
// The RIFF chunk's size without the samples and their pad byte, for the wave as it is saved.
std::uint64_t RiffHeaderBytes(const TWaveFormatEx& record, const TWaveExtension& extension);
