#include "tools/bridge/platform/stop_signal.h"

#include <windows.h>

namespace lumidex {
namespace {

// Manual-reset: once asked, every waiter returns.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT ||
        type == CTRL_SHUTDOWN_EVENT) {
        StopSignal::Raise();
        return TRUE;
    }
    return FALSE;
}

} // namespace

StopSignal::StopSignal() {
    StopEvent();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignal::~StopSignal() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) {
    return WaitForSingleObject(StopEvent(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void StopSignal::Raise() {
    SetEvent(StopEvent());
}

std::string_view StopRequestName() {
    return "Ctrl+C";
}

} // namespace lumidex
