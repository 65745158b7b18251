/* convert_seams.cpp: the seams behind convert_seams.h, each a thin pass to the real call. */
#define KORVANE_SEAMS_CONTROL_ONLY
#include "convert_seams.h"

#include <stdlib.h>

namespace
{

struct Plan {
    int failNth = 0;
    int headFailNth = 0;
    int shortNth = 0;
    DWORD fewer = 0;
    std::function<void(int)> hook;
};

std::vector<SeamRecord> records;
Plan plans[SEAM_CALL_KINDS];
int counts[SEAM_CALL_KINDS];
int headCounts[SEAM_CALL_KINDS];
bool inHead = true;

/* Counts the call, runs its hook and tells whether it is to fail. *nth is
 * 0 for a call of the head: it is never cut short. */
bool Begin(SeamCall call, int *nth)
{
    if (inHead) {
        *nth = 0;
        return plans[call].headFailNth == ++headCounts[call];
    }
    *nth = ++counts[call];
    if (plans[call].hook)
        plans[call].hook(*nth);
    return plans[call].failNth == *nth;
}

DWORD ShortCount(SeamCall call, int nth, DWORD count)
{
    const Plan &plan = plans[call];
    if (nth == 0 || plan.shortNth != nth)
        return count;
    return plan.fewer < count ? count - plan.fewer : 0;
}

void Log(SeamCall call, void *handle, bool ok, DWORD a = 0, DWORD b = 0, DWORD c = 0, DWORD d = 0,
         const wchar_t *path = NULL, const wchar_t *path2 = NULL)
{
    SeamRecord record = {
        call, handle, {a, b, c, d}, ok, inHead, path ? path : L"", path2 ? path2 : L""};
    records.push_back(record);
}

} // namespace

void SeamReset()
{
    records.clear();
    for (int i = 0; i < SEAM_CALL_KINDS; i++) {
        plans[i] = Plan();
        counts[i] = 0;
        headCounts[i] = 0;
    }
    inHead = true;
}

void SeamFailCall(SeamCall call, int nth)
{
    plans[call].failNth = nth;
}

void SeamFailHeadCall(SeamCall call, int nth)
{
    plans[call].headFailNth = nth;
}

void SeamShortTransfer(SeamCall call, int nth, DWORD fewer)
{
    plans[call].shortNth = nth;
    plans[call].fewer = fewer;
}

void SeamSetHook(SeamCall call, std::function<void(int nth)> hook)
{
    plans[call].hook = hook;
}

const std::vector<SeamRecord> &SeamLog()
{
    return records;
}

int SeamCount(SeamCall call)
{
    return counts[call];
}

int SeamHeadCount(SeamCall call)
{
    return headCounts[call];
}

HANDLE WINAPI SeamCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile)
{
    int nth;
    HANDLE file = INVALID_HANDLE_VALUE;
    /* The first open for writing ends the look at the head. */
    if (access & GENERIC_WRITE)
        inHead = false;
    if (Begin(SEAM_CREATE_FILE, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        file = CreateFileW(path, access, share, security, disposition, flags, templateFile);
    Log(SEAM_CREATE_FILE, file, file != INVALID_HANDLE_VALUE, access, share, disposition, flags,
        path);
    return file;
}

static DWORD TimesPassed(const void *a, const void *b, const void *c)
{
    return (a != NULL) + (b != NULL) + (c != NULL);
}

BOOL WINAPI SeamGetFileTime(HANDLE file, LPFILETIME created, LPFILETIME accessed,
                            LPFILETIME written)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_GET_FILE_TIME, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = GetFileTime(file, created, accessed, written);
    Log(SEAM_GET_FILE_TIME, file, ok, TimesPassed(created, accessed, written));
    return ok;
}

BOOL WINAPI SeamSetFileTime(HANDLE file, const FILETIME *created, const FILETIME *accessed,
                            const FILETIME *written)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_SET_FILE_TIME, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = SetFileTime(file, created, accessed, written);
    Log(SEAM_SET_FILE_TIME, file, ok, TimesPassed(created, accessed, written));
    return ok;
}

BOOL WINAPI SeamGetFileSizeEx(HANDLE file, PLARGE_INTEGER size)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_GET_FILE_SIZE, &nth))
        SetLastError(ERROR_INVALID_HANDLE);
    else
        ok = GetFileSizeEx(file, size);
    Log(SEAM_GET_FILE_SIZE, file, ok);
    return ok;
}

