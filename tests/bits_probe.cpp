/*
 * bits_probe.cpp: tells the test scripts whether this machine's Wine runs a
 * program of this build's kind at all, and as what. It prints one line such
 * as "32-bit process, WoW64, CPU AMD EPYC" and exits 0.
 *
 * The CPU's name is there because Wine can run a 32-bit program two ways
 * that look alike from Windows code: in its WoW64 mode on the real
 * processor, or as the 32-bit Wine under qemu-i386, whose emulated
 * processor calls itself "QEMU ...". A test pass that claims to run under
 * qemu can then check that it did not quietly run the other way.
 */
#include <windows.h>
#include <cpuid.h>
#include <stdio.h>
#include <string.h>

/* The processor's brand string, or "unnamed" where it has none. */
static void GetCpuName(char *name, size_t units)
{
    unsigned words[12] = {0};
    unsigned highest = __get_cpuid_max(0x80000000, NULL);
    snprintf(name, units, "unnamed");
    if (highest < 0x80000004)
        return;
    for (unsigned i = 0; i < 3; i++)
        __cpuid(0x80000002 + i, words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]);
    char brand[sizeof words + 1];
    memcpy(brand, words, sizeof words);
    brand[sizeof words] = 0;
    const char *start = brand;
    while (*start == ' ')
        start++;
    snprintf(name, units, "%s", start);
}

int main()
{
    BOOL wow64 = FALSE;
    char cpu[64];
    IsWow64Process(GetCurrentProcess(), &wow64);
    GetCpuName(cpu, sizeof cpu);
    printf("%d-bit process%s, CPU %s\n", (int)(sizeof(void *) * 8), wow64 ? ", WoW64" : "", cpu);
    return 0;
}
