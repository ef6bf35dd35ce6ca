// The result list as drawn: swatch colours, cell texts at their columns, repaint on resize.
#include "WindowFixture.h"

#include <QEvent>
#include <QHeaderView>
#include <QImage>
#include <QListWidget>
#include <QScrollBar>

#include <filesystem>

namespace {

const QRgb Green = qRgb(0, 255, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Black = qRgb(0, 0, 0);

class ResultListTest : public WindowTest {
protected:
    QListWidget* List() { return Control<QListWidget>("LB"); }
    QHeaderView* Header() { return Control<QHeaderView>("HC"); }
    QImage Render() { return List()->viewport()->grab().toImage(); }
    int RowTop(int row) { return List()->visualItemRect(List()->item(row)).top(); }

    // The first pixel column at or right of `from` in the row's band whose colour is not the
    // background's: where a text starts.
    static int FirstInk(const QImage& image, int top, int from, QRgb background) {
        for (int x = from; x < image.width(); ++x)
            for (int y = top; y < top + 16; ++y)
                if (image.pixel(x, y) != background)
                    return x;
        return -1;
    }
};

} // namespace

TEST_F(ResultListTest, ItemsAre16PixelsHighAndAsWideAsTheList) {
    WriteIntoResultFolder();
    ASSERT_TRUE(Drop({WriteWave("a.wav"), WriteWave("b.wav")}));
    for (int row = 0; row < 2; ++row) {
        const QRect item = List()->visualItemRect(List()->item(row));
        EXPECT_EQ(item, QRect(0, 16 * row, List()->viewport()->width(), 16));
    }
    EXPECT_EQ(List()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ResultListTest, SwatchIsGreenForConvertedRowsAndRedOtherwise) {
    WriteIntoResultFolder();
    WriteFileBytes(Sources / "bad.wav", {'R', 'I', 'F', 'F'});
    ASSERT_TRUE(Drop({WriteWave("good.wav"), Sources / "bad.wav"}));
    List()->item(0)->setSelected(true);

    const QImage image = Render();
    const int good = RowTop(0), bad = RowTop(1);
    EXPECT_EQ(bad - good, 16);
    EXPECT_EQ(image.pixel(5, good + 8), Green);
    EXPECT_EQ(image.pixel(5, bad + 8), Red);
    // A one-pixel black outline over pixel columns 1 to 10 of the swatch column.
    EXPECT_EQ(image.pixel(1, bad + 8), Black);
    EXPECT_EQ(image.pixel(10, bad + 8), Black);
    EXPECT_EQ(image.pixel(5, bad + 1), Black);
    EXPECT_NE(image.pixel(0, bad + 8), Black);
    EXPECT_NE(image.pixel(11, bad + 8), Black);
    // The selected row keeps its swatch on the highlight colour.
    const QPalette palette = List()->palette();
    EXPECT_EQ(image.pixel(0, good + 8), palette.color(QPalette::Highlight).rgb());
    EXPECT_EQ(image.pixel(0, bad + 8), palette.color(QPalette::Base).rgb());
}

TEST_F(ResultListTest, FieldsStartAtTheirColumnsAndFollowAWidenedSection) {
    // Wide enough to show every column, also after widening one.
    Form.resize(1300, 525);
    WriteIntoResultFolder();
    ASSERT_TRUE(Drop({WriteWave("a.wav")}));
    const QRgb base = List()->palette().color(QPalette::Base).rgb();
    const int top = RowTop(0);

    std::vector<int> before;
    const QImage image = Render();
    for (int k = 1; k <= 6; ++k) {
        const int left = Header()->sectionPosition(k);
        before.push_back(FirstInk(image, top, left, base));
        EXPECT_GE(before.back(), left + 2) << k;
        EXPECT_LE(before.back(), left + 4) << k;
    }

    Header()->resizeSection(2, Header()->sectionSize(2) + 50);
    const QImage widened = Render();
    for (int k = 3; k <= 6; ++k)
        EXPECT_EQ(FirstInk(widened, top, Header()->sectionPosition(k), base), before[k - 1] + 50)
            << k;
    EXPECT_EQ(FirstInk(widened, top, Header()->sectionPosition(1), base), before[0]);
}

TEST_F(ResultListTest, ResizingASectionRepaintsTheListAtOnce) {
    WriteIntoResultFolder();
    ASSERT_TRUE(Drop({WriteWave("a.wav")}));
    struct PaintCounter : QObject {
        int Paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            Paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    List()->viewport()->installEventFilter(&counter);
    Header()->resizeSection(3, 120);
    EXPECT_GE(counter.Paints, 1);
}

TEST_F(ResultListTest, LongTextIsCutAtTheNextColumnButTheLastColumnRunsOn) {
    WriteIntoResultFolder();
    const std::string folder = Sources / std::string(80, 'x');
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/a.wav";
    WriteFileBytes(path, WaveImage({}, Samples16({1, 2})));
    ASSERT_TRUE(Drop({path}));
    const QRgb base = List()->palette().color(QPalette::Base).rgb();
    const int top = RowTop(0);
    const QImage image = Render();
    // The read folder overflows its 200 pixels, yet column 3 shows blank up to its own text.
    const int column3 = Header()->sectionPosition(3);
    EXPECT_GE(FirstInk(image, top, column3, base), column3 + 2);
    EXPECT_NE(FirstInk(image, top, column3 - 10, base), -1);
}

TEST_F(ResultListTest, OddNamesLeaveTheOtherColumnsAsForAPlainName) {
    Form.resize(1300, 525);
    WriteIntoResultFolder();
    const std::vector<std::string> paths = WriteOddlyNamedWaves();
    ASSERT_TRUE(Drop(paths));
    const QImage image = Render();
    // Columns 2 to 6 of the plain name's row: the same folders, status and formats.
    const int left = Header()->sectionPosition(2);
    const QRect plain(left, RowTop(0), image.width() - left, 16);
    for (int row = 1; row < static_cast<int>(paths.size()); ++row)
        EXPECT_EQ(image.copy(plain.translated(0, RowTop(row) - RowTop(0))), image.copy(plain))
            << row;
}
