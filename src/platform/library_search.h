#pragma once

namespace lumidex {

// Makes every library this process loads from here on come from the system
// folder alone, so that one planted beside the program or in the current
// folder is never picked up: on Windows SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32 (SetDllDirectoryW(L"") on a Windows 7
// without that call, which at least takes the current folder out); nothing
// elsewhere. Every program calls it first thing in main, before anything
// else can load a library.
void LoadLibrariesFromSystemOnly();

} // namespace lumidex
