// A shown main window, folders for sources and results, and drops delivered the way the
// platform delivers them: to the window, which routes them to the widget under the pointer.
#pragma once

#include "TestSupport.h"
#include "Unit1.h"

#include <QRadioButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    for (const QString& text : texts)
        PrintTo(text, out), *out << '\n';
}

// A folder as rows show it: with the system's separator, and one at its end.
std::string ShownFolder(std::string folder);

class WindowTest : public ::testing::Test {
protected:
    WindowTest();

    template <typename Widget> Widget* Control(const char* name) {
        auto* widget = Form.findChild<Widget*>(QString::fromLatin1(name));
        if (!widget)
            ADD_FAILURE() << "no control " << name;
        return widget;
    }

    // A 44100 Hz 16-bit mono wave of a few samples in the source folder; returns its path.
    std::string WriteWave(const std::string& name, const Format& format = {});
    // Waves in a folder whose name holds "|": first a plain name, then names that hold "|", "→",
    // a newline, or bytes that are not UTF-8 (Shift-JIS テスト, Latin-1 café).
    std::vector<std::string> WriteOddlyNamedWaves();
    // Drags the paths over the middle of target and drops them there, each as a URL of its
    // percent-encoded bytes, and waits for the batch to end. Returns whether the window took the
    // drop.
    bool Drop(const std::vector<std::string>& paths, QWidget* target = nullptr);
    bool DropUrls(const QList<QUrl>& urls, QWidget* target);
    // Serves the event loop until every batch has ended and its results are shown.
    void WaitWhileBusy();
    // Only the drop itself: whether the window took it as a copy. The batch has not run yet.
    bool DeliverDrop(const QList<QUrl>& urls, QWidget* target);
    // The same with the actions the source offers and the keys held: how the window took it.
    Qt::DropAction DeliverDropAs(const QList<QUrl>& urls, QWidget* target, Qt::DropActions actions,
                                 Qt::KeyboardModifiers modifiers);
    void Click(const char* buttonName);
    // Chooses "指定フォルダ" with the result folder typed into the box.
    void WriteIntoResultFolder();
    QStringList Rows();

    TempDir Sources;
    TempDir Results;
    TForm1 Form;
};
