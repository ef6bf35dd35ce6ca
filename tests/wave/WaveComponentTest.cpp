// The wave component: properties, loading by name, assertions and device notifications.
#include "NotifyWindow.h"
#include "RvWAVE.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Bytes SamplesOf(const TRvWave& rv) {
    const TRvInternalWAVE& wave = *rv.Wave();
    return Bytes(wave.WaveData.data(), wave.WaveData.data() + wave.DataSize());
}

std::string FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

class WaveComponent : public ::testing::Test {
protected:
    // A stereo 16-bit file at 44100 Hz with four samples, on disk.
    std::string StereoFile() {
        const std::string path = Dir / "stereo.wav";
        WriteFileBytes(path, WaveImage({1, 2, 44100, 16}, Samples16({100, -100, 200, -200})));
        return path;
    }
    TempDir Dir;
    TRvWave Rv;
};

TEST_F(WaveComponent, LayoutValuesOnANewComponentChangeNothing) {
    const TWaveFormatEx before = Rv.Wave()->WaveFormat;
    Rv.SetFreq(44100);
    Rv.SetBits(16);
    Rv.SetChannels(1);
    EXPECT_EQ(Rv.Wave()->WaveFormat, before);
    EXPECT_EQ(Rv.GetFreq(), 44100);
    EXPECT_EQ(SamplesOf(Rv), (Bytes{0, 0}));
}

