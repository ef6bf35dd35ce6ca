// The window as it starts: captions, defaults, placement, font, header and tab order.
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Choice {
    const char* Name;
    const char* Caption;
    int Top;
    bool Checked;
    int Height = 17;
};

} // namespace

TEST_F(WindowTest, StartsWithItsCaptionSizeAndDesignFont) {
    EXPECT_EQ(Form.windowTitle(), "Tessaly Ver 1.1");
    EXPECT_EQ(Form.size(), QSize(714, 525));
    EXPECT_EQ(Form.font().family(), "ＭＳ Ｐゴシック");
    EXPECT_EQ(Form.font().pixelSize(), 12);
    // Rendered with the substitute that has the Japanese glyphs.
    EXPECT_EQ(QFontInfo(Control<QListWidget>("LB")->font()).family(), "IPAPGothic");
    EXPECT_TRUE(QFontMetrics(Form.font()).inFont(QChar(0x5909))); // 変
    // The focus is on the first control Tab reaches.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>("RadioButton6"));
}

TEST_F(WindowTest, SettingsGroupsHoldTheirChoicesAtTheirDefaults) {
    const std::vector<std::pair<const char*, const char*>> groups = {
        {"GroupBox1", "サンプリングレート"},
        {"GroupBox2", "ビット数"},
        {"GroupBox3", "チャンネル"},
        {"GroupBox4", "保存先"},
        {"GroupBox5", "処理"}};
    for (const auto& [name, title] : groups)
        EXPECT_EQ(Control<QGroupBox>(name)->title(), QString::fromUtf8(title)) << name;

    const std::vector<Choice> choices = {{"RadioButton6", "変更しない", 16, true},
                                         {"RadioButton1", "44100Hz", 32, false},
                                         {"RadioButton2", "22050Hz", 48, false},
                                         {"RadioButton5", "16000Hz", 64, false},
                                         {"RadioButton3", "11025Hz", 80, false},
                                         {"RadioButton4", "8000Hz", 96, false},
                                         {"CheckBox1", "低いレートなら維持", 112, true},
                                         {"CheckBox2", "音程を保つ（リサンプル）", 128, false, 30},
                                         {"RadioButton9", "変更しない", 16, true},
                                         {"RadioButton7", "16Bit", 32, false},
                                         {"RadioButton8", "8Bit", 48, false},
                                         {"RadioButton12", "変更しない", 16, true},
                                         {"RadioButton10", "ステレオ", 32, false},
                                         {"RadioButton11", "モノラル", 48, false},
                                         {"RadioButton15", "TSL/Waves", 16, true},
                                         {"RadioButton13", "上書き保存", 32, false},
                                         {"RadioButton14", "指定フォルダ", 48, false}};
    for (const Choice& choice : choices) {
        auto* button = Control<QAbstractButton>(choice.Name);
        EXPECT_EQ(button->text(), QString::fromUtf8(choice.Caption)) << choice.Name;
        EXPECT_EQ(button->isChecked(), choice.Checked) << choice.Name;
        EXPECT_EQ(button->geometry(), QRect(8, choice.Top, 117, choice.Height)) << choice.Name;
    }
    EXPECT_TRUE(Control<QLineEdit>("Edit1")->text().isEmpty());
    EXPECT_EQ(Control<QLineEdit>("Edit1")->geometry(), QRect(24, 64, 89, 20));
    EXPECT_EQ(Control<QLabel>("Label4")->text(), kSeparator) << "what joins the folder and name";
    EXPECT_EQ(Control<QPushButton>("Button1")->text(), "マスターを編集");
    EXPECT_EQ(Control<QGroupBox>("GroupBox4")->geometry(), QRect(4, 313, 129, 89));
    EXPECT_EQ(Control<QWidget>("Panel1")->width(), 153);
}

