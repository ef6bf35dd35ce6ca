// Reading a result row back: the fields the list draws and the source path the edit button opens.
#pragma once

#include <QString>
#include <QStringList>

// The first fields of row, split at each "|" the way the list draws them: at most maxFields,
// stopping when nothing is left (so a row ending in "|" has no empty last field).
QStringList DrawnFields(const QString& row, int maxFields);
// Field 2 (the source folder) followed by field 1 (the file name): the path as it was dropped.
QString SourcePathOfRow(const QString& row);
