#include "DesignFont.h"

namespace {
const QString DesignFamily = QStringLiteral("ＭＳ Ｐゴシック");
}

QFont DesignFont() {
    QFont font(DesignFamily);
    font.setPixelSize(12);
    return font;
}

void RegisterDesignFontSubstitution() {
    QFont::insertSubstitution(DesignFamily, QStringLiteral("IPAPGothic"));
}
