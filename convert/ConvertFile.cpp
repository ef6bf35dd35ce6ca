#include "ConvertFile.h"

#include "ConversionSteps.h"
#include "PathParts.h"
#include "Platform.h"
#include "RvWaveComponent.h"
#include "WorkMonitor.h"

#include <exception>

namespace {

// Runs one step of a file's conversion. A failure becomes the status word, unless an earlier
// failure already set one: the first failure decides. A stop is no failure: it gives up the
// whole file.
template <typename Step> void Guarded(std::string& status, const char* failureWord, Step&& step) {
    try {
        step();
    } catch (const EWorkStopped&) {
        throw;
    } catch (const std::exception&) {
        if (status.empty())
            status = failureWord;
    }
}

std::string Destination(const std::string& sourcePath, const ConversionSettings& settings,
                        const std::string& wavesParent) {
    const std::string name = FileNamePart(sourcePath);
    switch (settings.Destination) {
    case DestinationChoice::Overwrite:
        return sourcePath;
    case DestinationChoice::SpecifiedFolder:
        return InFolder(settings.TargetFolder, name);
    case DestinationChoice::WavesFolder:
        break;
    }
    if (wavesParent.empty())
        return {}; // no home folder: the save fails
    // Tried for every file; a folder that exists already, or cannot be made, is no failure
    // here: the save reports a missing folder.
    Platform::MakeFolder(wavesParent);
    Platform::MakeFolder(wavesParent + "Waves");
    return InFolder(wavesParent + "Waves", name);
}

} // namespace

std::string FormatDescription(const TRvWave& wave) {
    // One property after the other, so a failure always names the first one read.
    std::string text = std::to_string(wave.GetFreq()) + "Hz ";
    text += std::to_string(wave.GetBits()) + "Bit ";
    const std::int32_t channels = wave.GetChannels();
    if (channels == 1)
        text += "Mono";
    else if (channels == 2)
        text += "Stereo";
    return text;
}

bool ResultRow::Converted() const {
    return Status == StatusWord::Converted;
}

std::array<std::string, 6> ResultRow::Fields() const {
    return {Name, SourceFolder, DestinationFolder, Status, Before, "→" + After};
}

std::string ResultRow::Text() const {
    const std::array<std::string, 6> fields = Fields();
    std::string text = fields[0];
    for (std::size_t k = 1; k < fields.size(); ++k)
        text += "|" + fields[k];
    return text;
}

ResultRow ConvertFile(const std::string& sourcePath, const ConversionSettings& settings,
                      const std::string& wavesParent, TRvWave& wave) {
    std::string status;
    Guarded(status, StatusWord::ReadFailed, [&] { wave.LoadFromFile(sourcePath); });
    const std::string before = FormatDescription(wave);
    Guarded(status, StatusWord::BitsFailed, [&] { Renormalize8Bit(wave); });

    const std::string destination = Destination(sourcePath, settings, wavesParent);
    if (status.empty())
        Guarded(status, StatusWord::RateFailed, [&] { ConvertRate(wave, settings); });
    // Both conversions are checked, then made in one pass. A refused channel conversion still
    // lets the width conversion be made, and a failure while making them belongs to the first
    // that reads the samples: the same outcome as making one after the other.
    SampleChange bits, channels;
    std::string channelsRefused;
    if (status.empty())
        Guarded(status, StatusWord::BitsFailed,
                [&] { bits = PlanBits(wave, settings.BitsChoice); });
    if (status.empty())
        Guarded(channelsRefused, StatusWord::ChannelsFailed,
                [&] { channels = PlanChannels(wave, bits, settings.ChannelsChoice); });
    // A resampling makes the width and channel conversions with it, in the same pass.
    SampleChange resample;
    if (status.empty())
        Guarded(status, StatusWord::RateFailed,
                [&] { resample = PlanResample(wave, bits, channels, settings); });
    if (resample.Changes()) {
        bits = std::move(resample);
        channels = {};
    }
    // A long file's result goes to the disk as it is converted; it replaces the destination
    // only in the save, once every sample has been read and checked.
    std::unique_ptr<EarlySave> early;
    if (status.empty() && channelsRefused.empty() && !destination.empty())
        early = BeginSave(wave, bits, channels, destination);
    if (status.empty())
        Guarded(status,
                bits.Stage ? StatusWord::RateFailed
                : bits.Run ? StatusWord::BitsFailed
                           : StatusWord::ChannelsFailed,
                [&] { ApplyChanges(wave, bits, channels, early.get()); });
    if (status.empty())
        status = channelsRefused;
    const std::string after = FormatDescription(wave);
    if (status.empty() && destination.empty())
        status = StatusWord::SaveFailed; // no folder to save into: HOME is not set
    if (status.empty()) {
        Guarded(status, StatusWord::SaveFailed, [&] { Save(wave, destination, early); });
        if (status.empty())
            status = StatusWord::Converted;
    }
    return {.SourcePath = sourcePath,
            .Name = FileNamePart(sourcePath),
            .SourceFolder = FolderPart(sourcePath),
            .DestinationFolder = FolderPart(destination),
            .Status = status,
            .Before = before,
            .After = after};
}
