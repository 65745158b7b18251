/*
 * bits_probe.cpp: tells the test scripts whether this machine's Wine runs a
 * program of this build's kind at all, and as what. It prints one line such
 * as "32-bit process, WoW64" and exits 0.
 */
#include <windows.h>
#include <stdio.h>

int main()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    printf("%d-bit process%s\n", (int)(sizeof(void *) * 8), wow64 ? ", WoW64" : "");
    return 0;
}
