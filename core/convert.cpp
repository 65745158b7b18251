/*
 * convert.cpp: converting a file by writing its new content beside it and
 * putting that in its place in one step.
 *
 * A file is first looked at from its head alone, opened for reading and
 * sharing everything: most files a user drops are plain MP3s already, of
 * any size and perhaps open in a player, and their verdict needs only the
 * first bytes. Only a file that needs converting is opened for writing, and
 * checked again, since it may have changed meanwhile. It stays open with
 * FILE_SHARE_READ while it is read, so nobody else can write it meanwhile.
 *
 * The file's own bytes are never written over: a conversion cut off at any
 * instant (a crash, a shutdown, a pulled stick) must leave either the old
 * file or the new one at its path. The new content is streamed into a
 * hidden temporary file in the same folder, through one block of at most
 * 1 MiB, so memory does not grow with the file. It takes the original's
 * creation time and attributes, is flushed and closed, the original is
 * closed, and one rename that replaces the original puts the new file at
 * the path. Until then any failure deletes the temporary and leaves the
 * original as it was. A file that needs nothing or can't be unwrapped gets no temporary
 * at all: it is created with the first byte of output. The time stamps are
 * restored through an open made after the replacement.
 */
#include "convert.h"

#include <stdlib.h>
#include <string.h>

#include "riff_tags.h"
#include "stream.h"
#include "unwrap.h"

#ifdef KORVANE_TEST_SEAMS
#include "tests/convert_seams.h"
#endif

/* The head is read in blocks of at most this size. */
#define HEAD_BLOCK_BYTES (16u << 10)
/* The copy block, and the room for two paths after it (the temporary's and
 * the original's in the same form): a path in the long form has at most
 * 32,767 units. */
#define COPY_BYTES      STREAM_BLOCK_MAX
#define TEMP_PATH_UNITS 32800u
/* "~" and four hex digits, ".tmp". */
#define TEMP_NAME_UNITS 9u
#define TEMP_NAMES      0x10000u

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
    L"\n > 正常に変換されました（同じ名前のファイルがあるため拡張子は変えていません）。",
    L"\n > "
    L"ファイルを修正する必要がありませんでした（同じ名前のファイルがあるため拡張子は変えていません"
    L"）。",
    L"\n > 正常に変換されました（拡張子を変更できませんでした）。",
    L"\n > ファイルを修正する必要がありませんでした（拡張子を変更できませんでした）。",
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

uint32_t ReadFileAt(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    OVERLAPPED at;
    DWORD bytesRead = 0;
    memset(&at, 0, sizeof at);
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    if (!ReadFile((HANDLE)context, out, count, &bytesRead, &at))
        return 0;
    return bytesRead;
}

/* True only when the head shows plain MPEG audio. Anything else, a file
 * that can't be opened or read this way included, goes the whole way, which
 * reports it as it always has. Reading the head moves the file's last-access
 * time, so a caller that keeps the times has them read first (*timesTaken):
 * a plain file's are of no further use, and a failure to read them is left
 * for the whole way to report. */
static bool HeadShowsPlainAudio(const wchar_t *path, int keepTimes, FILETIME times[3],
                                bool *timesTaken)
{
    unsigned char block[HEAD_BLOCK_BYTES];
    LARGE_INTEGER size;
    bool plain = false;
    *timesTaken = false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (keepTimes)
        *timesTaken = GetFileTime(file, &times[0], &times[1], &times[2]) != 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0)
        plain =
            CheckHead(ReadFileAt, file, (uint64_t)size.QuadPart, block, sizeof block) == HEAD_PLAIN;
    CloseHandle(file);
    return plain;
}

static uint32_t DecodeAnsi(const unsigned char *text, uint32_t bytes, uint16_t *out,
                           uint32_t outUnits)
{
    int units = MultiByteToWideChar(CP_ACP, 0, (const char *)text, (int)bytes, (wchar_t *)out,
                                    (int)outUnits);
    return units > 0 ? (uint32_t)units : 0;
}

/* ---- The temporary file beside the original ---- */

/* The temporary, created with the first byte of output. */
struct TempFile {
    const wchar_t *original;
    wchar_t *path;     /* TEMP_PATH_UNITS units */
    wchar_t *replaced; /* the original's path in the temporary's form, as many */
    HANDLE handle;
    bool created;
    /* The original's, for the new file: its attributes (or
     * INVALID_FILE_ATTRIBUTES) and creation time. */
    DWORD attributes;
    bool hasCreationTime;
    FILETIME creationTime;
};

static bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

/* The units of path up to and including its last separator. */
static size_t FolderUnits(const wchar_t *path)
{
    size_t units = 0;
    for (size_t i = 0; path[i] != 0; i++)
        if (IsSeparator(path[i]))
            units = i + 1;
    return units;
}

/* The original's folder, in the long form "\\?\C:\..." or "\\?\UNC\..."
 * when the short name after it would not fit MAX_PATH, so that the
 * temporary fits wherever the file's own path does. False when the folder
 * is too long even so. */
static bool PutFolder(const wchar_t *original, wchar_t *out)
{
    size_t folder = FolderUnits(original);
    if (folder + TEMP_NAME_UNITS < MAX_PATH || wcsncmp(original, L"\\\\?\\", 4) == 0) {
        if (folder + TEMP_NAME_UNITS >= TEMP_PATH_UNITS)
            return false;
        memcpy(out, original, folder * sizeof(wchar_t));
        out[folder] = 0;
        return true;
    }
    const wchar_t *prefix = L"\\\\?\\";
    size_t skip = 0;
    wchar_t *full = out + 8;
    DWORD room = TEMP_PATH_UNITS - 8 - TEMP_NAME_UNITS - 1;
    DWORD units = GetFullPathNameW(original, room, full, NULL);
    if (units == 0 || units >= room)
        return false;
    if (IsSeparator(full[0]) && IsSeparator(full[1])) {
        prefix = L"\\\\?\\UNC\\";
        skip = 2;
    }
    size_t prefixUnits = wcslen(prefix);
    memmove(out + prefixUnits, full + skip, (units - skip + 1) * sizeof(wchar_t));
    memcpy(out, prefix, prefixUnits * sizeof(wchar_t));
    out[FolderUnits(out)] = 0;
    return true;
}

/* The original under the temporary's folder, so that the replacement names
 * both in one form: Wine's ReplaceFileW fails on a short path beside a long
 * one. */
static void PutReplaced(TempFile *temp, size_t folderUnits)
{
    const wchar_t *name = temp->original + FolderUnits(temp->original);
    size_t nameUnits = wcslen(name);
    if (folderUnits + nameUnits >= TEMP_PATH_UNITS) {
        wcscpy(temp->replaced, temp->original);
        return;
    }
    memcpy(temp->replaced, temp->path, folderUnits * sizeof(wchar_t));
    memcpy(temp->replaced + folderUnits, name, (nameUnits + 1) * sizeof(wchar_t));
}

/* Creates a new hidden temporary under the first free short name, from a
 * start that differs between processes and calls. */
