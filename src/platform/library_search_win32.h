#pragma once

#include <windows.h>

namespace lumidex {

// A function of a system library, the library loaded from the system folder
// alone; nullptr when either is missing. For libraries a program keeps out
// of its imports: the loader resolves imports before main runs, where
// LoadLibrariesFromSystemOnly cannot yet govern what they pull in.
FARPROC SystemProcedure(const wchar_t* library, const char* name);

template <typename Function>
Function* SystemFunction(const wchar_t* library, const char* name) {
    // Through void (*)(), which converts to every function type.
    return reinterpret_cast<Function*>(
        reinterpret_cast<void (*)()>(SystemProcedure(library, name)));
}

} // namespace lumidex
