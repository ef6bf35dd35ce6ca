#include "ShownText.h"

QString ShownText(const std::string& bytes) {
    // Paths are UTF-8 on every system here, whatever the system's own code page.
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
