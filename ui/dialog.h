/*
 * dialog.h: the process-wide values of the user interface and the main
 * dialog's procedure, which ties settings, list and run together.
 */
#ifndef KORVANE_UI_DIALOG_H
#define KORVANE_UI_DIALOG_H

#include <windows.h>

extern HINSTANCE ProgramInstance;
/* The executable's directory, without a trailing backslash. */
extern wchar_t ProgramDir[MAX_PATH];

void InitProgramDir(void);
/* Fills ProgramDir from a module name as GetModuleFileNameW returned it with
 * a limit of MAX_PATH - 1 units; a name that filled the limit was cut. */
void SetProgramDirFrom(const wchar_t *moduleName, DWORD length);

/* The dialog's parameter is a command line as GetCommandLineW gives it,
 * whose arguments are added to the list, or 0. It must stay valid while the
 * dialog is open. */
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/* The normal close: stop taking drops, save the options, end the dialog. */
void CloseMainDialog(HWND dialog);

#endif
