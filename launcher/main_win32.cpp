// The process entry point of the Windows executables.
#include <windows.h>

#include "launcher/launcher.h"
#include "support/trace.h"
#include "vm/startup_cache.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int32_t code;
    // Started again to create the start-up cache after a program ended.
    if (runStartupCacheJob(code)) return code;
    {
        Launcher launcher;
        // Narrow texts (virtual-machine options) use the system default locale's code page.
        SetThreadLocale(GetSystemDefaultLCID());
        DefWindowProcW(nullptr, 0, 0, 0);
        code = launcher.initialise() ? launcher.run() : -1;
    }
    // After the teardown, which waits for the program's last thread: the
    // process ends now, with this code.
    TRACE_EVENT("exit").field("code", static_cast<int64_t>(code));
    return code;
}
