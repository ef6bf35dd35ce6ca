// The general exception class and the wave unit's own failures.
#pragma once

#include <exception>
#include <string>
#include <utility>

// Base of every failure this program raises; what() gives the message as UTF-8 text.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

private:
    std::string Message;
};

// A block of memory could not be had; raised instead of std::bad_alloc so that callers
// which guard a step against Exception also catch it.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory.") {}
};

#define RV_DECLARE_EXCEPTION(Name)                                                                 \
    class Name : public Exception {                                                                \
    public:                                                                                        \
        using Exception::Exception;                                                                \
    }

// A stream holds no usable RIFF WAVE image.
RV_DECLARE_EXCEPTION(ERvWaveInvalidWaveFile);
// An argument is out of range.
RV_DECLARE_EXCEPTION(ERvWaveInvalidWavePara);
// A conversion is asked of a wave it is not defined for.
RV_DECLARE_EXCEPTION(ERvWaveBadWaveType);
// The memory file cannot be opened, or a chunk cannot be written.
RV_DECLARE_EXCEPTION(ERvWaveInOutError);
// The component is used while it holds no in-memory wave.
RV_DECLARE_EXCEPTION(ERvWaveAssert);

#undef RV_DECLARE_EXCEPTION
