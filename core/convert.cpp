/*
 * convert.cpp: loading a file whole, unwrapping it and writing the result
 * back over the same file.
 *
 * A file is first looked at from its head alone, opened for reading and
 * sharing everything: most files a user drops are plain MP3s already, of
 * any size and perhaps open in a player, and their verdict needs only the
 * first bytes. Only a file that needs converting is opened for writing and
 * loaded whole, and checked again, since it may have changed meanwhile.
 *
 * The file stays open for the whole rewrite with FILE_SHARE_READ, so nobody
 * else can write it meanwhile. Nothing is written until the new content is
 * complete in memory; a file that needs nothing or can't be unwrapped is
 * closed untouched, its time stamps included. The time stamps are restored
 * through a second open made after the writing handle is closed, so that the
 * close itself can't move the last-write time again.
 *
 * A write may fail partway (a full disk, a pulled cable), and no audio may
 * be lost then: every audio byte must still be somewhere in the file. Audio
 * moved toward the start is written from the start on, as the plain
 * unwrapping always does. A tag kept from the RIFF may be longer than what
 * stood before the audio, and the audio then moves toward the end: it is
 * written from its end backwards, in blocks no longer than the distance it
 * moves, so that no block overwrites audio that is not yet at its new place.
 */
#include "convert.h"

#include <stdlib.h>
#include <string.h>

#include "riff_tags.h"
#include "unwrap.h"

#ifdef KORVANE_TEST_SEAMS
#include "tests/convert_seams.h"
#endif

/* The head is read in blocks of at most this size. */
#define HEAD_BLOCK_BYTES (16u << 10)
/* Audio that moves toward the end moves at least this far, so that it is
 * written in blocks of this size at the least; the tag is padded for it. */
#define LEAST_MOVE_BYTES 4096u
#define MOST_WRITE_BYTES (1u << 20)

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
    L"\n > ファイルを修正する必要がありませんでした（同じ名前のファイルがあるため拡張子は変えていません）。",
    L"\n > 正常に変換されました（拡張子を変更できませんでした）。",
    L"\n > ファイルを修正する必要がありませんでした（拡張子を変更できませんでした）。",
};

static const unsigned char kZeros[64 << 10] = {0};

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

/* Reads at an offset without moving the file position. */
static uint32_t ReadHeadAt(void *context, uint64_t offset, unsigned char *out, uint32_t count)
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
            CheckHead(ReadHeadAt, file, (uint64_t)size.QuadPart, block, sizeof block) == HEAD_PLAIN;
    CloseHandle(file);
    return plain;
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

/* The low part of a position may read as INVALID_SET_FILE_POINTER; the
 * error then tells. */