static bool CreateTemp(TempFile *temp)
{
    static unsigned calls;
    if (!PutFolder(temp->original, temp->path))
        return false;
    size_t folder = wcslen(temp->path);
    PutReplaced(temp, folder);
    unsigned start = (unsigned)GetTickCount() * 31u + (unsigned)GetCurrentProcessId() + calls++;
    for (unsigned i = 0; i < TEMP_NAMES; i++) {
        wsprintfW(temp->path + folder, L"~%04X.tmp", (start + i) % TEMP_NAMES);
        temp->handle = CreateFileW(temp->path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, NULL);
        if (temp->handle != INVALID_HANDLE_VALUE) {
            temp->created = true;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

/* The sink of the streamed conversion; a short write is a failure. */
static bool WriteTemp(void *context, const unsigned char *bytes, uint32_t count)
{
    TempFile *temp = (TempFile *)context;
    DWORD written = 0;
    if (!temp->created && !CreateTemp(temp))
        return false;
    return WriteFile(temp->handle, bytes, count, &written, NULL) && written == count;
}

/* Gives the temporary the original's creation time, flushes and closes
 * it; false when the flush failed. A creation time that can't be set is
 * not worth losing the conversion for. Setting a time under Wine drops the
 * hidden mark, which a temporary left behind by a cut-off should keep. */
static bool FinishTemp(TempFile *temp)
{
    if (temp->hasCreationTime) {
        SetFileTime(temp->handle, &temp->creationTime, NULL, NULL);
        if (!(GetFileAttributesW(temp->path) & FILE_ATTRIBUTE_HIDDEN))
            SetFileAttributesW(temp->path, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
    }
    bool flushed = FlushFileBuffers(temp->handle) != 0;
    CloseHandle(temp->handle);
    temp->handle = INVALID_HANDLE_VALUE;
    return flushed;
}

/* Closes and deletes the temporary, if it was made. */
static void DiscardTemp(TempFile *temp)
{
    if (temp->handle != INVALID_HANDLE_VALUE)
        CloseHandle(temp->handle);
    temp->handle = INVALID_HANDLE_VALUE;
    if (temp->created)
        DeleteFileW(temp->path);
}

/* Puts the temporary at the original's path in one rename that replaces
 * it, so that at every instant the path names the old file or the new one.
 * ReplaceFileW would carry the original's security and streams over too,
 * but Wine's renames the original away and deletes it before the new file
 * takes its name, and a conversion cut off in between left no file at the
 * path. The temporary gives up its own marks for the original's attributes
 * first, so the new file is never left hidden. A file held open without
 * sharing deletion refuses the rename, and stays as it was. */
static int ReplaceOriginal(TempFile *temp)
{
    if (temp->attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(temp->path, temp->attributes);
    if (MoveFileExW(temp->path, temp->replaced, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return STATUS_CONVERTED;
    SetFileAttributesW(temp->path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp->path);
    return STATUS_WRITE_FAILED;
}

/* Sets the three times through an open made after the replacement, so
 * that no later close can move them again. */
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

/* Setting the times under Wine drops a hidden mark, so the attributes are
 * looked at again after them. */
static int PutBackMarks(const wchar_t *path, int keepTimes, const FILETIME times[3],
                        DWORD attributes)
{
    int status = keepTimes ? RestoreTimes(path, times) : STATUS_CONVERTED;
    if (attributes != INVALID_FILE_ATTRIBUTES && GetFileAttributesW(path) != attributes)
        SetFileAttributesW(path, attributes);
    return status;
}

/* Streams the converted content of the open original into the temporary. */
static int StreamIntoTemp(HANDLE file, uint64_t size, unsigned char *block, TempFile *temp,
                          int keepRiffTags)
{
    ByteSource source = {ReadFileAt, file, size};
    ByteSink sink = {WriteTemp, temp};
    int status = StreamConversion(&source, &sink, block, COPY_BYTES, keepRiffTags, DecodeAnsi);
    if (status == STATUS_CONVERTED && !FinishTemp(temp))
        status = STATUS_WRITE_FAILED;
    if (status != STATUS_CONVERTED)
        DiscardTemp(temp);
    return status;
}

int ConvertFile(const wchar_t *path, int keepTimes, int keepRiffTags)
{
    int status;
    FILETIME times[3];
    LARGE_INTEGER size;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool timesTaken;
    unsigned char *block = NULL;
    TempFile temp = {path,  NULL,  NULL, INVALID_HANDLE_VALUE, false, INVALID_FILE_ATTRIBUTES,
                     false, {0, 0}};
    if (HeadShowsPlainAudio(path, keepTimes, times, &timesTaken))
        return STATUS_NOT_NEEDED;
    HANDLE file = OpenForRewrite(path);
    if (file == INVALID_HANDLE_VALUE)
        return STATUS_OPEN_FAILED;

    if (keepTimes && !timesTaken && !GetFileTime(file, &times[0], &times[1], &times[2])) {
        status = STATUS_TIME_FAILED;
        goto cleanup;
    }
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        status = STATUS_READ_FAILED;
        goto cleanup;
    }
    block = (unsigned char *)malloc(COPY_BYTES + 2 * TEMP_PATH_UNITS * sizeof(wchar_t));
    if (block == NULL) {
        status = STATUS_NO_MEMORY;
        goto cleanup;
    }
    temp.path = (wchar_t *)(block + COPY_BYTES);
    temp.replaced = temp.path + TEMP_PATH_UNITS;
    attributes = GetFileAttributesW(path);
    temp.attributes = attributes;
    /* With the times kept, all three are set after the rename anyway. */
    if (!keepTimes)
        temp.hasCreationTime = GetFileTime(file, &temp.creationTime, NULL, NULL) != 0;
    status = StreamIntoTemp(file, (uint64_t)size.QuadPart, block, &temp, keepRiffTags);

cleanup:
    CloseHandle(file);
    if (status == STATUS_CONVERTED)
        status = ReplaceOriginal(&temp);
    free(block);
    if (status == STATUS_CONVERTED)
        status = PutBackMarks(path, keepTimes, times, attributes);
    return status;
}
