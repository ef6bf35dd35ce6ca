// What Windows adds to paths and programs: a drive's own current folder, wildcards the program
// expands itself, and the sound editor's registration, the user's before the machine's.
#include "ConvertFile.h"
#include "Platform.h"
#include "RvWAVE.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

std::wstring Wide(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

// "Z:take.wav" is take.wav in drive Z:'s own current folder (which the "=Z:" variable holds),
// not in the current folder, on drive C:; "sub\*.wav" names the files in sub, folder and all. A
// path behind "\\?\" is taken as it is.
TEST(WindowsPaths, DriveRelativeNamesAndWildcardsInAFolder) {
    if (GetDriveTypeW(L"Z:\\") == DRIVE_NO_ROOT_DIR)
        GTEST_SKIP() << "no drive Z: (wine maps the Linux root there)";
    TempDir here, out;
    const std::string there = "Z:\\tmp\\tessaly-drive-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(Wide(there).c_str(), nullptr));
    std::filesystem::create_directory(FileSystemPath(here / "sub"));
    for (const std::string& path : {there + "\\take.wav", here / "sub\\b.wav", here / "sub\\a.wav"})
        WriteFileBytes(path, WaveImage({}, Samples16({1, 2})));
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(Wide(here.path()).c_str());
    SetEnvironmentVariableW(L"=Z:", Wide(there).c_str());
    TRvWave wave;
    const ResultRow row = ConvertFile(
        "Z:take.wav",
        {.Destination = DestinationChoice::SpecifiedFolder, .TargetFolder = out.path()}, "", wave);
    const ResultRow prefixed = ConvertFile(
        "\\\\?\\" + here.path() + "\\sub\\a.wav",
        {.Destination = DestinationChoice::SpecifiedFolder, .TargetFolder = out.path()}, "", wave);
    const auto expanded = Platform::ExpandWildcards("sub\\*.wav");
    SetCurrentDirectoryW(before);
    SetEnvironmentVariableW(L"=Z:", nullptr);
    std::filesystem::remove_all(FileSystemPath(there));
    EXPECT_EQ(row.Status, StatusWord::Converted);
    EXPECT_EQ(row.SourceFolder, "Z:");
    EXPECT_EQ(prefixed.Status, StatusWord::Converted);
    EXPECT_EQ(expanded, (std::vector<std::string>{"sub\\a.wav", "sub\\b.wav"}));
}

// The sound editor the user registered (App Paths, quoted as some installers write it) opens a
// file, not the machine's. Here the editors are copies of tessaly-convert.exe, which converts the
// file into Waves beside itself.
TEST(WindowsPaths, UsersSoundEditorComesBeforeTheMachines) {
    TempDir user, machine, in;
    wchar_t self[MAX_PATH];
    const std::wstring tests(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    const std::wstring program = tests.substr(0, tests.rfind(L'\\') + 1) + Wide(TESSALY_CONVERT);
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\audacity.exe";
    for (auto [root, folder] :
         {std::pair{HKEY_CURRENT_USER, &user}, {HKEY_LOCAL_MACHINE, &machine}}) {
        const std::wstring editor = Wide(*folder / "editor.exe");
        ASSERT_TRUE(CopyFileW(program.c_str(), editor.c_str(), FALSE));
        const std::wstring value = root == HKEY_CURRENT_USER ? L"\"" + editor + L"\"" : editor;
        ASSERT_EQ(RegSetKeyValueW(root, key, nullptr, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    WriteFileBytes(in / "take.wav", WaveImage({}, Samples16({1, 2})));
    const bool started = Platform::OpenInSoundEditor(in / "take.wav");
    for (int wait = 0; wait < 300 && !FileExists(user / "Waves\\take.wav"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    EXPECT_TRUE(started);
    EXPECT_TRUE(FileExists(user / "Waves\\take.wav")) << "the user's editor did not open it";
    EXPECT_FALSE(FileExists(machine / "Waves"));
}

} // namespace
