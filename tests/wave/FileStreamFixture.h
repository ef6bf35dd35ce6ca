// The fixture of the file stream tests: a folder, a component, and what loads and saves say.
#pragma once

#include "RvWAVE.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

class FileStreams : public ::testing::Test {
protected:
    std::string MakeWave(const std::string& name) {
        const std::string path = Dir / name;
        WriteFileBytes(path, WaveImage({1, 1, 8000, 16}, Samples16({1, 2, 3})));
        return path;
    }
    std::string OpenFailure(const std::string& path) {
        return "ファイル " + path + " は開けません";
    }
    std::string CreateFailure(const std::string& path) {
        return "ファイル " + path + " を作成できません";
    }

    // The message of a save of Rv to path, or "" when it succeeds.
    std::string SaveFailure(const std::string& path) {
        try {
            Rv.SaveToFile(path);
        } catch (const EStreamError& e) {
            return e.what();
        }
        return "";
    }
    std::string LoadFailure(const std::string& path) {
        try {
            Rv.LoadFromFile(path);
        } catch (const EStreamError& e) {
            return e.what();
        }
        return "";
    }

    TempDir Dir;
    TRvWave Rv;
};
