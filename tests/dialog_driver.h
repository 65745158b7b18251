/*
 * dialog_driver.h: runs the real main dialog, with the real template, on a
 * thread of its own (standing in for the program's user interface thread)
 * and drives it with window messages from the calling thread.
 */
#ifndef KORVANE_TESTS_DIALOG_DRIVER_H
#define KORVANE_TESTS_DIALOG_DRIVER_H

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

/* Loads the shell functions as the program does at start, resets the
 * process-wide run flags, sets ProgramDir from this program's path (unless
 * initProgramDir is false: then the caller has set it, e.g. with
 * SetProgramDirFrom) and opens the dialog, handing it commandLine as the
 * program hands it its own (none when NULL). Returns its window once
 * initialized and visible, or NULL. */
HWND StartDialog(bool initProgramDir = true, const wchar_t *commandLine = NULL);
/* Waits for the dialog's thread to end; returns the dialog's result, or
 * -2 when it did not end within timeoutMs. */
INT_PTR WaitDialogEnd(DWORD timeoutMs);
bool DialogRunning();
DWORD DialogThreadId();

/* settings.ini next to this program, where the dialog looks for it. */
std::wstring SettingsPath();

HWND EntryListOf(HWND dialog);
std::vector<std::wstring> EntryTexts(HWND dialog);
std::vector<int> SelectedIndices(HWND dialog);
void AddEntries(HWND dialog, const std::vector<std::wstring> &texts);
bool IsChecked(HWND dialog, int id);
std::wstring ButtonText(HWND dialog, int id);
/* What the title bar shows. */
std::wstring Title(HWND dialog);

/* Builds a drop handle the way the shell does (DROPFILES header and a
 * double-NUL-terminated wide list) and sends WM_DROPFILES. Returns whether
 * the dialog took drops at that moment (WS_EX_ACCEPTFILES). */
bool DropPaths(HWND dialog, const std::vector<std::wstring> &paths);
/* The same onto the dialog of another process, which reads only its own
 * memory: the drop is written into that process. Its DragFinish then hands
 * GlobalFree a block that no heap made, which Wine refuses and leaves; the
 * block goes with the process. */
bool DropPathsInto(HANDLE process, HWND dialog, const std::vector<std::wstring> &paths);
bool AcceptsDrops(HWND dialog);

/* The Unicode text on the clipboard; empty when there is none. */
std::wstring ClipboardText();
/* Puts text on the clipboard, as another program would have. */
bool SetClipboardText(const std::wstring &text);

/* A click as the button would report it (WM_COMMAND, BN_CLICKED). */
void ClickButton(HWND dialog, int id);
/* A real click on a button: check boxes toggle themselves first. */
void ClickControl(HWND dialog, int id);
/* Runs action with the modifier key held (or not) in the key state of the
 * dialog's thread, then puts that key back as it was. */
void WithKeyHeld(UINT modifier, bool held, const std::function<void()> &action);
/* A key pressed while the list has the focus; with ctrl, Ctrl is held in the
 * key state the list reads. */
void PressListKey(HWND dialog, UINT key, bool ctrl);

/* Polls cond every few milliseconds until it holds or timeoutMs passes. */
bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs);
/* A top-level window of the given class and title owned by this process. */
HWND FindTopWindow(const wchar_t *className, const wchar_t *title);
/* The visible main dialog of another process, Korvane.exe started by a test. */
HWND FindProcessDialog(DWORD pid);
/* Starts Korvane.exe (or a copy of it) with arguments after its quoted name,
 * in folder, and waits up to 15 seconds for its dialog, which it returns
 * (NULL when none showed). process->hProcess is NULL when the program could
 * not be started; otherwise FinishStartedProgram ends it. */
HWND StartProgram(const std::wstring &exe, const std::wstring &arguments, const wchar_t *folder,
                  PROCESS_INFORMATION *process);
/* Waits up to 10 seconds for a program started by a test (and asked to
 * close) to end, ends it when it does not, closes both handles and returns
 * its exit code, or PROGRAM_DID_NOT_END. */
#define PROGRAM_DID_NOT_END 0xDEADu
DWORD FinishStartedProgram(const PROCESS_INFORMATION &process);

#endif