TEST_F(WaveComponent, FreqRelabelsWithoutTouchingSamples) {
    Rv.LoadFromFile(StereoFile());
    Rv.SetFreq(22050);
    EXPECT_EQ(Rv.GetFreq(), 22050);
    EXPECT_EQ(Rv.Wave()->WaveFormat.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(SamplesOf(Rv), Samples16({100, -100, 200, -200}));
    for (int bad : {0, -8000}) {
        EXPECT_EQ(FailureOf([&] { Rv.SetFreq(bad); }), "TRvWave.Setfreq: Invalid Frequency");
        EXPECT_EQ(Rv.GetFreq(), 22050);
    }
}

TEST_F(WaveComponent, FreqUsesStoredBlockAlignAndIgnoresFormatTag) {
    const std::string path = Dir / "alaw.wav";
    WriteFileBytes(path, WaveImage({6, 1, 8000, 8, 0, 3}, {1, 2, 3}));
    Rv.LoadFromFile(path);
    Rv.SetFreq(11025);
    EXPECT_EQ(Rv.Wave()->WaveFormat.nAvgBytesPerSec, 11025u * 3);
    EXPECT_THROW(Rv.SetBits(8), ERvWaveBadWaveType);
    EXPECT_THROW(Rv.SetChannels(1), ERvWaveBadWaveType);
}

TEST_F(WaveComponent, BitsAndChannelsConvertThroughTheWave) {
    Rv.LoadFromFile(StereoFile());
    Rv.SetChannels(1);
    Rv.SetBits(8);
    EXPECT_EQ(Rv.GetChannels(), 1);
    EXPECT_EQ(Rv.GetBits(), 8);
    EXPECT_EQ(SamplesOf(Rv), (Bytes{128, 128}));
}

TEST_F(WaveComponent, UnopenablePathKeepsThePreviousWave) {
    Rv.LoadFromFile(StereoFile());
    const std::string missing = Dir / "missing.wav";
    EXPECT_EQ(FailureOf([&] { Rv.LoadFromFile(missing); }),
              "ファイル " + missing + " は開けません");
    EXPECT_EQ(FailureOf([&] { Rv.LoadFromFile(Dir.path()); }),
              "ファイル " + Dir.path() + " は開けません");
    EXPECT_EQ(Rv.GetChannels(), 2);
    EXPECT_EQ(SamplesOf(Rv), Samples16({100, -100, 200, -200}));
    EXPECT_FALSE(FileExists(missing));
}

TEST_F(WaveComponent, FileThatIsNotAWaveLeavesAFreshWaveWithoutSamples) {
    Rv.LoadFromFile(StereoFile());
    const std::string text = Dir / "notes.txt";
    WriteFileBytes(text, Bytes(64, 'a'));
    EXPECT_THROW(Rv.LoadFromFile(text), ERvWaveInvalidWaveFile);
    EXPECT_EQ(Rv.GetFreq(), 44100);
    EXPECT_EQ(Rv.GetBits(), 16);
    EXPECT_EQ(Rv.GetChannels(), 1);
    EXPECT_EQ(Rv.Wave()->DataSize(), 0u);
}

TEST_F(WaveComponent, NotifyHandlerSurvivesLoadsGoodAndBad) {
    int calls = 0;
    Rv.SetOnNotify([&](TPersistent*) { ++calls; });
    Rv.LoadFromFile(StereoFile());
    ASSERT_TRUE(Rv.GetOnNotify());
    const std::string text = Dir / "bad.wav";
    WriteFileBytes(text, Bytes(8, 0));
    EXPECT_ANY_THROW(Rv.LoadFromFile(text));
    ASSERT_TRUE(Rv.GetOnNotify());
    Rv.GetOnNotify()(nullptr);
    EXPECT_EQ(calls, 1);

    TRvWave plain;
    plain.LoadFromFile(StereoFile());
    EXPECT_FALSE(plain.GetOnNotify());
}

TEST_F(WaveComponent, EveryOperationAssertsItHoldsAWave) {
    Rv.ReleaseInternalWave();
    EXPECT_EQ(Rv.Wave(), nullptr);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"ReleaseInternalWave", [&] { Rv.ReleaseInternalWave(); }},
        {"SaveToStream",
         [&] {
             TMemoryStream s;
             Rv.SaveToStream(s);
         }},
        {"GetFreq", [&] { Rv.GetFreq(); }},
        {"GetBits", [&] { Rv.GetBits(); }},
        {"GetChannels", [&] { Rv.GetChannels(); }},
        {"SetOnNotify", [&] { Rv.SetOnNotify({}); }},
        {"GetOnNotify", [&] { Rv.GetOnNotify(); }},
        {"SetFreq", [&] { Rv.SetFreq(8000); }},
        {"SetBits", [&] { Rv.SetBits(8); }},
        {"SetChannels", [&] { Rv.SetChannels(2); }},
        {"ReleaseInternalWave",
         [&] {
             TMemoryStream s;
             Rv.LoadFromStream(s);
         }},
        {"SaveToStream", [&] { Rv.SaveToFile(Dir / "out.wav"); }},
    };
    for (const auto& [operation, action] : cases) {
        try {
            action();
            ADD_FAILURE() << operation << " did not assert";
        } catch (const ERvWaveAssert& e) {
            EXPECT_EQ(e.what(), "TRvWave." + operation + ": InternalWave should not be Nil");
        }
    }
    EXPECT_FALSE(FileExists(Dir / "out.wav"));
}

// Records the device calls in order.
class RecordingDevices : public TWaveDeviceApi {
public:
    RecordingDevices() { SetWaveDevices(this); }
    ~RecordingDevices() override { SetWaveDevices(nullptr); }
    void waveOutReset(HWAVEOUT h) override { Log("waveOutReset", h); }
    void waveOutUnprepareHeader(HWAVEOUT h, void* header, std::uint32_t size) override {
        Log("waveOutUnprepareHeader", h, header, size);
    }
    void waveOutClose(HWAVEOUT h) override { Log("waveOutClose", h); }
    void waveInStop(HWAVEIN h) override { Log("waveInStop", h); }
    void waveInReset(HWAVEIN h) override { Log("waveInReset", h); }
    void waveInUnprepareHeader(HWAVEIN h, void* header, std::uint32_t size) override {
        Log("waveInUnprepareHeader", h, header, size);
    }
    void waveInClose(HWAVEIN h) override { Log("waveInClose", h); }

