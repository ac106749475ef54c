// Answers questions about the line rules as the engine decides them, so the
// browser test can hold the web page's copy of the rules against them. One
// question per line on standard input, fields separated by tabs; one answer
// per line on standard output:
//   key NUMBERS PLACES TEXT START END KEY -> VERDICT TEXT START END
//      (KEY one character, or BS for backspace; VERDICT accepted, refused
//      or dropped)
//   format NUMBERS PLACES TEXT            -> the text shown, or "none"
//   fits NUMBERS PLACES TEXT              -> 1 when the board takes it, else 0
//   pattern NUMBERS PLACES                -> the line's pattern
#include "boards/board_rules.h"
#include "lines/keystroke.h"
#include "lines/line_format.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::string Narrow(const std::u16string& text) {
    return {text.begin(), text.end()}; // the editors hold digits and points only
}

std::string VerdictName(lumidex::KeyVerdict verdict) {
    switch (verdict) {
    case lumidex::KeyVerdict::Accepted:
        return "accepted";
    case lumidex::KeyVerdict::Refused:
        return "refused";
    default:
        return "dropped";
    }
}

std::string Answer(const std::vector<std::string>& f) {
    if (f.size() < 3) {
        return "bad question";
    }
    const lumidex::LineFormat format{f[1], f[2]};
    if (f[0] == "key" && f.size() == 7) {
        const lumidex::EditorText before{std::u16string(f[3].begin(), f[3].end()), std::stoi(f[4]),
                                         std::stoi(f[5])};
        const char16_t key = f[6] == "BS" ? lumidex::kBackspace : static_cast<char16_t>(f[6].at(0));
        const auto outcome = lumidex::ApplyLineKeystroke(before, key, f[1], f[2]);
        return VerdictName(outcome.verdict) + "\t" + Narrow(outcome.result.text) + "\t" +
               std::to_string(outcome.result.sel_start) + "\t" +
               std::to_string(outcome.result.sel_end);
    }
    if (f[0] == "format" && f.size() == 4) {
        return lumidex::FormatLineText(f[3], f[1], f[2]).value_or("none");
    }
    if (f[0] == "fits" && f.size() == 4) {
        return lumidex::LineValueFits(f[3], format) ? "1" : "0";
    }
    if (f[0] == "pattern") {
        return lumidex::LineValuePattern(format);
    }
    return "bad question";
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::cout << Answer(Fields(line)) << '\n';
    }
    return 0;
}
