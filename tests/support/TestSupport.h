// Helpers shared by the test suites: temporary folders, WAV images built byte by byte, files
// and child programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return Path; }
    // path() + "/" + name
    std::string operator/(const std::string& name) const { return Path + "/" + name; }

private:
    std::string Path;
};

// A path of the program's own (UTF-8; on POSIX any bytes) as the standard library takes it,
// and a name the library gives back in the program's form.
std::filesystem::path FileSystemPath(const std::string& path);
std::string Utf8Name(const std::filesystem::path& name);

// The separator the program puts between a folder and a name ("/"; on Windows "\").
extern const char kSeparator[];
// Whether the tests run on a POSIX system; tests of POSIX facilities skip elsewhere.
extern const bool kPosix;

// Paths in or beside folder that name no regular file: the folder itself, and a FIFO made in it
// and a device (POSIX) or the null device (Windows).
std::vector<std::string> NonRegularFiles(const std::string& folder);

// Holds a file open so that no other program may use it meanwhile: an exclusive lock (POSIX), a
// handle that shares nothing (Windows).
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::string& path);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    std::intptr_t Native;
};

// Whether the signal sent to the process waits, not yet taken by any of its threads (POSIX).
bool SignalPending(int pid, int signal);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
// Names in the folder, "." and ".." left out, sorted.
std::vector<std::string> ListFolder(const std::string& path);

// Little-endian pieces of an image.
void AppendLE16(Bytes& out, std::uint16_t value);
void AppendLE32(Bytes& out, std::uint32_t value);
void AppendText(Bytes& out, const char* fourChars);

// One RIFF chunk: identifier, size (the data's, unless given), data, and a pad byte when the
// data's length is odd.
Bytes Chunk(const char* id, const Bytes& data);
Bytes ChunkWithSize(const char* id, std::uint32_t size, const Bytes& data);
// "RIFF", its size, the form type and the chunks.
Bytes Riff(const char* formType, std::initializer_list<Bytes> chunks);

// A format record: 16 bytes, or 18 with the extra size when withExtra is set.
struct Format {
    std::uint16_t Tag = 1;
    std::uint16_t Channels = 1;
    std::uint32_t Rate = 44100;
    std::uint16_t Bits = 16;
    // Derived from the others when left at 0.
    std::uint32_t AvgBytesPerSec = 0;
    std::uint16_t BlockAlign = 0;
};
Bytes FmtRecord(const Format& format, bool withExtra = false, std::uint16_t extraSize = 0);

// A plain wave file image: RIFF/WAVE with a 16-byte "fmt " and a "data" chunk.
Bytes WaveImage(const Format& format, const Bytes& samples);
// 16-bit little-endian samples as bytes.
Bytes Samples16(std::initializer_list<std::int16_t> samples);
// Integer samples of width bytes, and IEEE float samples, little-endian.
Bytes SamplesLE(int width, std::initializer_list<std::int64_t> samples);
Bytes Floats32(std::initializer_list<float> samples);
Bytes Floats64(std::initializer_list<double> samples);
// A 40-byte WAVE_FORMAT_EXTENSIBLE record of format with the sub-format of subTag (1 PCM,
// 3 float) and the extension size given.
Bytes ExtensibleRecord(const Format& format, std::uint16_t validBits, std::uint32_t channelMask,
                       std::uint16_t subTag, std::uint16_t extensionSize = 22);

// Runs a program (searched on PATH) without a shell and collects its output.
struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};
RunResult RunProgram(const std::vector<std::string>& argv);
bool HaveProgram(const std::string& name);

// The memory this process holds now (its resident set, working set) and the most it has held.
std::uint64_t MemoryInUse();
std::uint64_t PeakMemoryInUse();
// Whether this process has a file whose name (the last part of its path) is name mapped.
bool MapsFileNamed(const std::string& name);
