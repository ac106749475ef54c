#include "gui/qt/dialog_font.h"

#include "dialog/editor_look.h"

#include <QFontInfo>
#include <QStringList>

namespace {

// Arial (the caption editors' face) and faces with its metrics, first choice
// first.
const QStringList kArialFaces{
    QString::fromUtf8(lumidex::dialog::kCaptionEditorFont.face.data()),
    QString::fromUtf8(lumidex::dialog::kCaptionEditorFont.stand_in.data()), "Arimo"};
// A face with the CJK full-width punctuation ("：", "！") the texts use.
constexpr const char* kFullWidthFace = "WenQuanYi Micro Hei";
constexpr int kDialogFontPixels = 11;
constexpr int kArialStretch = 98; // percent

} // namespace

QFont DialogFont() {
    QFont font;
    // The platform's own dialog faces first, then the stand-ins. The toolkit
    // takes the first face it has and the rest for glyphs the first lacks.
    font.setFamilies(QStringList{"MS Shell Dlg", "Tahoma", "Microsoft Sans Serif"} + kArialFaces +
                     QStringList{kFullWidthFace});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kDialogFontPixels);
    // At this size Arial runs a little wider than the Windows dialog face
    // the template was laid out in; two percent narrower gives the same
    // line lengths, so every label keeps to its place.
    if (kArialFaces.contains(QFontInfo(font).family())) {
        font.setStretch(kArialStretch);
    }
    return font;
}

QFont ArialFont(QFont::Weight weight) {
    QFont font;
    font.setFamilies(kArialFaces + QStringList{kFullWidthFace});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(weight);
    return font;
}
