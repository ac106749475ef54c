#include "boards/board_view.h"

#include "boards/board_rules.h"
#include "settings/profile.h"

namespace lumidex {

std::string_view AvailabilityName(Availability availability) {
    switch (availability) {
    case Availability::Online:
        return "online";
    case Availability::Offline:
        return "offline";
    case Availability::Unknown:
        break;
    }
    return "unknown";
}

std::array<LineFormat, kLineCount> StoredView::Formats() const {
    std::array<LineFormat, kLineCount> formats;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        formats[i] = lines[i].format;
    }
    return formats;
}

BoardShown StoredView::AsShown() const {
    BoardShown shown;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        shown.lines[i] = stored_texts[i];
    }
    shown.day = day;
    shown.night = night;
    return shown;
}

StoredView ReadStoredView(const SettingsFile& settings) {
    const SettingsFile::Snapshot once(settings);
    const DialogLines dialog = LinesAfterRefresh(settings);
    const auto formats = LineFormatsAfterRefresh(settings);
    StoredView view;
    view.update = dialog.update_index >= 0
                      ? std::string(kUpdateTimeItems[static_cast<std::size_t>(dialog.update_index)])
                      : settings.Read(keys::kUpdateTime);
    view.day = settings.Read(keys::kDayBrightness);
    view.night = settings.Read(keys::kNightBrightness);
    for (std::size_t i = 0; i < kLineCount; ++i) {
        BoardLine& line = view.lines[i];
        line.number = static_cast<int>(i) + 1;
        line.caption = settings.Read(keys::kCaption[i]);
        line.chosen = keys::IsChosenForFrame(settings.Read(keys::kLineChosen[i]));
        line.format = formats[i];
        // What the board is to show: the stored text as a refresh reads it.
        line.text = dialog.texts[i];
        line.flicker = dialog.flicker[i];
        line.point = dialog.point[i];
        line.pattern = LineValuePattern(formats[i]);
        view.stored_texts[i] = settings.Read(keys::kLineText[i]);
    }
    return view;
}

} // namespace lumidex
