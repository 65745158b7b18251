/*
 * extension.cpp: renaming a file of plain MPEG audio after its layer.
 *
 * The layer is read from the file itself, from the first frame after the
 * tag and the zero bytes, through the same head check that found the file
 * plain: a name says nothing about the content, and a broadcast .wav holds
 * Layer II as often as a download holds Layer III. The file is opened for
 * reading only, sharing reads and writes as the check before it does, and
 * closed before the rename. MoveFileW changes none of the time stamps and
 * never replaces a file of the new name, which may be another song.
 */
#include "extension.h"

#include <string.h>
#include <wchar.h>

#include "convert.h"
#include "unwrap.h"

/* The head is read in blocks of at most this size, as the conversion does. */
#define HEAD_BLOCK_BYTES (16u << 10)

/* Names that MPEG audio players take already, compared in any case. */
static const wchar_t *const kFittingExtensions[] = {L".mp3", L".mp2", L".mp1", L".mpa", L".mpga"};

/* The text from the last "." of the name, the part after the last
 * backslash; NULL when the name has no dot. */
static const wchar_t *FindExtension(const wchar_t *path)
{
    const wchar_t *name = wcsrchr(path, L'\\');
    return wcsrchr(name != NULL ? name + 1 : path, L'.');
}

static int IsFitting(const wchar_t *extension)
{
    for (size_t i = 0; i < sizeof kFittingExtensions / sizeof kFittingExtensions[0]; i++) {
        if (_wcsicmp(extension, kFittingExtensions[i]) == 0)
            return 1;
    }
    return 0;
}

/* The handle may set the times only where they are to be kept; a file that
 * refuses that much is still read. */
static HANDLE OpenForHead(const wchar_t *path, int keepAccessTime)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (keepAccessTime)
        file = CreateFileW(path, GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileW(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    return file;
}

/* The extension for the layer in bits 2 and 1 of the frame header's second
 * byte; NULL for the reserved layer 00 and for a head that is not plain
 * audio (the file changed since it was converted). Reading the head moves
 * the last-access time that a conversion keeping the times has just put
 * back, so it is put back once more. */
static const wchar_t *LayerExtension(const wchar_t *path, int keepAccessTime)
{
    static const wchar_t *const kByLayer[4] = {NULL, L".mp3", L".mp2", L".mp1"};
    unsigned char block[HEAD_BLOCK_BYTES];
    unsigned char second = 0;
    LARGE_INTEGER size;
    FILETIME accessed;
    const wchar_t *extension = NULL;
    HANDLE file = OpenForHead(path, keepAccessTime);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    BOOL timeTaken = keepAccessTime && GetFileTime(file, NULL, &accessed, NULL);
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        CheckHead(ReadFileAt, file, (uint64_t)size.QuadPart, block, sizeof block, &second) ==
            HEAD_PLAIN)
        extension = kByLayer[(second >> 1) & 3];
    if (timeTaken)
        SetFileTime(file, NULL, &accessed, NULL);
    CloseHandle(file);
    return extension;
}

int FitExtension(const wchar_t *path, int keepAccessTime, wchar_t newPath[MAX_PATH])
{
    size_t pathUnits = wcslen(path);
    if (pathUnits >= MAX_PATH)
        return EXTENSION_NOT_CHANGED;
    const wchar_t *extension = FindExtension(path);
    if (extension != NULL && IsFitting(extension))
        return EXTENSION_FITS;
    size_t baseUnits = extension != NULL ? (size_t)(extension - path) : pathUnits;
    const wchar_t *wanted = LayerExtension(path, keepAccessTime);
    /* A cut name would be another file's. */
    if (wanted == NULL || wcslen(wanted) >= MAX_PATH - baseUnits)
        return EXTENSION_NOT_CHANGED;
    wmemcpy(newPath, path, baseUnits);
    wcscpy(newPath + baseUnits, wanted);
    if (MoveFileW(path, newPath))
        return EXTENSION_CHANGED;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return EXTENSION_NAME_TAKEN;
    return EXTENSION_NOT_CHANGED;
}
