/* A library as someone might plant it beside lumidex.exe under the name of
 * a system library: when loaded it leaves a file named after itself plus
 * ".ran" in its own folder. The end-to-end suite copies it in as shcore.dll
 * and checks that it never ran. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t name[MAX_PATH + 8];
        const DWORD length = GetModuleFileNameW(self, name, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(name, L".ran");
            CloseHandle(CreateFileW(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
        }
    }
    return TRUE;
}
