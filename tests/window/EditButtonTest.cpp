// The edit button: nothing without a selection; otherwise "audacity" from PATH on the selected
// row's source path, as one argument.
#include "WindowFixture.h"

#include <QListWidget>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class EditButtonTest : public WindowTest {
protected:
    EditButtonTest() {
        // A stand-in recorder, first on PATH, that writes each argument ended by a NUL byte.
        const std::string script = Tools / "audacity";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\000' \"$@\" > \""
                              << Tools / "arguments.tmp"
                              << "\"\nmv \"" << Tools / "arguments.tmp"
                              << "\" \"" << Tools / "arguments"
                              << "\"\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        SavedPath = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(Tools.path()) + ":" + SavedPath);
    }
    ~EditButtonTest() override { qputenv("PATH", SavedPath); }

    // The stand-in's arguments once it has run, or empty when it has not run within a while.
    std::string Arguments(int waitMs = 5000) {
        const std::string file = Tools / "arguments";
        if (!QTest::qWaitFor([&] { return FileExists(file); }, waitMs))
            return {};
        std::ostringstream text;
        text << std::ifstream(file).rdbuf();
        return text.str();
    }

    TempDir Tools;
    QByteArray SavedPath;
};

} // namespace

TEST_F(EditButtonTest, DoesNothingWithoutASelection) {
    WriteIntoResultFolder();
    ASSERT_TRUE(Drop({WriteWave("a.wav")}));
    Click("Button1");
    EXPECT_EQ(Arguments(1500), "");
}

TEST_F(EditButtonTest, StartsTheRecorderOnTheSelectedSourceAsItsOwnBytes) {
    WriteIntoResultFolder();
    std::filesystem::create_directory(Sources / "my takes");
    std::vector<std::string> paths = WriteOddlyNamedWaves();
    paths.push_back(Sources / "my takes/take 'one'.wav");
    WriteFileBytes(paths.back(), WaveImage({}, Samples16({1, 2})));
    ASSERT_TRUE(Drop(paths));

    auto* list = Control<QListWidget>("LB");
    for (int row = 0; row < list->count(); ++row) {
        const QRect item = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
        ASSERT_TRUE(list->item(row)->isSelected());
        Click("Button1");
        EXPECT_EQ(Arguments(), paths[row] + '\0') << row;
        std::filesystem::remove(Tools / "arguments");
    }
}
