// Dropping files: one row per file in drop order, the progress panel counting them, settings
// read for every drop, failures that do not stop the batch.
#include "WindowFixture.h"

#include "Application.h"
#include "ApplicationException.h"
#include "PathParts.h"
#include "RvWaveComponent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

// What the progress panel shows each time its counter is painted with a new text (the list's
// repaints, which the panel floats over, paint it again unchanged).
struct ProgressFrame {
    QString Counter;
    int Value, Minimum, Maximum;
    bool PanelVisible;
    int Rows;
};

class ProgressRecorder : public QObject {
public:
    ProgressRecorder(QLabel* counter, QProgressBar* bar, QListWidget* list)
        : Counter(counter), Bar(bar), List(list) {
        counter->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint &&
            (Frames.empty() || Frames.back().Counter != Counter->text()))
            Frames.push_back({Counter->text(), Bar->value(), Bar->minimum(), Bar->maximum(),
                              Counter->parentWidget()->isVisible(), List->count()});
        return false;
    }
    std::vector<ProgressFrame> Frames;

private:
    QLabel* Counter;
    QProgressBar* Bar;
    QListWidget* List;
};

// The row counts at which the list's surface was painted.
class ListPaintRecorder : public QObject {
public:
    explicit ListPaintRecorder(QListWidget* list) : List(list) {
        list->viewport()->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            RowsAtPaint.push_back(List->count());
        return false;
    }
    std::vector<int> RowsAtPaint;

private:
    QListWidget* List;
};

QString Row(const std::string& name, const std::string& folder, const std::string& target,
            const char* status, const char* before, const char* after) {
    return QString::fromStdString(name + "|" + folder + "|" + target + "|" + status + "|" + before +
                                  "|→" + after);
}

} // namespace

TEST_F(WindowTest, DropConvertsEveryFileInOrderCountingThemAtMostOnceAFrame) {
    WriteIntoResultFolder();
    const int count = 200;
    std::vector<std::string> paths;
    for (int n = count; n > 0; --n)
        paths.push_back(WriteWave(std::to_string(n) + ".wav"));
    ProgressRecorder progress(Control<QLabel>("Label6"), Control<QProgressBar>("PB"),
                              Control<QListWidget>("LB"));
    ListPaintRecorder listPaints(Control<QListWidget>("LB"));

    QElapsedTimer batch;
    batch.start();
    ASSERT_TRUE(Drop(paths));
    const qint64 milliseconds = batch.elapsed();

    const std::string source = ShownFolder(Sources.path()), target = ShownFolder(Results.path());
    const char* mono = "44100Hz 16Bit Mono";
    QStringList expected;
    for (const std::string& path : paths)
        expected << Row(FileNamePart(path), source, target, "変換完了", mono, mono);
    EXPECT_EQ(Rows(), expected);
    for (const std::string& path : paths)
        EXPECT_TRUE(FileExists(Results / FileNamePart(path))) << path;

    // Each time the screen is brought up to date, it shows the file in hand, how far it has
    // come on the bar, and the rows before it; the first file is always shown, and no two
    // updates come within a 16 ms frame.
    ASSERT_FALSE(progress.Frames.empty());
    EXPECT_LE(progress.Frames.size(), static_cast<std::size_t>(milliseconds / 16 + 1));
    int previous = 0;
    for (const ProgressFrame& frame : progress.Frames) {
        const int n = frame.Counter.section('/', 0, 0).toInt();
        EXPECT_EQ(frame.Counter, QStringLiteral("%1/%2").arg(n).arg(count));
        EXPECT_GT(n, previous);
        EXPECT_GE(frame.Value * count, (n - 1) * frame.Maximum);
        EXPECT_LE(frame.Value * count, n * frame.Maximum);
        EXPECT_EQ(frame.Minimum, 0);
        EXPECT_TRUE(frame.PanelVisible);
        EXPECT_EQ(frame.Rows, n - 1);
        previous = n;
    }
    EXPECT_EQ(progress.Frames[0].Counter, QStringLiteral("1/%1").arg(count));
    // The whole list is painted when the batch ends.
    ASSERT_FALSE(listPaints.RowsAtPaint.empty());
    EXPECT_EQ(listPaints.RowsAtPaint.back(), count);
    EXPECT_FALSE(Control<QWidget>("Panel4")->isVisible());
}

TEST_F(WindowTest, DropIsAnsweredBeforeTheBatchRuns) {
    WriteIntoResultFolder();
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(WriteWave("a.wav")));
    EXPECT_TRUE(DeliverDrop({url}, Control<QWidget>("LB")));
    EXPECT_TRUE(Rows().isEmpty());
    WaitWhileBusy();
    EXPECT_EQ(Rows().size(), 1);
}