TEST_F(WindowTest, ProgressPanelIsHiddenAndListEmpty) {
    auto* panel = Control<QWidget>("Panel4");
    EXPECT_FALSE(panel->isVisible());
    // At 4, 20 inside Panel2's border of 2.
    EXPECT_EQ(panel->geometry(), QRect(2 + 4, 2 + 20, 245, 45));
    EXPECT_EQ(Control<QLabel>("Label5")->text(), "変換しています・・");
    EXPECT_EQ(Control<QLabel>("Label6")->text(), "00/00");
    auto* bar = Control<QProgressBar>("PB");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(Control<QListWidget>("LB")->count(), 0);
}

TEST_F(WindowTest, HeaderHasSevenSectionsWithTheSwatchColumnFixedAtTheFontHeight) {
    auto* header = Control<QHeaderView>("HC");
    const QStringList texts = {"",         "ターゲット", "読込フォルダ", "保存先フォルダ",
                               "変換結果", "変換前",     "変換後"};
    const std::vector<int> widths = {12, 100, 200, 200, 100, 100, 100};
    ASSERT_EQ(header->count(), 7);
    for (int section = 0; section < 7; ++section) {
        EXPECT_EQ(header->model()->headerData(section, Qt::Horizontal).toString(), texts[section]);
        EXPECT_EQ(header->sectionSize(section), widths[section]) << section;
    }
    EXPECT_EQ(header->height(), 17);
    EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_EQ(header->sectionResizeMode(1), QHeaderView::Interactive);
    // The list starts right under the header, at the same left edge.
    auto* list = Control<QListWidget>("LB");
    EXPECT_EQ(list->mapTo(&Form, QPoint(0, 0)), header->mapTo(&Form, QPoint(0, 17)));
}

namespace {

// Drags a section edge of the header with the mouse, as the user would.
void DragEdge(QHeaderView* header, int edgeX, int distance) {
    QWidget* surface = header->viewport();
    const int y = header->height() / 2;
    QTest::mouseMove(surface, QPoint(edgeX, y));
    QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(edgeX, y));
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(surface, QPoint(edgeX + distance * step / 4, y));
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(edgeX + distance, y));
}

} // namespace

TEST_F(WindowTest, SwatchSectionCannotBeDraggedWhileOthersCan) {
    auto* header = Control<QHeaderView>("HC");
    DragEdge(header, 12, 30);
    EXPECT_EQ(header->sectionSize(0), 12);
    DragEdge(header, 12 + 100 - 1, 30);
    EXPECT_EQ(header->sectionSize(1), 130);
}

TEST_F(WindowTest, TabVisitsTheSettingsInOrderStoppingOnlyAtCheckedChoices) {
    Form.activateWindow();
    Control<QWidget>("RadioButton6")->setFocus();
    QStringList visited;
    for (int step = 0; step < 8; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    const QStringList expected = {"CheckBox1",     "CheckBox2", "RadioButton9", "RadioButton12",
                                  "RadioButton15", "Edit1",     "Button1",      "LB"};
    EXPECT_EQ(visited, expected);
}

TEST_F(WindowTest, HeaderSectionsAreFlatAndTheOneUnderThePointerIsLit) {
    auto* header = Control<QHeaderView>("HC");
    // Right of the texts of sections 2 and 3.
    const QPoint second(header->sectionPosition(2) + 180, 8), third = second + QPoint(200, 0);
    QTest::mouseMove(header->viewport(), third);
    const QImage before = header->grab().toImage();
    QTest::mouseMove(header->viewport(), second);
    const QImage after = header->grab().toImage();
    EXPECT_NE(before.pixel(second), before.pixel(third));
    EXPECT_EQ(after.pixel(second), before.pixel(third));
    EXPECT_EQ(after.pixel(third), before.pixel(second));
    // Flat: one colour from top to bottom.
    EXPECT_EQ(before.pixel(second.x(), 0), before.pixel(second.x(), header->height() - 1));
}

TEST_F(WindowTest, EnterOnTheFocusedEditButtonClicksIt) {
    auto* button = Control<QPushButton>("Button1");
    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks.count(), 2);
}
