// The window's design font and the substitution that makes it available here.
#pragma once

#include <QFont>

// "ＭＳ Ｐゴシック" with a character height of 12 pixels, as the layout was designed.
QFont DesignFont();
// Maps the design family, where it is missing, to the metric-compatible IPAPGothic (fontconfig
// has no alias for it and would fall back to a font without Japanese glyphs), else to a Japanese
// UI font of Windows. Call before the window is made.
void RegisterDesignFontSubstitution();