static bool SeekTo(HANDLE file, uint64_t offset)
{
    LONG high = (LONG)(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, (LONG)(DWORD)offset, &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

/* Writes at the file position; a short count is a failure. */
static bool WriteHere(HANDLE file, const unsigned char *bytes, uint32_t length)
{
    DWORD written = 0;
    if (length == 0)
        return true;
    return WriteFile(file, bytes, length, &written, NULL) && written == length;
}

static bool WriteZeros(HANDLE file, uint32_t count)
{
    while (count > 0) {
        uint32_t step = count < sizeof kZeros ? count : (uint32_t)sizeof kZeros;
        if (!WriteHere(file, kZeros, step))
            return false;
        count -= step;
    }
    return true;
}

/* Writes length bytes at offset 0 and cuts the file after them. A short
 * write leaves the file uncut: its old tail still follows the new bytes. */
static int RewriteFromStart(HANDLE file, const unsigned char *buffer, uint32_t length)
{
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return STATUS_WRITE_FAILED;
    if (!WriteHere(file, buffer, length))
        return STATUS_WRITE_FAILED;
    if (!SetEndOfFile(file))
        return STATUS_WRITE_FAILED;
    return STATUS_CONVERTED;
}

/* The new file: the tag, gap zero bytes, the unwrapped output (its zero
 * bytes and audio), and an ID3v1 block when there is one. */
struct TaggedOutput {
    const RiffTags *tags;
    uint32_t gap;
    const unsigned char *unwrapped;
    uint32_t length;
    bool appendTrailing;
};

/* Every payload moves toward the start or stays: one pass from the start,
 * as the plain unwrapping writes. */
static int WriteForwards(HANDLE file, const TaggedOutput *out)
{
    if (!SeekTo(file, 0) || !WriteHere(file, out->tags->leading, out->tags->leadingBytes) ||
        !WriteZeros(file, out->gap) || !WriteHere(file, out->unwrapped, out->length))
        return STATUS_WRITE_FAILED;
    if (out->appendTrailing && !WriteHere(file, out->tags->trailing, ID3V1_BYTES))
        return STATUS_WRITE_FAILED;
    return SetEndOfFile(file) ? STATUS_CONVERTED : STATUS_WRITE_FAILED;
}

/* Every payload moves toward the end by at least block bytes. The ID3v1
 * block lands past all the old audio, so it goes first and the file has its
 * full length at once; then the output from its end backwards, each block
 * over bytes whose audio already stands at its new place; the tag last. */
static int WriteBackwards(HANDLE file, const TaggedOutput *out, uint32_t block)
{
    uint64_t lead = (uint64_t)out->tags->leadingBytes + out->gap;
    uint64_t end = lead + out->length;
    if (out->appendTrailing) {
        if (!SeekTo(file, end) || !WriteHere(file, out->tags->trailing, ID3V1_BYTES))
            return STATUS_WRITE_FAILED;
        end += ID3V1_BYTES;
    }
    for (uint32_t left = out->length; left > 0;) {
        uint32_t step = left < block ? left : block;
        left -= step;
        if (!SeekTo(file, lead + left) || !WriteHere(file, out->unwrapped + left, step))
            return STATUS_WRITE_FAILED;
    }
    if (!SeekTo(file, 0) || !WriteHere(file, out->tags->leading, out->tags->leadingBytes) ||
        !WriteZeros(file, out->gap))
        return STATUS_WRITE_FAILED;
    if (!SeekTo(file, end) || !SetEndOfFile(file))
        return STATUS_WRITE_FAILED;
    return STATUS_CONVERTED;
}

static int WriteTagged(HANDLE file, RiffTags *tags, const unsigned char *unwrapped, uint32_t length,
                       const UnwrapLayout *layout)
{
    TaggedOutput out = {tags, 0, unwrapped, length, tags->hasTrailing};
    /* Audio that already ends with an ID3v1 block gets no second one. */
    if (length >= ID3V1_BYTES && memcmp(unwrapped + length - ID3V1_BYTES, "TAG", 3) == 0)
        out.appendTrailing = false;
    if (tags->leading == NULL && !out.appendTrailing)
        return RewriteFromStart(file, unwrapped, length);
    if (tags->leadingBytes <= layout->leastDrop)
        return WriteForwards(file, &out);
    /* Padded so that even the last payload, which moved the furthest toward
     * the start, now moves toward the end by LEAST_MOVE_BYTES or more. */
    uint64_t least = (uint64_t)layout->mostDrop + LEAST_MOVE_BYTES;
    if (least > tags->leadingBytes)
        out.gap = (uint32_t)(least - tags->leadingBytes);
    PadBuiltTag(tags, out.gap);
    uint64_t move = (uint64_t)tags->leadingBytes + out.gap - layout->mostDrop;
    return WriteBackwards(file, &out, move < MOST_WRITE_BYTES ? (uint32_t)move : MOST_WRITE_BYTES);
}

static uint32_t DecodeAnsi(const unsigned char *text, uint32_t bytes, uint16_t *out,
                           uint32_t outUnits)
{
    int units = MultiByteToWideChar(CP_ACP, 0, (const char *)text, (int)bytes, (wchar_t *)out,
                                    (int)outUnits);
    return units > 0 ? (uint32_t)units : 0;
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

/* The tags are looked for before the unwrapping, which overwrites the
 * chunks they are in. A file that leads with a tag has none found: its tag
 * wins, and nothing is merged into it. */
static int UnwrapAndWrite(HANDLE file, unsigned char *buffer, uint32_t size, int keepRiffTags)
{
    RiffTags tags = {NULL, 0, false, false, {0}};
    UnwrapLayout layout;
    bool noMemory = false;
    int status;
    if (keepRiffTags && !FindRiffTags(buffer, size, DecodeAnsi, &tags))
        return STATUS_NO_MEMORY;
    /* A sound file whose second buffer could not be had is short of memory,
     * not damaged: a user told otherwise might throw a long recording away. */
    uint32_t length = UnwrapRiff(buffer, size, &noMemory, &layout);
    if (length == 0)
        status = noMemory ? STATUS_NO_MEMORY : STATUS_BAD_FORMAT;
    else
        status = WriteTagged(file, &tags, buffer, length, &layout);
    FreeRiffTags(&tags);
    return status;
}

int ConvertFile(const wchar_t *path, int keepTimes, int keepRiffTags)
{
    int status;
    FILETIME times[3];
    unsigned char *buffer = NULL;
    uint32_t size = 0;
    bool timesTaken;
    if (HeadShowsPlainAudio(path, keepTimes, times, &timesTaken))
        return STATUS_NOT_NEEDED;
    HANDLE file = OpenForRewrite(path);
    if (file == INVALID_HANDLE_VALUE)
        return STATUS_OPEN_FAILED;

    if (keepTimes && !timesTaken && !GetFileTime(file, &times[0], &times[1], &times[2])) {
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
    status = UnwrapAndWrite(file, buffer, size, keepRiffTags);

cleanup:
    CloseHandle(file);
    free(buffer);
    if (status == STATUS_CONVERTED && keepTimes)
        status = RestoreTimes(path, times);
    return status;
}
