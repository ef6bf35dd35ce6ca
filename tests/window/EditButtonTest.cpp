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
        // A stand-in recorder, first on PATH, that writes each argument on a line of its own.
        const std::string script = Tools / "audacity";
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \""
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

TEST_F(EditButtonTest, StartsTheRecorderOnTheSelectedSourceWithSpacesKept) {
    WriteIntoResultFolder();
    std::filesystem::create_directory(Sources / "my takes");
    const std::string spaced = Sources / "my takes/take 'one'.wav";
    WriteFileBytes(spaced, WaveImage({}, Samples16({1, 2})));
    ASSERT_TRUE(Drop({WriteWave("a.wav"), spaced}));

    auto* list = Control<QListWidget>("LB");
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    ASSERT_TRUE(list->item(1)->isSelected());
    Click("Button1");
    EXPECT_EQ(Arguments(), spaced + "\n");
}
