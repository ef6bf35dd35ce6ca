#include "Unit1.h"
#include "ui_Unit1.h"

#include "ApplicationException.h"
#include "ConversionBatch.h"
#include "ConvertFile.h"
#include "DesignFont.h"
#include "InputHold.h"
#include "PathParts.h"
#include "Platform.h"
#include "ReadAhead.h"
#include "ResultItemDelegate.h"
#include "RvWaveComponent.h"
#include "ShownText.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <initializer_list>
#include <system_error>
#include <utility>

namespace {

const int ItemHeight = 16;
// About one frame of a 60 Hz screen.
const int FrameMilliseconds = 16;
// The bar's steps for each file, so that a long file is seen to advance.
const int BarStepsPerFile = 1000;

// The dropped items that are files this machine opens by path, as the file system names them:
// from the percent-decoded bytes of each URL's path, which need not be UTF-8.
std::vector<std::string> LocalPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        std::string path = Platform::FileUrlPath(
            url.host().toStdString(),
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

// Takes files as a copy (or a link): a drop taken as a move would let the source delete them.
bool TakeAsCopy(QDropEvent* event) {
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (event->possibleActions() & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

// While the pointer moves, only the offered formats are looked at: reading the items themselves
// asks the source program for them every time.
void OfferToTake(QDropEvent* event) {
    if (event->mimeData()->hasUrls())
        TakeAsCopy(event);
}

// The value of the checked button of a group; each group has exactly one checked.
template <typename Value>
Value CheckedChoice(std::initializer_list<std::pair<const QRadioButton*, Value>> choices) {
    for (const auto& [button, value] : choices)
        if (button->isChecked())
            return value;
    return choices.begin()->second;
}

// Of a group of choices only the checked one is reached with Tab; the arrow keys move among
// them.
void KeepTabStopOnCheckedChoice(QRadioButton* button) {
    const auto update = [button](bool checked) {
        button->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
    };
    update(button->isChecked());
    QObject::connect(button, &QRadioButton::toggled, button, update);
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), RV(std::make_unique<TRvWave>()), ui(std::make_unique<Ui::TForm1>()) {
    // A .ui file holds point sizes only; the design font is given in pixels.
    setFont(DesignFont());
    ui->setupUi(this);
    // The label after the folder box shows what joins the typed folder and the name.
    ui->Label4->setText(QString(QChar::fromLatin1(Platform::PathSeparator())));
    // The component's layout values: the format of a new wave, so nothing changes.
    RV->SetFreq(44100);
    RV->SetBits(16);
    RV->SetChannels(1);
    // The progress panel floats over the list, which uic creates after it. Its layout position
    // is inside Panel2's border.
    ui->Panel4->raise();
    ui->Panel4->move(ui->Panel4->pos() + ui->Panel2->contentsRect().topLeft());
    FitProgressCounter();
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

// The counter is shown whole up to 99999/99999, its right edge where the layout puts it; the bar
// gives way to it, keeping the gap between them.
void TForm1::FitProgressCounter() {
    QLabel* counter = ui->Label6;
    QProgressBar* bar = ui->PB;
    const int gap = counter->x() - (bar->x() + bar->width());
    const int width = std::max(
        counter->width(), counter->fontMetrics().horizontalAdvance(QStringLiteral("99999/99999")));
    counter->setGeometry(counter->x() + counter->width() - width, counter->y(), width,
                         counter->height());
    bar->resize(std::min(bar->width(), counter->x() - gap - bar->x()), bar->height());
}

void TForm1::ConnectHandlers() {
    ui->LB->setItemDelegate(new TResultItemDelegate(
        ItemHeight,
        [this](QPainter& canvas, const QStyleOptionViewItem& option, int index) {
            LBDrawItem(canvas, option, index);
        },
        ui->LB));
    connect(ui->HC, &QHeaderView::sectionResized, this, &TForm1::HCSectionResize);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    FrameTimer.setInterval(FrameMilliseconds);
    FrameTimer.setTimerType(Qt::PreciseTimer);
    connect(&FrameTimer, &QTimer::timeout, this, &TForm1::ShowProgress);
}

void TForm1::FormCreate() {
    // Files dropped anywhere on the window arrive here: no child takes a drop for itself.
    setAcceptDrops(true);
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);
    // Section 0 holds the swatch: as wide as the list font is high, and not resizable.
    ui->HC->resizeSection(0, QFontInfo(ui->LB->font()).pixelSize());
    ui->HC->setSectionResizeMode(0, QHeaderView::Fixed);
    for (QRadioButton* button : findChildren<QRadioButton*>())
        KeepTabStopOnCheckedChoice(button);
    // The focus starts on the first control Tab reaches, the checked rate choice.
    ui->RadioButton6->setFocus();
    // Enter presses the focused button, as Space does.
    ui->Button1->setAutoDefault(true);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    OfferToTake(event);
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    OfferToTake(event);
}

void TForm1::dropEvent(QDropEvent* event) {
    // The items are read once per drop.
    std::vector<std::string> paths = LocalPaths(*event->mimeData());
    if (paths.empty() || !TakeAsCopy(event))
        return;
    // The source is answered now; the batch runs from the event loop once the drop has returned
    // to it, and after any batch that is running.
    PendingDrops.push_back(std::move(paths));
    QMetaObject::invokeMethod(this, &TForm1::RunNextDrop, Qt::QueuedConnection);
}

void TForm1::RunNextDrop() {
    if (Batch || PendingDrops.empty())
        return;
    const std::vector<std::string> paths = std::move(PendingDrops.front());
    PendingDrops.pop_front();
    WMDropFiles(paths);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!Batch)
        return QWidget::closeEvent(event);
    // The file in hand is given up, with nothing written; the window closes when the batch has
    // ended.
    CloseRequested = true;
    Batch->Abort();
    event->ignore();
}

void TForm1::EndSession() {
    close();
    if (Batch)
        Batch->Wait();
}

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
    // Input made from now on takes effect when the batch ends, in order: the settings the batch
    // reads now are the ones it keeps.
    HeldInput = std::make_unique<InputHold>();
    Batch =
        std::make_unique<TConversionBatch>(paths, ReadSettings(), WavesParentFolder(), *RV, this);
    connect(Batch.get(), &TConversionBatch::RowReady, this,
            [this](const ResultRow& row) { ResultRows.push_back(row); });
    connect(Batch.get(), &TConversionBatch::Finished, this, &TForm1::EndBatch);
    BatchFirstRow = ResultRows.size();
    ui->PB->setRange(0, Batch->Count() * BarStepsPerFile);
    ui->PB->setValue(0);
    ShowProgress();
    // Painted whole at once: the batch's first frame shows the caption, the counter and the bar
    // even when the batch ends within it.
    ui->Panel4->show();
    ui->Panel4->repaint();
    FrameTimer.start();
    // Without a thread for the batch (the system has none left) the drop ends at once, and
    // its failure is shown as any batch's would be.
    try {
        Batch->Start();
    } catch (const std::system_error&) {
        EndBatch(std::current_exception());
    }
}

// The panel is hidden and the last rows shown. Input made during the batch takes effect now, so
// a drop that came meanwhile runs with the settings clicked before it; it is posted to the event
// loop rather than called from here, so batches never nest. A close request ends it all: the
// rows made are the record, and what waited (input and drops) is dropped. A failure that ended
// the batch early goes to the central exception handling last.
void TForm1::EndBatch(std::exception_ptr failure) {
    FrameTimer.stop();
    ui->Panel4->hide();
    ShowNewRows();
    // Deleted once its signal has returned, or with the window; its thread is done with the
    // wave.
    Batch.release()->deleteLater();
    std::unique_ptr<InputHold> held = std::move(HeldInput);
    if (CloseRequested) {
        PendingDrops.clear();
        CloseRequested = false;
        close();
    } else {
        held->Release();
        if (!PendingDrops.empty())
            QMetaObject::invokeMethod(this, &TForm1::RunNextDrop, Qt::QueuedConnection);
    }
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            HandleApplicationException(error);
        }
    }
}

