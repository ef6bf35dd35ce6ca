// The result list's drawing, the header's resize and the edit button.
#include "Unit1.h"
#include "ui_Unit1.h"

#include "Platform.h"
#include "ShownText.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// The outcome box in section 0: corners (L + 1, T + 1) and (w0 - 1, T + h - 1), right and
// bottom excluded, outlined by a one-pixel black line and filled green or red. On a scaled
// screen its edges fall on whole device pixels and the line is as many device pixels wide on
// every side (2 at 150 %), where a plain scaled pixel would come out 1 or 2 wide.
void DrawSwatch(QPainter& canvas, const QRect& item, int w0, int h, bool converted) {
    const QTransform toDevice = canvas.deviceTransform();
    const auto snapped = [&toDevice](QPoint corner) {
        const QPointF device = toDevice.map(QPointF(corner));
        return toDevice.inverted().map(QPointF(std::round(device.x()), std::round(device.y())));
    };
    const QRectF box(snapped(QPoint(item.left() + 1, item.top() + 1)),
                     snapped(QPoint(item.left() + w0 - 1, item.top() + h - 1)));
    const qreal ratio = toDevice.m11();
    const qreal line = std::max(1.0, std::round(ratio)) / ratio;
    canvas.fillRect(box, Qt::black);
    canvas.fillRect(box.adjusted(line, line, -line, -line),
                    converted ? QColor(0, 255, 0) : QColor(255, 0, 0));
}

} // namespace

void TForm1::LBDrawItem(QPainter& canvas, const QStyleOptionViewItem& option, int index) {
    const QRect item = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QBrush brush = option.palette.brush(selected ? QPalette::Highlight : QPalette::Base);
    canvas.setFont(ui->LB->font());
    canvas.setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QFontMetrics metrics = canvas.fontMetrics();

    canvas.fillRect(item, brush);
    const ResultRow& row = ResultRows.at(index);
    // Green when the status word appears anywhere in the row's text, as the list has always
    // told it; tessaly-convert's exit status alone looks at the status field.
    DrawSwatch(canvas, item, ui->HC->sectionSize(0), metrics.height(),
               row.Text().find(StatusWord::Converted) != std::string::npos);

    // Each cell is filled from its own left edge to the item's right edge, so a text wider
    // than its column is covered by the next one; the texts themselves are not clipped.
    int k = 1;
    for (const std::string& field : row.Fields()) {
        const int left = item.left() + ui->HC->sectionViewportPosition(k++);
        canvas.fillRect(QRect(QPoint(left, item.top()), QPoint(item.right(), item.bottom())),
                        brush);
        canvas.drawText(QPoint(left + 2, item.top() + metrics.ascent()), ShownText(field));
    }
}

void TForm1::HCSectionResize() {
    ui->LB->viewport()->repaint();
}

void TForm1::Button1Click() {
    const QList<QListWidgetItem*> selected = ui->LB->selectedItems();
    if (selected.isEmpty())
        return;
    // The source path's own bytes, which a name that is not UTF-8 would lose as a QString;
    // nothing is reported when the editor cannot start.
    Platform::OpenInSoundEditor(ResultRows.at(ui->LB->row(selected.first())).SourcePath);
}