BOOL WINAPI SeamReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                         LPOVERLAPPED overlapped)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_READ_FILE, &nth)) {
        SetLastError(ERROR_READ_FAULT);
        if (read)
            *read = 0;
    } else {
        ok = ReadFile(file, buffer, ShortCount(SEAM_READ_FILE, nth, count), read, overlapped);
    }
    Log(SEAM_READ_FILE, file, ok, count, read ? *read : 0);
    return ok;
}

BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_WRITE_FILE, &nth)) {
        SetLastError(ERROR_WRITE_FAULT);
        if (written)
            *written = 0;
    } else {
        ok = WriteFile(file, buffer, ShortCount(SEAM_WRITE_FILE, nth, count), written, overlapped);
    }
    Log(SEAM_WRITE_FILE, file, ok, count, written ? *written : 0);
    return ok;
}

DWORD WINAPI SeamSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    int nth;
    DWORD result = INVALID_SET_FILE_POINTER;
    if (Begin(SEAM_SET_FILE_POINTER, &nth))
        SetLastError(ERROR_NEGATIVE_SEEK);
    else
        result = SetFilePointer(file, distance, distanceHigh, method);
    Log(SEAM_SET_FILE_POINTER, file, result != INVALID_SET_FILE_POINTER, (DWORD)distance,
        distanceHigh != NULL, method);
    return result;
}

BOOL WINAPI SeamSetEndOfFile(HANDLE file)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_SET_END_OF_FILE, &nth))
        SetLastError(ERROR_DISK_FULL);
    else
        ok = SetEndOfFile(file);
    Log(SEAM_SET_END_OF_FILE, file, ok);
    return ok;
}

/* An armed failure still closes the handle, so that nothing leaks; only the
 * result says otherwise. */
BOOL WINAPI SeamCloseHandle(HANDLE handle)
{
    int nth;
    bool fail = Begin(SEAM_CLOSE_HANDLE, &nth);
    BOOL ok = CloseHandle(handle) && !fail;
    Log(SEAM_CLOSE_HANDLE, handle, ok);
    return ok;
}

void *SeamMalloc(size_t size)
{
    int nth;
    void *block = Begin(SEAM_MALLOC, &nth) ? NULL : malloc(size);
    Log(SEAM_MALLOC, block, block != NULL, (DWORD)size);
    return block;
}

void SeamFree(void *block)
{
    int nth;
    Begin(SEAM_FREE, &nth);
    Log(SEAM_FREE, block, true);
    free(block);
}

BOOL WINAPI SeamFlushFileBuffers(HANDLE file)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_FLUSH_FILE_BUFFERS, &nth))
        SetLastError(ERROR_DISK_FULL);
    else
        ok = FlushFileBuffers(file);
    Log(SEAM_FLUSH_FILE_BUFFERS, file, ok);
    return ok;
}

BOOL WINAPI SeamMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_MOVE_FILE_EX, &nth))
        SetLastError(ERROR_SHARING_VIOLATION);
    else
        ok = MoveFileExW(from, to, flags);
    Log(SEAM_MOVE_FILE_EX, NULL, ok, flags, 0, 0, 0, from, to);
    return ok;
}

BOOL WINAPI SeamDeleteFileW(LPCWSTR path)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_DELETE_FILE, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = DeleteFileW(path);
    Log(SEAM_DELETE_FILE, NULL, ok, 0, 0, 0, 0, path);
    return ok;
}

DWORD WINAPI SeamGetFileAttributesW(LPCWSTR path)
{
    int nth;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (Begin(SEAM_GET_FILE_ATTRIBUTES, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        attributes = GetFileAttributesW(path);
    Log(SEAM_GET_FILE_ATTRIBUTES, NULL, attributes != INVALID_FILE_ATTRIBUTES, attributes, 0, 0, 0,
        path);
    return attributes;
}

BOOL WINAPI SeamSetFileAttributesW(LPCWSTR path, DWORD attributes)
{
    int nth;
    BOOL ok = FALSE;
    if (Begin(SEAM_SET_FILE_ATTRIBUTES, &nth))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = SetFileAttributesW(path, attributes);
    Log(SEAM_SET_FILE_ATTRIBUTES, NULL, ok, attributes, 0, 0, 0, path);
    return ok;
}
