/*
 * winmain.cpp: program start. The program is its one dialog; when the
 * dialog ends, the program ends with the dialog's result.
 */
#include <windows.h>

#include "res/resource.h"
#include "ui/dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState)
{
    (void)previous, (void)commandLine, (void)showState;
    ProgramInstance = instance;
    InitProgramDir();
    return (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), NULL, MainDlgProc, 0);
}
