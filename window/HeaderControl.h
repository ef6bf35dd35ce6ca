// A standalone horizontal header whose sections are given in the layout (Unit1.ui), drawn flat,
// the section under the pointer lit.
#pragma once

#include <QHeaderView>
#include <QStringList>

class QStandardItemModel;

class THeaderControl : public QHeaderView {
    Q_OBJECT
    // One text per section; setting it makes that many sections.
    Q_PROPERTY(QStringList sectionTexts READ sectionTexts WRITE setSectionTexts)
    // The sections' widths, separated by blanks: "1 100 200".
    Q_PROPERTY(QString sectionWidths READ sectionWidths WRITE setSectionWidths)

public:
    explicit THeaderControl(QWidget* parent = nullptr);

    QStringList sectionTexts() const;
    void setSectionTexts(const QStringList& texts);
    QString sectionWidths() const;
    void setSectionWidths(const QString& widths);

protected:
    bool event(QEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QStandardItemModel* Sections;
    // The section under the pointer, or -1.
    int SectionUnderPointer = -1;
};
