#include "platform/library_search.h"

namespace lumidex {

// The dynamic loader looks beside the program only where the program asks
// it to (an rpath with $ORIGIN), which none of ours does.
void LoadLibrariesFromSystemOnly() {}

} // namespace lumidex
