#include "HeaderControl.h"

#include <QStandardItemModel>

#include <algorithm>

THeaderControl::THeaderControl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), Sections(new QStandardItemModel(this)) {
    setModel(Sections);
    // The design has a section 1 pixel wide; nothing else limits the widths.
    setMinimumSectionSize(0);
    setStretchLastSection(false);
    setSectionsClickable(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
