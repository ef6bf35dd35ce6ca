// A check box whose caption, where it is wider than the box, is shown on two lines broken
// before its opening parenthesis; its text stays the caption as it is.
#pragma once

#include <QCheckBox>

class TWrappingCheckBox : public QCheckBox {
    Q_OBJECT

public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};
