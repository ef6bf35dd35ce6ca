#include "HeaderControl.h"

#include <QHoverEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionHeader>

#include <algorithm>

THeaderControl::THeaderControl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), Sections(new QStandardItemModel(this)) {
    setModel(Sections);
    // The design has a section 1 pixel wide; nothing else limits the widths.
    setMinimumSectionSize(0);
    setStretchLastSection(false);
    setSectionsClickable(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Hover events tell which section is under the pointer.
    setAttribute(Qt::WA_Hover);
}

// The base header repaints the sections the pointer leaves and enters, but lights them only
// when they are clickable, which these are not.
bool THeaderControl::event(QEvent* event) {
    if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverMove)
        SectionUnderPointer =
            logicalIndexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
    else if (event->type() == QEvent::HoverLeave)
        SectionUnderPointer = -1;
    return QHeaderView::event(event);
}

void THeaderControl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    QStyleOptionHeader option;
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const bool underPointer = logicalIndex == SectionUnderPointer;
    painter->fillRect(rect, palette().color(underPointer ? QPalette::Light : QPalette::Button));
    // No shading: a one-pixel line at its right edge parts a section from the next.
    painter->setPen(palette().color(QPalette::Mid));
    painter->drawLine(rect.topRight(), rect.bottomRight());
    option.rect = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
    style()->drawControl(QStyle::CE_HeaderLabel, &option, painter, this);
}

QStringList THeaderControl::sectionTexts() const {
    QStringList texts;
    for (int section = 0; section < count(); ++section)
        texts << Sections->headerData(section, Qt::Horizontal).toString();
    return texts;
}

// The layout may give the widths before the texts: either makes the sections it needs.
void THeaderControl::setSectionTexts(const QStringList& texts) {
    Sections->setColumnCount(std::max(count(), static_cast<int>(texts.size())));
    Sections->setHorizontalHeaderLabels(texts);
}

QString THeaderControl::sectionWidths() const {
    QStringList widths;
    for (int section = 0; section < count(); ++section)
        widths << QString::number(sectionSize(section));
    return widths.join(QLatin1Char(' '));
}

void THeaderControl::setSectionWidths(const QString& widths) {
    const QStringList parts = widths.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Sections->setColumnCount(std::max(count(), static_cast<int>(parts.size())));
    for (int section = 0; section < parts.size(); ++section)
        resizeSection(section, parts[section].toInt());
}
