#include "platform/library_search.h"
#include "platform/library_search_win32.h"

namespace lumidex {

void LoadLibrariesFromSystemOnly() {
    // Looked up rather than imported: Windows 7 has the call only with
    // update KB2533623, and a missing import would stop the program.
    using SetDirectories = BOOL WINAPI(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto* set_directories = reinterpret_cast<SetDirectories*>(reinterpret_cast<void (*)()>(
        kernel != nullptr ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (set_directories == nullptr || !set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        ::SetDllDirectoryW(L"");
    }
}

FARPROC SystemProcedure(const wchar_t* library, const char* name) {
    HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}

} // namespace lumidex
