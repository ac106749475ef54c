// Times a Win32 program's start under Wine: from CreateProcessW until a
// visible dialog with the given title exists, polled every millisecond;
// then ends the program. Prints the milliseconds.
//
//   win32_startup_probe TITLE PROGRAM.exe [WORKING_DIR]
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: win32_startup_probe TITLE PROGRAM [DIR]\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[2], command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        argc > 3 ? argv[3] : nullptr, &startup, &process)) {
        std::fprintf(stderr, "win32_startup_probe: cannot start the program\n");
        return 1;
    }
    double elapsed_ms = -1;
    for (;;) {
        HWND window = FindWindowW(L"#32770", argv[1]);
        QueryPerformanceCounter(&now);
        const double ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        if (window != nullptr && IsWindowVisible(window)) {
            elapsed_ms = ms;
            break;
        }
        if (ms > 30000) {
            break;
        }
        Sleep(1);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (elapsed_ms < 0) {
        std::fprintf(stderr, "win32_startup_probe: no window\n");
        return 1;
    }
    std::printf("%.1f\n", elapsed_ms);
    return 0;
}
