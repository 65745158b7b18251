/*
 * convert.cpp: loading a file whole, unwrapping it and writing the result
 * back over the same file.
 *
 * The file stays open for the whole rewrite with FILE_SHARE_READ, so nobody
 * else can write it meanwhile. Nothing is written until the new content is
 * complete in memory; a file that needs nothing or can't be unwrapped is
 * closed untouched, its time stamps included. The time stamps are restored
 * through a second open made after the writing handle is closed, so that the
 * close itself can't move the last-write time again.
 */
#include "convert.h"

#include <stdlib.h>

#include "unwrap.h"

#ifdef KORVANE_TEST_SEAMS
#include "tests/convert_seams.h"
#endif

static const wchar_t *const kStatusSuffix[CONVERT_STATUS_COUNT] = {
    L"\n > ファイルを検査しています...",
    L"\n > ファイルを修正する必要がありませんでした。",
    L"\n > 正常に変換されました。",
    L"\n > ファイルを開けません。",
    L"\n > ファイルの更新日時の設定に失敗しました。",
    L"\n > メモリが不足しています。",
    L"\n > ファイルの読み込みに失敗しました。",
    L"\n > 破損したファイルまたは未対応の形式です。",
    L"\n > ファイルの書き込みに失敗しました。",
};

const wchar_t *StatusSuffix(int status)
{
    if (status < 0 || status >= CONVERT_STATUS_COUNT)
        return L"";
    return kStatusSuffix[status];
}

static HANDLE OpenForRewrite(const wchar_t *path)
{
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

/* Loads the whole file into a buffer of size + 1 bytes with the guard byte
 * at the end. Returns STATUS_CHECKING when the buffer is filled. */
static int LoadWholeFile(HANDLE file, unsigned char **buffer, uint32_t *size)
{
    LARGE_INTEGER fileSize;
    DWORD bytesRead = 0;
    *buffer = NULL;
    if (!GetFileSizeEx(file, &fileSize))
        return STATUS_READ_FAILED;
    /* The size is a 32-bit count and the buffer needs one byte more. */
    if (fileSize.QuadPart >= 0xFFFFFFFFLL)
        return STATUS_NO_MEMORY;
    *size = (uint32_t)fileSize.QuadPart;
    *buffer = (unsigned char *)malloc((size_t)*size + 1);
    if (*buffer == NULL)
        return STATUS_NO_MEMORY;
    (*buffer)[*size] = LOADED_BUFFER_GUARD;
    if (!ReadFile(file, *buffer, *size, &bytesRead, NULL) || bytesRead != *size)
        return STATUS_READ_FAILED;
    return STATUS_CHECKING;
}

/* Writes length bytes at offset 0 and cuts the file after them. A short
 * write leaves the file uncut: its old tail still follows the new bytes. */
static int RewriteFromStart(HANDLE file, const unsigned char *buffer, uint32_t length)
{
    DWORD written = 0;
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return STATUS_WRITE_FAILED;
    if (!WriteFile(file, buffer, length, &written, NULL) || written != length)
        return STATUS_WRITE_FAILED;
    if (!SetEndOfFile(file))
        return STATUS_WRITE_FAILED;
    return STATUS_CONVERTED;
}

static int RestoreTimes(const wchar_t *path, const FILETIME times[3])
{
    int status = STATUS_CONVERTED;
    HANDLE file = OpenForRewrite(path);
    if (file == INVALID_HANDLE_VALUE)
        return STATUS_OPEN_FAILED;
    if (!SetFileTime(file, &times[0], &times[1], &times[2]))
        status = STATUS_TIME_FAILED;
    CloseHandle(file);
    return status;
}

int ConvertFile(const wchar_t *path, int keepTimes)
{
    int status;
    FILETIME times[3];
    unsigned char *buffer = NULL;
    uint32_t size = 0, length;
    bool noMemory = false;
    HANDLE file = OpenForRewrite(path);
    if (file == INVALID_HANDLE_VALUE)
        return STATUS_OPEN_FAILED;

    if (keepTimes && !GetFileTime(file, &times[0], &times[1], &times[2])) {
        status = STATUS_TIME_FAILED;
        goto cleanup;
    }
    status = LoadWholeFile(file, &buffer, &size);
    if (status != STATUS_CHECKING)
        goto cleanup;
    if (!NeedsConversion(buffer, size)) {
        status = STATUS_NOT_NEEDED;
        goto cleanup;
    }
    /* A sound file whose second buffer could not be had is short of memory,
     * not damaged: a user told otherwise might throw a long recording away. */
    length = UnwrapRiff(buffer, size, &noMemory);
    if (length == 0) {
        status = noMemory ? STATUS_NO_MEMORY : STATUS_BAD_FORMAT;
        goto cleanup;
    }
    status = RewriteFromStart(file, buffer, length);

cleanup:
    CloseHandle(file);
    free(buffer);
    if (status == STATUS_CONVERTED && keepTimes)
        status = RestoreTimes(path, times);
    return status;
}
