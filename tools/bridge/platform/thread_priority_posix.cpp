#include "tools/bridge/platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumidex {

void LowerThisThreadsPriority() {
    // On Linux a nice value belongs to a thread, named by its own id.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, thread, 5);
}

} // namespace lumidex
