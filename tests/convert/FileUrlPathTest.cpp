// Dropped files' URLs to the paths Windows opens. (On POSIX the URL's path is the path itself,
// and another host's file has none: the window's drop tests hold that.)
#include "Platform.h"

#include <gtest/gtest.h>

TEST(FileUrlPath, DrivePathsAndSharesOnWindows) {
    if (Platform::PathSeparator() != '\\')
        GTEST_SKIP() << "drive letters and shares are Windows'";
    EXPECT_EQ(Platform::FileUrlPath("", "/C:/takes/a b.wav"), "C:\\takes\\a b.wav");
    EXPECT_EQ(Platform::FileUrlPath("localhost", "/z:/a.wav"), "z:\\a.wav");
    EXPECT_EQ(Platform::FileUrlPath("server", "/share/a.wav"), "\\\\server\\share\\a.wav");
}
