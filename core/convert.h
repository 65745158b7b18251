/*
 * convert.h: converting one file on disk in place, and the status codes that
 * tell the user what happened to it.
 */
#ifndef KORVANE_CORE_CONVERT_H
#define KORVANE_CORE_CONVERT_H

#include <windows.h>

/* <windows.h> defines STATUS_NO_MEMORY as an NTSTATUS value; in this program
 * the name belongs to the conversion status below. */
#undef STATUS_NO_MEMORY

enum ConvertStatus {
    STATUS_CHECKING = 0,
    STATUS_NOT_NEEDED = 1,
    STATUS_CONVERTED = 2,
    STATUS_OPEN_FAILED = 3,
    STATUS_TIME_FAILED = 4,
    STATUS_NO_MEMORY = 5,
    STATUS_READ_FAILED = 6,
    STATUS_BAD_FORMAT = 7,
    STATUS_WRITE_FAILED = 8,
    /* Converted or found plain, but the name kept its extension: a file of
     * the new name exists, or the rename failed otherwise. */
    STATUS_CONVERTED_NAME_TAKEN = 9,
    STATUS_NOT_NEEDED_NAME_TAKEN = 10,
    STATUS_CONVERTED_NOT_RENAMED = 11,
    STATUS_NOT_NEEDED_NOT_RENAMED = 12,
};

#define CONVERT_STATUS_COUNT 13

/* The suffix shown after an entry's path, "\n > " and the message; an
 * unknown code gives an empty string. */
const wchar_t *StatusSuffix(int status);

/* Converts the file at path in place; with keepTimes non-zero its three time
 * stamps are put back afterwards. With keepRiffTags non-zero, a file without
 * a leading ID3v2 tag keeps the tags its RIFF holds: an ID3v2 tag leads the
 * MP3 and an ID3v1 block ends it. Returns STATUS_NOT_NEEDED to
 * STATUS_WRITE_FAILED. A file that needs nothing is found so from its head
 * alone, and is never opened for writing. */
int ConvertFile(const wchar_t *path, int keepTimes, int keepRiffTags = 0);

#endif
