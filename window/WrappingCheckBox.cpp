#include "WrappingCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

void TWrappingCheckBox::paintEvent(QPaintEvent* event) {
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect room = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    const qsizetype parenthesis = option.text.indexOf(QChar(0xFF08)); // "（"
    if (fontMetrics().horizontalAdvance(option.text) <= room.width() || parenthesis <= 0)
        return QCheckBox::paintEvent(event);
    // The box and its focus frame as the style draws them, the caption in two lines beside.
    const QString caption = option.text;
    option.text = caption.left(parenthesis) + '\n' + caption.mid(parenthesis);
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_CheckBox, option);
}
