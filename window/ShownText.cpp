#include "ShownText.h"

#include <QFile>

QString ShownText(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}
