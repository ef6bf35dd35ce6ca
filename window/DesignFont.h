// The window's design font and the substitution that makes it available here.
#pragma once

#include <QFont>

// "ＭＳ Ｐゴシック" with a character height of 12 pixels, as the layout was designed.
QFont DesignFont();
// Maps the design family to the metric-compatible IPAPGothic; fontconfig here has no alias for
// it and would fall back to a font without Japanese glyphs. Call before the window is made.
void RegisterDesignFontSubstitution();