    std::vector<std::string> Calls;
    void* LastHeader = nullptr;

private:
    void Log(const char* name, std::uintptr_t handle, void* header = nullptr,
             std::uint32_t size = 0) {
        Calls.push_back(std::string(name) + "(" + std::to_string(handle) +
                        (header ? "," + std::to_string(size) : "") + ")");
        if (header)
            LastHeader = header;
    }
};

class DeviceNotification : public WaveComponent {
protected:
    void OpenOutput() {
        Wave().DeviceState = 1;
        Wave().WaveOut = 7;
        Wave().WaveHeader = std::make_unique<std::array<std::uint8_t, kWaveHeaderSize>>();
    }
    TRvInternalWAVE& Wave() { return *Rv.Wave(); }
    RecordingDevices Devices;
};

TEST_F(DeviceNotification, OutputDoneStopsTheDeviceThenCallsTheHandlerWithTheWave) {
    OpenOutput();
    void* header = Wave().WaveHeader.get();
    std::vector<std::string> order;
    TPersistent* sender = nullptr;
    Rv.SetOnNotify([&](TPersistent* s) {
        sender = s;
        order.push_back("OnNotify, state " + std::to_string(Wave().DeviceState));
    });
    Wave().NotifyWnd->PostMessage(MM_WOM_DONE);
    EXPECT_TRUE(Devices.Calls.empty()) << "must wait for the event loop";
    DeliverPostedMessages();
    EXPECT_EQ(Devices.Calls,
              (std::vector<std::string>{"waveOutReset(7)", "waveOutUnprepareHeader(7,32)",
                                        "waveOutClose(7)"}));
    EXPECT_EQ(Devices.LastHeader, header);
    EXPECT_EQ(Wave().WaveHeader, nullptr);
    EXPECT_EQ(order, (std::vector<std::string>{"OnNotify, state 0"}));
    EXPECT_EQ(sender, Rv.Wave());
}

TEST_F(DeviceNotification, InputDataStopsAnInputDeviceAndKeepsItsHeader) {
    Wave().DeviceState = -1;
    Wave().WaveIn = 3;
    Wave().WaveHeader = std::make_unique<std::array<std::uint8_t, kWaveHeaderSize>>();
    EXPECT_EQ(Wave().NotifyWnd->SendMessage(MM_WIM_DATA), 0);
    EXPECT_EQ(Devices.Calls,
              (std::vector<std::string>{"waveInStop(3)", "waveInReset(3)",
                                        "waveInUnprepareHeader(3,32)", "waveInClose(3)"}));
    EXPECT_NE(Wave().WaveHeader, nullptr);
    EXPECT_EQ(Wave().DeviceState, 0);
}

TEST_F(DeviceNotification, MismatchedMessageOnlyResetsTheState) {
    OpenOutput();
    int calls = 0;
    Rv.SetOnNotify([&](TPersistent*) { ++calls; });
    Wave().NotifyWnd->SendMessage(MM_WIM_DATA);
    EXPECT_TRUE(Devices.Calls.empty());
    EXPECT_EQ(Wave().DeviceState, 0);
    EXPECT_EQ(calls, 1);
    Wave().NotifyWnd->SendMessage(42); // anything else goes to the default procedure
    EXPECT_EQ(calls, 1);
}

TEST_F(DeviceNotification, HandlerFailureGoesToTheApplicationHandler) {
    std::vector<std::string> reported;
    SetApplicationExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
    Rv.SetOnNotify([](TPersistent*) { throw Exception("handler broke"); });
    EXPECT_EQ(Wave().NotifyWnd->SendMessage(MM_WOM_DONE), 0);
    SetApplicationExceptionHandler({});
    EXPECT_EQ(reported, (std::vector<std::string>{"handler broke"}));
}

TEST_F(DeviceNotification, DestroyingTheWaveStopsAnOpenDevice) {
    OpenOutput();
    Rv.ReleaseInternalWave();
    EXPECT_EQ(Devices.Calls.size(), 3u);
    EXPECT_EQ(Devices.Calls.back(), "waveOutClose(7)");
}

} // namespace
