#include "tools/bridge/platform/thread_priority.h"

#include <windows.h>

namespace lumidex {

void LowerThisThreadsPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace lumidex
