#include "DesignFont.h"

#include <QStringList>

namespace {
const QString DesignFamily = QStringLiteral("ＭＳ Ｐゴシック");
}

QFont DesignFont() {
    QFont font(DesignFamily);
    font.setPixelSize(12);
    return font;
}

void RegisterDesignFontSubstitution() {
    // Where the design family is missing: its metric twin, then a Japanese UI font of Windows.
    QFont::insertSubstitutions(
        DesignFamily, QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("Yu Gothic UI"),
                                  QStringLiteral("Meiryo UI"), QStringLiteral("MS UI Gothic")});
}
