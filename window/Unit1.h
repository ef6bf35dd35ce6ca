// The main window: the settings panel, the result list with its header, the progress panel,
// the dropped-file batch and the edit button. Chief header of the application.
#pragma once

#include "ConversionSettings.h"
#include "ConvertFile.h"

#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class InputHold;
class TConversionBatch;
class QPainter;
class QStyleOptionViewItem;
class TRvWave;

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Starts converting the dropped files (paths as the file system has them) one after the
    // other on the batch's thread, counting them on the progress panel and appending one result
    // row per file to the list; input to the window waits until the batch ends.
    void WMDropFiles(const std::vector<std::string>& paths);
    // A batch runs, or drops wait for their turn.
    bool Busy() const { return Batch != nullptr || !PendingDrops.empty(); }
    // The program is quitting (the session ends): the window closes as a close request closes
    // it, and the file in hand is given up before this returns, as the system may end the
    // process right after.
    void EndSession();
    // Draws item index of the list across the header's columns, with its outcome swatch.
    void LBDrawItem(QPainter& canvas, const QStyleOptionViewItem& option, int index);

    // The wave component every file of every drop is converted through.
    const std::unique_ptr<TRvWave> RV;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FitProgressCounter();
    void ConnectHandlers();
    void RunNextDrop();
    void FormCreate();
    void HCSectionResize();
    void Button1Click();
    ConversionSettings ReadSettings() const;
    void EndBatch(std::exception_ptr failure);
    // Shows the rows made so far, and the counter and bar for the file in hand.
    void ShowProgress();
    // Adds the rows not yet in the list as its last items, shown at once; the list shows their
    // texts.
    void ShowNewRows();

    std::unique_ptr<Ui::TForm1> ui;
    // Drops taken while a batch runs, oldest first; each runs as a batch of its own.
    std::deque<std::vector<std::string>> PendingDrops;
    // The batch running, if any; the rows of files before it; the input made meanwhile.
    std::unique_ptr<TConversionBatch> Batch;
    std::size_t BatchFirstRow = 0;
    std::unique_ptr<InputHold> HeldInput;
    // Brings the panel and the list up to date once a display frame while a batch runs.
    QTimer FrameTimer;
    // A close request came during a batch: it ends after the file in hand, and the window closes.
    bool CloseRequested = false;
    // The rows of the list's items, by item index: their fields are drawn and their source
    // opened as they are, never read back from a text whose names may hold "|".
    std::vector<ResultRow> ResultRows;
};
