// The result list's drawing, the header's resize and the edit button.
#include "Unit1.h"
#include "ui_Unit1.h"

#include "RowFields.h"

#include <QPainter>
#include <QProcess>

namespace {

const int FieldCount = 6;

// The outcome box in section 0: corners (L + 1, T + 1) and (w0 - 1, T + h - 1), right and
// bottom excluded, outlined by a one-pixel black line and filled green or red.
void DrawSwatch(QPainter& canvas, const QRect& item, int w0, int h, bool converted) {
    const QRect box(QPoint(item.left() + 1, item.top() + 1),
                    QPoint(item.left() + w0 - 2, item.top() + h - 2));
    canvas.fillRect(box, Qt::black);
    canvas.fillRect(box.adjusted(1, 1, -1, -1), converted ? QColor(0, 255, 0) : QColor(255, 0, 0));
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
    const QString row = ui->LB->item(index)->text();
    DrawSwatch(canvas, item, ui->HC->sectionSize(0), metrics.height(),
               row.contains(QStringLiteral("変換完了")));

    // Each cell is filled from its own left edge to the item's right edge, so a text wider
    // than its column is covered by the next one; the texts themselves are not clipped.
    const QStringList fields = DrawnFields(row, FieldCount);
    for (int k = 1; k <= FieldCount; ++k) {
        const int left = item.left() + ui->HC->sectionViewportPosition(k);
        canvas.fillRect(QRect(QPoint(left, item.top()), QPoint(item.right(), item.bottom())),
                        brush);
        if (k > fields.size())
            break;
        canvas.drawText(QPoint(left + 2, item.top() + metrics.ascent()), fields[k - 1]);
    }
}

void TForm1::HCSectionResize() {
    ui->LB->viewport()->repaint();
}

void TForm1::Button1Click() {
    const QList<QListWidgetItem*> selected = ui->LB->selectedItems();
    if (selected.isEmpty())
        return;
    // Found on PATH, started on its own, the path as one argument with no shell between;
    // nothing is reported when it cannot start.
    QProcess::startDetached(QStringLiteral("audacity"),
                            {SourcePathOfRow(selected.first()->text())});
}
