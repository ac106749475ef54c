#pragma once

#include <QFont>

// The dialog templates' font, 8-point "MS Shell Dlg" (11 pixels on a 96-dpi
// screen). Where the platform lacks that face, a face with Arial's metrics
// (Liberation Sans, Arimo) stands in, so every label fits the place the
// template gives it; a face with the full-width colon and exclamation mark
// of the labels and messages (WenQuanYi Micro Hei) follows for those glyphs.
QFont DialogFont();

// "Arial" at the given weight, or a face with its metrics where Arial is
// missing.
QFont ArialFont(QFont::Weight weight);
