#pragma once

#include <cstdint>
#include <string_view>

// How the twelve editors of the main dialog look, the same on both faces:
// the line editors' red digits on white, and the two editor fonts.
namespace lumidex::dialog {

struct Colour {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

inline constexpr Colour kLineEditorText{240, 0, 0};
inline constexpr Colour kLineEditorBackground{255, 255, 255};

// A font is asked for by its face; where that is missing and the stand-in
// is installed, the stand-in takes its place (Debian's fonts-dseg for the
// seven-segment face, Arial's metric twin for Arial). Height and character
// width are pixels at 96 dots per inch; a toolkit that cannot ask for a
// width keeps to the height, or less where the editor is lower.
struct EditorFont {
    std::string_view face;
    std::string_view stand_in;
    int height;
    int width;
};

inline constexpr EditorFont kLineEditorFont{"DigifaceWide", "DSEG7 Classic", 42, 20};
inline constexpr EditorFont kCaptionEditorFont{"Arial", "Liberation Sans", 24, 12};
// Both fonts are black (the heaviest weight).
inline constexpr int kEditorFontWeight = 900;

} // namespace lumidex::dialog
