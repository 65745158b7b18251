/*
 * settings.h: the five options of the program and their file, settings.ini
 * next to the executable (UTF-16 little-endian with a byte order mark, one
 * "Key=value" line each).
 */
#ifndef KORVANE_SETTINGS_SETTINGS_H
#define KORVANE_SETTINGS_SETTINGS_H

#include <stddef.h>

/* Non-zero means on; a value is written back as it was read. */
struct SettingsRecord {
    int modifyTimes;
    int filterExtension;
    int includeSubDirectory;
    int keepRiffTags;
    int fixExtension;
};

/* Read and written only on the user interface thread. */
extern SettingsRecord Settings;

void SetDefaultSettings(void);

/* 1 when the file was opened, read whole and began with the byte order mark. */
int LoadSettings(const wchar_t *path);

/* Parses the text after the byte order mark, units long, overwriting line
 * ends and equals signs with NUL units. Never reads outside the text.
 * Returns 1 when it reached the end of the text. */
int ParseSettings(wchar_t *text, size_t units);

/* 1 when the file was created; the writes themselves are not checked. */
int SaveSettings(const wchar_t *path);

#endif
