/*
 * convert_status.h: the status codes that tell the user what happened to a
 * file, kept apart from the platform so that the streamed conversion, which
 * builds natively as well, returns the same codes as ConvertFile.
 */
#ifndef KORVANE_CORE_CONVERT_STATUS_H
#define KORVANE_CORE_CONVERT_STATUS_H

/* <windows.h> defines STATUS_NO_MEMORY as an NTSTATUS value; in this program
 * the name belongs to the conversion status below. */
#ifdef STATUS_NO_MEMORY
#undef STATUS_NO_MEMORY
#endif

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

#endif
