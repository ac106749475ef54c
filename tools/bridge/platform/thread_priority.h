#pragma once

namespace lumidex {

// Lowers the calling thread's scheduling priority, so the threads that
// serve requests and boards go first when the machine is busy: nice 5 on
// Linux, below normal on Windows. Nothing happens when the system refuses.
void LowerThisThreadsPriority();

} // namespace lumidex
