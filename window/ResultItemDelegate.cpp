#include "ResultItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <utility>

TResultItemDelegate::TResultItemDelegate(int itemHeight, DrawItem drawItem, QObject* parent)
    : QStyledItemDelegate(parent), ItemHeight(itemHeight), Draw(std::move(drawItem)) {}

void TResultItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    painter->save();
    Draw(*painter, option, index.row());
    painter->restore();
    // As a list box does after its owner's drawing: the focus rectangle of the current item.
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QSize TResultItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), ItemHeight};
}