// Text typed through an input method (the way Japanese is typed) during a batch is held with
// the other input: the batch keeps the folder it started with, and the box gets the text when
// the batch ends.
TEST_F(WindowTest, InputMethodTextDuringABatchWaitsForItsEnd) {
    WriteIntoResultFolder();
    auto* box = Control<QLineEdit>("Edit1");
    const QString folder = box->text();
    box->setFocus();
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(WriteWave("a.wav")));
    ASSERT_TRUE(DeliverDrop({url, url}, Control<QWidget>("LB")));
    QCoreApplication::processEvents(); // the batch starts
    ASSERT_TRUE(Form.Busy());
    QInputMethodEvent typed;
    typed.setCommitString(QStringLiteral("é"));
    QCoreApplication::sendEvent(box, &typed);
    EXPECT_EQ(box->text(), folder);
    WaitWhileBusy();
    EXPECT_EQ(box->text(), folder + QStringLiteral("é"));
    ASSERT_EQ(Rows().size(), 2);
    for (const QString& row : Rows())
        EXPECT_EQ(row.section('|', 2, 2),
                  QString::fromStdString(ShownFolder(folder.toStdString())));
}

TEST_F(WindowTest, SingleFileStartsWithAnEmptyBar) {
    WriteIntoResultFolder();
    ProgressRecorder progress(Control<QLabel>("Label6"), Control<QProgressBar>("PB"),
                              Control<QListWidget>("LB"));
    ASSERT_TRUE(Drop({WriteWave("one.wav")}));
    ASSERT_EQ(progress.Frames.size(), 1u);
    EXPECT_EQ(progress.Frames[0].Counter, "1/1");
    // An empty range would be drawn as a busy indicator.
    EXPECT_EQ(progress.Frames[0].Value, progress.Frames[0].Minimum);
    EXPECT_LT(progress.Frames[0].Minimum, progress.Frames[0].Maximum);
}

TEST_F(WindowTest, DropsOnAnyPartOfTheWindowArriveAtTheWindow) {
    WriteIntoResultFolder();
    const std::string path = WriteWave("a.wav");
    for (const char* name : {"LB", "Edit1", "HC", "Button1", "GroupBox1", "Label2"})
        EXPECT_TRUE(Drop({path}, Control<QWidget>(name))) << name;
    EXPECT_EQ(Rows().size(), 6);
    EXPECT_EQ(Control<QLineEdit>("Edit1")->text(), QString::fromStdString(Results.path()));
}

TEST_F(WindowTest, ItemsThatAreNotLocalFilesAreIgnored) {
    WriteIntoResultFolder();
    auto* list = Control<QListWidget>("LB")->viewport();
    const QString path = QString::fromStdString(WriteWave("a.wav"));
    // A file of the same name on another machine is not this one's.
    EXPECT_FALSE(
        DropUrls({QUrl("https://example.org/a.wav"), QUrl("file://elsewhere" + path)}, list));
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_TRUE(DropUrls({QUrl("https://example.org/a.wav"), QUrl::fromLocalFile(path),
                          QUrl("file://localhost" + path)},
                         list));
    ASSERT_EQ(Rows().size(), 2);
    EXPECT_TRUE(Rows()[0].startsWith("a.wav|"));
    EXPECT_TRUE(Rows()[1].startsWith("a.wav|"));
}

// A source told its files were moved may delete them: they are taken as a copy, or a link,
// whatever the source proposes, and refused when it offers only a move.
TEST_F(WindowTest, DropsAreTakenAsCopiesWheneverTheSourceAllows) {
    WriteIntoResultFolder();
    const QList<QUrl> urls = {QUrl::fromLocalFile(QString::fromStdString(WriteWave("a.wav")))};
    auto* list = Control<QListWidget>("LB")->viewport();
    const struct {
        Qt::DropActions Offered;
        Qt::KeyboardModifiers Keys; // Shift proposes a move
        Qt::DropAction Taken;
    } cases[] = {{Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier, Qt::CopyAction},
                 {Qt::MoveAction | Qt::LinkAction, Qt::ShiftModifier, Qt::LinkAction},
                 {Qt::MoveAction, Qt::NoModifier, Qt::IgnoreAction}};
    for (const auto& drop : cases)
        EXPECT_EQ(DeliverDropAs(urls, list, drop.Offered, drop.Keys), drop.Taken) << drop.Offered;
    WaitWhileBusy();
    EXPECT_EQ(Rows().size(), 2);
}

TEST_F(WindowTest, SecondDropAppendsUnderTheFirst) {
    WriteIntoResultFolder();
    ASSERT_TRUE(Drop({WriteWave("1.wav"), WriteWave("2.wav")}));
    ASSERT_TRUE(Drop({WriteWave("3.wav")}));
    const QStringList rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].startsWith("1.wav|"));
    EXPECT_TRUE(rows[1].startsWith("2.wav|"));
    EXPECT_TRUE(rows[2].startsWith("3.wav|"));
}

