#include "gui/win32/running_copy.h"

#include <algorithm>
#include <cwctype>

namespace lumidex::win32 {

bool IsRunningCopy(const ProcessIdentity& window_owner, const ProcessIdentity& self) {
    const auto same_letter = [](wchar_t a, wchar_t b) {
        return std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
    };
    return !self.program.empty() && !self.user_sid.empty() &&
           window_owner.user_sid == self.user_sid &&
           std::equal(window_owner.program.begin(), window_owner.program.end(),
                      self.program.begin(), self.program.end(), same_letter);
}

} // namespace lumidex::win32
