/*
 * system_dlls.h: the shell functions the program uses, taken at start from
 * shell32.dll and shlwapi.dll in the system folder instead of being
 * imported. Windows looks for an imported DLL, and for the DLLs it needs, in
 * the program's own folder first, where anybody who could drop a file there
 * (a download folder, say) could have left one of the same name.
 *
 * The calls keep the platform's names: after this header they lead to the
 * pointers that LoadShellFunctions fills. The batch (drops, the command
 * line, folder search) and the dialog both call them, so they sit below both.
 */
#ifndef KORVANE_PLATFORM_SYSTEM_DLLS_H
#define KORVANE_PLATFORM_SYSTEM_DLLS_H

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

typedef void(WINAPI *DragAcceptFilesFunction)(HWND window, BOOL accept);
typedef UINT(WINAPI *DragQueryFileWFunction)(HDROP drop, UINT index, wchar_t *name, UINT units);
typedef void(WINAPI *DragFinishFunction)(HDROP drop);
typedef BOOL(WINAPI *PathIsDirectoryWFunction)(const wchar_t *path);
typedef wchar_t **(WINAPI *CommandLineToArgvWFunction)(const wchar_t *commandLine, int *count);

extern DragAcceptFilesFunction LoadedDragAcceptFiles;
extern DragQueryFileWFunction LoadedDragQueryFileW;
extern DragFinishFunction LoadedDragFinish;
extern PathIsDirectoryWFunction LoadedPathIsDirectoryW;
extern CommandLineToArgvWFunction LoadedCommandLineToArgvW;

#define DragAcceptFiles    LoadedDragAcceptFiles
#define DragQueryFileW     LoadedDragQueryFileW
#define DragFinish         LoadedDragFinish
#define PathIsDirectoryW   LoadedPathIsDirectoryW
#define CommandLineToArgvW LoadedCommandLineToArgvW

/* Takes the program's folder and the current folder out of the search for
 * every DLL loaded from now on, the system's own later loads included. */
void LimitDllSearchToSystem(void);

/* Loads the two DLLs by their full path in the system folder and fills the
 * pointers. Returns 1 when every function was found, else 0; the program
 * cannot work without them. */
int LoadShellFunctions(void);

#endif
