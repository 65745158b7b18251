/*
 * version.h: the program's version, written here and nowhere else. The
 * resource script shows it on the file's properties page; the package
 * script names the archive after it and puts it into the user guide.
 */
#ifndef KORVANE_RES_VERSION_H
#define KORVANE_RES_VERSION_H

#define KORVANE_VERSION_MAJOR 1
#define KORVANE_VERSION_MINOR 2
#define KORVANE_VERSION_PATCH 0

/* "1.0.0", made from the numbers above so the two can't disagree. */
#define KORVANE_STRINGIZE_(x) #x
#define KORVANE_STRINGIZE(x)  KORVANE_STRINGIZE_(x)
#define KORVANE_VERSION_TEXT                                                                       \
    KORVANE_STRINGIZE(KORVANE_VERSION_MAJOR)                                                       \
    "." KORVANE_STRINGIZE(KORVANE_VERSION_MINOR) "." KORVANE_STRINGIZE(KORVANE_VERSION_PATCH)

#endif
