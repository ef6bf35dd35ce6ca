// Hands the drawing of every list item to one function (TForm1::LBDrawItem) and gives every
// item the same height.
#pragma once

#include <QStyledItemDelegate>

#include <functional>

class TResultItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using DrawItem = std::function<void(QPainter&, const QStyleOptionViewItem&, int index)>;

    TResultItemDelegate(int itemHeight, DrawItem drawItem, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int ItemHeight;
    DrawItem Draw;
};
