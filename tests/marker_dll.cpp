/*
 * marker_dll.cpp: a DLL that leaves a trace when its code runs. Copied under
 * the names of system DLLs next to a copy of Korvane.exe, it shows whether
 * the program loads code from its own folder: on process attach it creates
 * a file beside itself named after itself with ".loaded" added
 * ("shcore.dll.loaded"). It takes its name from its own module, so one build
 * serves under every name.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE)
                CloseHandle(marker);
        }
    }
    /* Loading goes on, as it would for a real intruder's DLL, so that one
     * start shows every DLL taken from the folder. */
    return TRUE;
}
