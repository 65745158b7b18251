/*
 * extension.h: giving a file of plain MPEG audio the extension of its layer,
 * so that players which choose by the name (.wav means PCM to them) take it.
 */
#ifndef KORVANE_CORE_EXTENSION_H
#define KORVANE_CORE_EXTENSION_H

#include <windows.h>

enum {
    EXTENSION_CHANGED,     /* renamed: newPath names the file now */
    EXTENSION_FITS,        /* the name already ends in an MPEG audio extension */
    EXTENSION_NAME_TAKEN,  /* a file of the new name exists; nothing was replaced */
    EXTENSION_NOT_CHANGED, /* the layer could not be told, the new path would not
                            * fit, or the rename failed otherwise */
};

/* Renames the file at path (shorter than MAX_PATH) in its folder to the
 * extension of the layer of its first frame: .mp3 for Layer III, .mp2 for
 * Layer II, .mp1 for Layer I. The base name is kept exactly; a name without
 * an extension gains one. Never replaces a file. With keepAccessTime
 * non-zero, the file's last-access time is put back after its head has been
 * read. */
int FitExtension(const wchar_t *path, int keepAccessTime, wchar_t newPath[MAX_PATH]);

#endif
