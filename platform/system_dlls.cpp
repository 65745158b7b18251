/*
 * system_dlls.cpp: keeping code from the program's folder out of the
 * process. The program is unpacked and started wherever it landed, often a
 * download folder, and Windows looks there first for every DLL that is not
 * one of its known DLLs. So the program imports only known DLLs, loads the
 * shell's DLLs itself by their full path, and has the search for any later
 * DLL pass its folder by.
 */
#include "system_dlls.h"

#include <wchar.h>

DragAcceptFilesFunction LoadedDragAcceptFiles;
DragQueryFileWFunction LoadedDragQueryFileW;
DragFinishFunction LoadedDragFinish;
PathIsDirectoryWFunction LoadedPathIsDirectoryW;
CommandLineToArgvWFunction LoadedCommandLineToArgvW;

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef BOOL(WINAPI *SetDllDirectoryWFunction)(const wchar_t *path);

/* Loaded once and kept for the life of the process: the pointers lead into
 * them. */
static HMODULE Shell32;
static HMODULE Shlwapi;

/* Through the generic function pointer type, which the compiler accepts as
 * a stand-in for any other. */
typedef void (*AnyFunction)(void);

static AnyFunction FindExport(HMODULE module, const char *name)
{
    return module != NULL ? (AnyFunction)GetProcAddress(module, name) : NULL;
}

void LimitDllSearchToSystem(void)
{
    /* Both are looked up: SetDefaultDllDirectories came with an update of
     * Windows 7, SetDllDirectoryW with Windows XP SP1. */
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        (SetDefaultDllDirectoriesFunction)FindExport(kernel32, "SetDefaultDllDirectories");
    SetDllDirectoryWFunction setDllDirectoryW =
        (SetDllDirectoryWFunction)FindExport(kernel32, "SetDllDirectoryW");
    if (setDefaultDllDirectories == NULL ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        /* Without it, at least the current folder leaves the search. */
        if (setDllDirectoryW != NULL)
            setDllDirectoryW(L"");
    }
}

static HMODULE LoadSystemDll(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    HMODULE module = NULL;
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    int written;
    if (length == 0 || length >= MAX_PATH)
        goto done;
    written = _snwprintf(path + length, MAX_PATH - length, L"\\%s", name);
    if (written < 0 || written >= (int)(MAX_PATH - length))
        goto done;
    /* The DLLs it needs in turn are then looked for first in its own folder,
     * the system folder, instead of the program's: this holds also where the
     * search above could not be changed. */
    module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
done:
    return module;
}

int LoadShellFunctions(void)
{
    if (Shell32 == NULL)
        Shell32 = LoadSystemDll(L"shell32.dll");
    if (Shlwapi == NULL)
        Shlwapi = LoadSystemDll(L"shlwapi.dll");
    /* 32-bit Windows exports these too under their plain, undecorated names. */
    LoadedDragAcceptFiles = (DragAcceptFilesFunction)FindExport(Shell32, "DragAcceptFiles");
    LoadedDragQueryFileW = (DragQueryFileWFunction)FindExport(Shell32, "DragQueryFileW");
    LoadedDragFinish = (DragFinishFunction)FindExport(Shell32, "DragFinish");
    LoadedPathIsDirectoryW = (PathIsDirectoryWFunction)FindExport(Shlwapi, "PathIsDirectoryW");
    LoadedCommandLineToArgvW =
        (CommandLineToArgvWFunction)FindExport(Shell32, "CommandLineToArgvW");
    return LoadedDragAcceptFiles != NULL && LoadedDragQueryFileW != NULL &&
           LoadedDragFinish != NULL && LoadedPathIsDirectoryW != NULL &&
           LoadedCommandLineToArgvW != NULL;
}
