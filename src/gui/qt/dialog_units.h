#pragma once

#include "dialog/dialog_template.h"

#include <QRect>

// Dialog units to pixels. A horizontal unit is 1.515 pixels and a vertical
// unit 1.625 (13/8, the height of the dialog font's cell over 8): with them
// the left area (up to 172 units) fits the window's closed width of 290
// pixels, and the settings panel (192 to 342 units) starts beyond it and fits
// the open width of 520.
QRect DialogUnitsToPixels(int x, int y, int w, int h);