// The counter names the file in hand: the one after the last row come back. Painting every file
// would cost a short file's batch more than its conversion, so this runs once a frame.
void TForm1::ShowProgress() {
    ShowNewRows();
    const int done = static_cast<int>(ResultRows.size() - BatchFirstRow);
    const int count = Batch->Count();
    if (done >= count)
        return;
    ui->Label6->setText(QStringLiteral("%1/%2").arg(done + 1).arg(count));
    // The bar never goes back within a batch.
    const int share = static_cast<int>(Batch->FileShare(done) * BarStepsPerFile);
    ui->PB->setValue(std::max(ui->PB->value(), done * BarStepsPerFile + share));
}

void TForm1::ShowNewRows() {
    QStringList texts;
    for (std::size_t index = ui->LB->count(); index < ResultRows.size(); ++index)
        texts << ShownText(ResultRows[index].Text());
    if (texts.isEmpty())
        return;
    ui->LB->addItems(texts);
}

ConversionSettings TForm1::ReadSettings() const {
    ConversionSettings settings;
    settings.RateChoice = CheckedChoice<std::int32_t>({{ui->RadioButton6, 0},
                                                       {ui->RadioButton1, 44100},
                                                       {ui->RadioButton2, 22050},
                                                       {ui->RadioButton5, 16000},
                                                       {ui->RadioButton3, 11025},
                                                       {ui->RadioButton4, 8000}});
    settings.KeepLowerRate = ui->CheckBox1->isChecked();
    settings.Resample = ui->CheckBox2->isChecked();
    settings.BitsChoice = CheckedChoice<std::int32_t>(
        {{ui->RadioButton9, 0}, {ui->RadioButton7, 16}, {ui->RadioButton8, 8}});
    settings.ChannelsChoice = CheckedChoice<std::int32_t>(
        {{ui->RadioButton12, 0}, {ui->RadioButton10, 2}, {ui->RadioButton11, 1}});
    settings.Destination =
        CheckedChoice<DestinationChoice>({{ui->RadioButton15, DestinationChoice::WavesFolder},
                                          {ui->RadioButton13, DestinationChoice::Overwrite},
                                          {ui->RadioButton14, DestinationChoice::SpecifiedFolder}});
    settings.TargetFolder = ui->Edit1->text().toStdString();
    return settings;
}
