// The conversion of one source file, and the result row that tells its outcome.
#pragma once

#include "ConversionSettings.h"

#include <array>
#include <string>

class TRvWave;

// The six outcomes a result row can tell.
namespace StatusWord {
inline constexpr const char* ReadFailed = "読込失敗";
inline constexpr const char* RateFailed = "周波数変更に失敗しました";
inline constexpr const char* BitsFailed = "ビット変換に失敗しました";
inline constexpr const char* ChannelsFailed = "チャンネル変換に失敗しました";
inline constexpr const char* SaveFailed = "保存に失敗しました";
inline constexpr const char* Converted = "変換完了";
} // namespace StatusWord

// "44100Hz 16Bit Stereo": the format the component holds now.
std::string FormatDescription(const TRvWave& wave);

// The outcome of one file: its fields, and the line of the result list they make.
struct ResultRow {
    std::string SourcePath; // the path as given
    std::string Name, SourceFolder, DestinationFolder, Status, Before, After;

    // Decided on the status word alone: a name or folder may read like one.
    bool Converted() const;
    // The six columns of the result list: name, source folder, destination folder, status word,
    // before, and "→" + after.
    std::array<std::string, 6> Fields() const;
    // The fields joined by "|": name|source folder|destination folder|status word|before|→after.
    std::string Text() const;
};

// Loads sourcePath into wave, converts it as settings ask and saves it to its destination; the
// "Waves" destination is in wavesParent (WavesParentFolder()).
// Every failure of a step becomes the row's status word. FormatDescription still raises when
// the component holds no wave (a load whose fresh wave could not be made), and that failure
// leaves ConvertFile; so does EWorkStopped when the wave's monitor or the program is asked to
// stop: the file is then given up, with nothing written.
ResultRow ConvertFile(const std::string& sourcePath, const ConversionSettings& settings,
                      const std::string& wavesParent, TRvWave& wave);
