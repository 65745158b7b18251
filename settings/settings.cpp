/*
 * settings.cpp: loading, parsing and saving settings.ini.
 *
 * Every failure is silent: a missing, unreadable or mark-less file leaves
 * the defaults in force, and an unwritable directory just means the options
 * are not remembered. The parser works only inside the units it is given,
 * because the text is whatever somebody left in the file.
 */
#include "settings.h"

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

SettingsRecord Settings;

#define BYTE_ORDER_MARK 0xFEFF

struct SettingsKey {
    const wchar_t *name;
    int *field;
};

/* Also the order in which the file is written. A file of an older version
 * lacks the later keys, which then keep their defaults. */
static const SettingsKey kKeys[] = {
    {L"ModifyTimes", &Settings.modifyTimes},
    {L"FilterExtension", &Settings.filterExtension},
    {L"IncludeSubDirectory", &Settings.includeSubDirectory},
    {L"KeepRiffTags", &Settings.keepRiffTags},
    {L"FixExtension", &Settings.fixExtension},
};

void SetDefaultSettings(void)
{
    Settings.modifyTimes = 0;
    Settings.filterExtension = 1;
    Settings.includeSubDirectory = 1;
    Settings.keepRiffTags = 1;
    Settings.fixExtension = 1;
}

/* Length up to the first NUL unit, but never beyond units. */
static size_t BoundedLength(const wchar_t *text, size_t units)
{
    size_t length = 0;
    while (length < units && text[length] != 0)
        length++;
    return length;
}

static int KeyEquals(const wchar_t *key, size_t units, const wchar_t *name)
{
    size_t length = BoundedLength(key, units);
    return length == wcslen(name) && wmemcmp(key, name, length) == 0;
}

/* Converts as wcstol with base 0 does. The value may run to the very end of
 * the text with no terminator behind it, so it is converted from a copy. */
static int ConvertValue(const wchar_t *value, size_t units, int *result)
{
    size_t length = BoundedLength(value, units);
    wchar_t *copy = (wchar_t *)malloc((length + 1) * sizeof(wchar_t));
    if (copy == NULL)
        return 0;
    wmemcpy(copy, value, length);
    copy[length] = 0;
    *result = (int)wcstol(copy, NULL, 0);
    free(copy);
    return 1;
}

static void ApplyLine(const wchar_t *key, size_t keyUnits, const wchar_t *value, size_t valueUnits)
{
    for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; i++) {
        if (KeyEquals(key, keyUnits, kKeys[i].name)) {
            int converted;
            if (ConvertValue(value, valueUnits, &converted))
                *kKeys[i].field = converted;
            return;
        }
    }
}

int ParseSettings(wchar_t *text, size_t units)
{
    size_t start = 0;
    while (start < units && text[start] != 0) {
        size_t lineEnd = start;
        while (lineEnd < units && text[lineEnd] != L'\r')
            lineEnd++;
        /* A last line without CR ends where the text ends. */
        if (lineEnd < units)
            text[lineEnd] = 0;
        size_t equals = start;
        while (equals < lineEnd && text[equals] != L'=')
            equals++;
        /* A line without "=" is skipped. */
        if (equals < lineEnd) {
            text[equals] = 0;
            ApplyLine(text + start, equals - start, text + equals + 1, lineEnd - equals - 1);
        }
        /* The unit after a CR is taken to be LF and skipped unexamined. */
        start = lineEnd + 2;
    }
    return start >= units ? 1 : 0;
}

int LoadSettings(const wchar_t *path)
{
    int result = 0;
    wchar_t *text = NULL;
    DWORD sizeHigh = 0, bytesRead = 0;
    size_t units;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;

    DWORD size = GetFileSize(file, &sizeHigh);
    if (size == INVALID_FILE_SIZE || sizeHigh != 0)
        goto cleanup;
    /* An odd last byte is dropped. */
    units = size / 2;
    if (units >= SIZE_MAX / sizeof(wchar_t))
        goto cleanup;
    text = (wchar_t *)malloc((units + 1) * sizeof(wchar_t));
    if (text == NULL)
        goto cleanup;
    if (!ReadFile(file, text, (DWORD)(units * sizeof(wchar_t)), &bytesRead, NULL) ||
        bytesRead != units * sizeof(wchar_t))
        goto cleanup;
    text[units] = 0;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;

    if (units == 0 || text[0] != BYTE_ORDER_MARK)
        goto cleanup;
    ParseSettings(text + 1, units - 1);
    result = 1;
cleanup:
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    free(text);
    return result;
}

int SaveSettings(const wchar_t *path)
{
    const wchar_t mark = BYTE_ORDER_MARK;
    DWORD written;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    WriteFile(file, &mark, sizeof mark, &written, NULL);
    for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; i++) {
        wchar_t line[64];
        int length = _snwprintf(line, 64, L"%s=%d\r\n", kKeys[i].name, *kKeys[i].field);
        if (length > 0 && length < 64)
            WriteFile(file, line, (DWORD)(length * sizeof(wchar_t)), &written, NULL);
    }
    CloseHandle(file);
    return 1;
}
