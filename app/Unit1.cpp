#include "Unit1.h"
#include "ui_Unit1.h"

#include "ConvertFile.h"
#include "DesignFont.h"
#include "PathParts.h"
#include "ResultItemDelegate.h"
#include "RvWaveComponent.h"

#include <QDropEvent>
#include <QFontInfo>
#include <QMimeData>
#include <QScopeGuard>
#include <QUrl>

#include <initializer_list>
#include <utility>

namespace {

const int ItemHeight = 16;

// The dropped items that are local files, as full paths, in the order they were dropped.
QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

// Takes the files as a copy (or a link): a drop accepted as a move would let the source
// delete them.
bool AcceptFiles(QDropEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty())
        return false;
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (event->possibleActions() & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
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
    : QWidget(parent), RV(new TRvWave(this)), ui(std::make_unique<Ui::TForm1>()) {
    // A .ui file holds point sizes only; the design font is given in pixels.
    setFont(DesignFont());
    ui->setupUi(this);
    // The component's layout values: the format of a new wave, so nothing changes.
    RV->SetFreq(44100);
    RV->SetBits(16);
    RV->SetChannels(1);
    // The progress panel floats over the list, which uic creates after it.
    ui->Panel4->raise();
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::ConnectHandlers() {
    ui->LB->setItemDelegate(new TResultItemDelegate(
        ItemHeight,
        [this](QPainter& canvas, const QStyleOptionViewItem& option, int index) {
            LBDrawItem(canvas, option, index);
        },
        ui->LB));
    connect(ui->HC, &QHeaderView::sectionResized, this, &TForm1::HCSectionResize);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
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
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    AcceptFiles(event);
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    AcceptFiles(event);
}

void TForm1::dropEvent(QDropEvent* event) {
    if (!AcceptFiles(event))
        return;
    // The source is answered now; the batch runs once the drop has returned to it.
    const QStringList paths = LocalFiles(event->mimeData());
    QMetaObject::invokeMethod(
        this, [this, paths] { WMDropFiles(paths); }, Qt::QueuedConnection);
}

void TForm1::WMDropFiles(const QStringList& paths) {
    const int count = static_cast<int>(paths.size());
    ui->Panel4->show();
    // Hidden again however the batch ends, also when a failure leaves it for the central
    // exception handling.
    const auto hideProgress = qScopeGuard([this] { ui->Panel4->hide(); });
    ui->PB->setRange(0, count - 1);
    const std::string programFolder = ProgramFolder();
    for (int number = 1; number <= count; ++number) {
        ShowProgress(number, count);
        const ResultRow row =
            ConvertFile(paths[number - 1].toStdString(), ReadSettings(), programFolder, *RV);
        AppendRow(QString::fromStdString(row.Text()));
    }
}

void TForm1::ShowProgress(int number, int count) {
    ui->Label6->setText(QStringLiteral("%1/%2").arg(number).arg(count));
    ui->PB->setValue(number - 1);
    ui->Panel4->repaint();
}

void TForm1::AppendRow(const QString& row) {
    ui->LB->addItem(row);
    // The list lays its items out later, from the event loop; the batch does not return there.
    ui->LB->doItemsLayout();
    ui->LB->viewport()->repaint();
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