TEST_F(WindowTest, SettingsChangedBetweenDropsApplyOnlyToTheLaterDrop) {
    WriteIntoResultFolder();
    Format stereo;
    stereo.Channels = 2;
    ASSERT_TRUE(Drop({WriteWave("first.wav", stereo)}));
    Click("RadioButton8");  // 8Bit
    Click("RadioButton11"); // モノラル
    Click("RadioButton2");  // 22050Hz
    ASSERT_TRUE(Drop({WriteWave("second.wav", stereo)}));
    Click("CheckBox2"); // 音程を保つ（リサンプル）
    ASSERT_TRUE(Drop({WriteWave("third.wav", stereo)}));

    const QStringList rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].section('|', 3), "変換完了|44100Hz 16Bit Stereo|→44100Hz 16Bit Stereo");
    EXPECT_EQ(rows[1].section('|', 3), "変換完了|44100Hz 16Bit Stereo|→22050Hz 8Bit Mono");
    EXPECT_EQ(rows[2].section('|', 3), rows[1].section('|', 3));
    // Relabelled, the four frames stay; resampled, two are left.
    EXPECT_EQ(ReadFileBytes(Results / "second.wav").size(), 46u + 4);
    EXPECT_EQ(ReadFileBytes(Results / "third.wav").size(), 46u + 2);
}

TEST_F(WindowTest, FolderAndNonWaveFilesGiveReadFailuresWithoutStoppingTheBatch) {
    WriteIntoResultFolder();
    const std::string folder = Sources / "folder.wav";
    std::filesystem::create_directory(folder);
    const std::string text = Sources / "notes.txt";
    WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o'});
    ASSERT_TRUE(Drop({WriteWave("a.wav"), folder, text, WriteWave("b.wav")}));

    const QStringList rows = Rows();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_TRUE(rows[0].contains("|変換完了|"));
    EXPECT_TRUE(rows[1].startsWith("folder.wav|") && rows[1].contains("|読込失敗|"))
        << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith("notes.txt|") && rows[2].contains("|読込失敗|"))
        << rows[2].toStdString();
    EXPECT_TRUE(rows[3].startsWith("b.wav|") && rows[3].contains("|変換完了|"))
        << rows[3].toStdString();
    EXPECT_FALSE(Control<QWidget>("Panel4")->isVisible());
}

TEST_F(WindowTest, LongPathsAreTakenWhole) {
    WriteIntoResultFolder();
    std::string folder = Sources.path();
    while (folder.size() < 300)
        folder += "/" + std::string(60, 'd');
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/long.wav";
    WriteFileBytes(path, WaveImage({}, Samples16({1, 2})));
    ASSERT_TRUE(Drop({path}));
    ASSERT_EQ(Rows().size(), 1);
    EXPECT_EQ(Rows()[0].section('|', 1, 1), QString::fromStdString(ShownFolder(folder)));
    EXPECT_TRUE(Rows()[0].contains("|変換完了|"));
}

// A long file is mapped while it is converted, and its result while it is saved; neither stays
// mapped once the batch is over, to be replaced, moved or deleted as the user likes.
TEST_F(WindowTest, FinishedBatchHoldsNoFileMapped) {
    WriteIntoResultFolder();
    Click("RadioButton8"); // 8Bit
    // Its result is large enough to be mapped as well.
    WriteFileBytes(Sources / "changed.wav", WaveImage({}, Bytes(66u << 20, 0x12)));
    ASSERT_TRUE(Drop({Sources / "changed.wav"}));
    EXPECT_FALSE(MapsFileNamed("changed.wav"));
    // Saved as it is, from its mapping.
    WriteFileBytes(Sources / "kept.wav", WaveImage({.Bits = 8}, Bytes(40u << 20, 0x80)));
    ASSERT_TRUE(Drop({Sources / "kept.wav"}));
    EXPECT_FALSE(MapsFileNamed("kept.wav"));
    ASSERT_EQ(Rows().size(), 2);
    EXPECT_TRUE(Rows()[0].contains("|変換完了|") && Rows()[1].contains("|変換完了|"));
}

TEST_F(WindowTest, DefaultDestinationIsTheWavesFolderBesideTheProgram) {
    const std::string name = "tessaly-window-test-" + std::to_string(getpid()) + ".wav";
    ASSERT_TRUE(Drop({WriteWave(name)}));
    const std::string written = WavesParentFolder() + "Waves/" + name;
    EXPECT_TRUE(FileExists(written));
    ASSERT_EQ(Rows().size(), 1);
    EXPECT_EQ(Rows()[0].section('|', 2, 2),
              QString::fromStdString(ShownFolder(WavesParentFolder() + "Waves")));
    std::filesystem::remove(written);
}

TEST_F(WindowTest, FailureLeavingTheBatchHidesTheProgressPanelAndReachesTheCentralHandling) {
    WriteIntoResultFolder();
    // A component without a wave fails where the conversion does not guard: the first file's
    // format description.
    Form.RV->ReleaseInternalWave();
    std::vector<std::string> shown;
    SetApplicationExceptionHandler(
        [&](const std::exception& failure) { shown.push_back(failure.what()); });
    const bool taken = Drop({WriteWave("a.wav"), WriteWave("b.wav")});
    SetApplicationExceptionHandler(ShowApplicationException);

    EXPECT_TRUE(taken);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(": InternalWave should not be Nil"), std::string::npos) << shown[0];
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(Control<QWidget>("Panel4")->isVisible());
}
