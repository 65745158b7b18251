/*
 * convert.h: converting one file on disk, its new content put in its place in
 * one step, and the status codes that tell the user what happened to it.
 */
#ifndef KORVANE_CORE_CONVERT_H
#define KORVANE_CORE_CONVERT_H

#include <stdint.h>
#include <windows.h>

#include "convert_status.h"

/* The suffix shown after an entry's path, "\n > " and the message; an
 * unknown code gives an empty string. */
const wchar_t *StatusSuffix(int status);

/* Converts the file at path: the new content is written into a hidden
 * temporary file in the same folder and then takes the file's place, so a
 * conversion cut off at any instant leaves the old file or the new one
 * there. With keepTimes non-zero its three time stamps are put back
 * afterwards. With keepRiffTags non-zero, a file without
 * a leading ID3v2 tag keeps the tags its RIFF holds: an ID3v2 tag leads the
 * MP3 and an ID3v1 block ends it. Returns STATUS_NOT_NEEDED to
 * STATUS_WRITE_FAILED. A file that needs nothing is found so from its head
 * alone, and is never opened for writing. */
int ConvertFile(const wchar_t *path, int keepTimes, int keepRiffTags = 0);

/* A HeadReader over a file handle (context): reads at an offset without
 * moving the file position; returns the bytes read, 0 on failure. */
uint32_t ReadFileAt(void *context, uint64_t offset, unsigned char *out, uint32_t count);

#endif
