#include "RowFields.h"

QStringList DrawnFields(const QString& row, int maxFields) {
    QStringList fields;
    QString remainder = row;
    while (fields.size() < maxFields && !remainder.isEmpty()) {
        const qsizetype bar = remainder.indexOf(QLatin1Char('|'));
        if (bar < 0) {
            fields << remainder;
            remainder.clear();
        } else {
            fields << remainder.left(bar);
            remainder = remainder.mid(bar + 1);
        }
    }
    return fields;
}

QString SourcePathOfRow(const QString& row) {
    const QString name = row.section(QLatin1Char('|'), 0, 0);
    const QString folder = row.section(QLatin1Char('|'), 1, 1);
    return folder + name;
}
