/* resource.h: identifiers shared by the resource script and the code. */
#ifndef KORVANE_RES_RESOURCE_H
#define KORVANE_RES_RESOURCE_H

#define IDI_MAIN 128
#define IDD_MAIN 129

#define IDC_ENTRY_LIST    1001
#define IDC_KEEP_TIMES    1002
#define IDC_FILTER_MP3    1003
#define IDC_SUBFOLDERS    1004
#define IDC_KEEP_TAGS     1005
#define IDC_FIX_EXTENSION 1006

#endif
