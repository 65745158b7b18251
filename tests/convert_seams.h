/*
 * convert_seams.h: the platform and heap calls of core/convert.cpp routed
 * through functions that pass each call on to the real one, log it, and can
 * make one chosen call fail or come up short.
 *
 * A conversion first looks at the file's head through a handle opened for
 * reading, and only then, when the file needs converting, opens it for
 * writing and goes the whole way. The seams keep the two apart: the calls
 * made before the first open for writing belong to the head, the rest to the
 * whole way, and each has its own counts, so that "the first read" of a test
 * means the whole way's load as it always has.
 *
 * core/convert.cpp includes this header only when KORVANE_TEST_SEAMS is
 * defined, which the test build alone does; the program calls the platform
 * directly and pays nothing. A file that includes this header to arm the
 * seams (the tests, convert_seams.cpp) defines KORVANE_SEAMS_CONTROL_ONLY
 * first, so that its own calls go straight to the platform.
 */
#ifndef KORVANE_TESTS_CONVERT_SEAMS_H
#define KORVANE_TESTS_CONVERT_SEAMS_H

#include <windows.h>
#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

enum SeamCall {
    SEAM_CREATE_FILE,
    SEAM_GET_FILE_TIME,
    SEAM_SET_FILE_TIME,
    SEAM_GET_FILE_SIZE,
    SEAM_READ_FILE,
    SEAM_WRITE_FILE,
    SEAM_SET_FILE_POINTER,
    SEAM_SET_END_OF_FILE,
    SEAM_CLOSE_HANDLE,
    SEAM_MALLOC,
    SEAM_FREE,
    SEAM_FLUSH_FILE_BUFFERS,
    SEAM_MOVE_FILE_EX,
    SEAM_DELETE_FILE,
    SEAM_GET_FILE_ATTRIBUTES,
    SEAM_SET_FILE_ATTRIBUTES,
    SEAM_CALL_KINDS
};

/* One call as it was made. handle is the handle worked on (for CreateFileW
 * the one returned, for malloc and free the block). args depend on the call:
 * CreateFileW: access, share mode, disposition, flags; ReadFile, WriteFile:
 * bytes asked, bytes transferred; SetFilePointer: distance, whether a high
 * part was passed, method; GetFileTime, SetFileTime: how many of the three
 * times were passed; malloc: size; MoveFileExW: the flags;
 * SetFileAttributesW: the attributes. path is the first path a call names
 * (CreateFileW, MoveFileExW, DeleteFileW, the attribute calls), and path2
 * the second (MoveFileExW: the new name). ok is the result as the caller
 * saw it. */
struct SeamRecord {
    SeamCall call;
    void *handle;
    DWORD args[4];
    bool ok;
    bool head; /* made while looking at the head */
    std::wstring path, path2;
};

/* Forgets the log, armed failures and hooks; the next calls are the head's. */
void SeamReset();
/* The nth call (from 1, counted since the reset) of that kind on the whole
 * way is not made and reports failure as the platform would. */
void SeamFailCall(SeamCall call, int nth);
/* The same for the nth call of that kind while looking at the head. */
void SeamFailHeadCall(SeamCall call, int nth);
/* The nth ReadFile or WriteFile of the whole way transfers fewer bytes than
 * asked and still reports success. */
void SeamShortTransfer(SeamCall call, int nth, DWORD fewer);
/* Runs hook(nth) right before each real call of that kind on the whole way. */
void SeamSetHook(SeamCall call, std::function<void(int nth)> hook);

const std::vector<SeamRecord> &SeamLog();
/* Calls of that kind on the whole way, and while looking at the head. */
int SeamCount(SeamCall call);
int SeamHeadCount(SeamCall call);

HANDLE WINAPI SeamCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile);
BOOL WINAPI SeamGetFileTime(HANDLE file, LPFILETIME created, LPFILETIME accessed,
                            LPFILETIME written);
BOOL WINAPI SeamSetFileTime(HANDLE file, const FILETIME *created, const FILETIME *accessed,
                            const FILETIME *written);
BOOL WINAPI SeamGetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL WINAPI SeamReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                         LPOVERLAPPED overlapped);
BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped);
DWORD WINAPI SeamSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL WINAPI SeamSetEndOfFile(HANDLE file);
BOOL WINAPI SeamCloseHandle(HANDLE handle);
BOOL WINAPI SeamFlushFileBuffers(HANDLE file);
BOOL WINAPI SeamMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL WINAPI SeamDeleteFileW(LPCWSTR path);
DWORD WINAPI SeamGetFileAttributesW(LPCWSTR path);
BOOL WINAPI SeamSetFileAttributesW(LPCWSTR path, DWORD attributes);
void *SeamMalloc(size_t size);
void SeamFree(void *block);

#ifndef KORVANE_SEAMS_CONTROL_ONLY
#define CreateFileW        SeamCreateFileW
#define GetFileTime        SeamGetFileTime
#define SetFileTime        SeamSetFileTime
#define GetFileSizeEx      SeamGetFileSizeEx
#define ReadFile           SeamReadFile
#define WriteFile          SeamWriteFile
#define SetFilePointer     SeamSetFilePointer
#define SetEndOfFile       SeamSetEndOfFile
#define CloseHandle        SeamCloseHandle
#define FlushFileBuffers   SeamFlushFileBuffers
#define MoveFileExW        SeamMoveFileExW
#define DeleteFileW        SeamDeleteFileW
#define GetFileAttributesW SeamGetFileAttributesW
#define SetFileAttributesW SeamSetFileAttributesW
#define malloc(size)       SeamMalloc(size)
#define free(block)        SeamFree(block)
#endif

#endif
