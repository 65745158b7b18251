/*
 * winmain.cpp: program start. The program is its one dialog; when the
 * dialog ends, the program ends with the dialog's result. The dialog takes
 * the command line: the shell starts the program with the files dropped on
 * it or sent to it as arguments.
 */
#include <windows.h>

#include "platform/system_dlls.h"
#include "res/resource.h"
#include "ui/dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState)
{
    (void)previous, (void)commandLine, (void)showState;
    /* Before anything can make the system load a DLL on the program's behalf. */
    LimitDllSearchToSystem();
    /* Without the shell functions no drop could be taken: nothing is shown. */
    int result = 1;
    if (LoadShellFunctions()) {
        ProgramInstance = instance;
        InitProgramDir();
        result = (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), NULL, MainDlgProc,
                                      (LPARAM)GetCommandLineW());
    }
    return result;
}
