/*
 * crash_exit.cpp: linked into every Windows test program. A fault (an access
 * violation on a guard page, say) must fail the test program at once; left
 * alone, Wine would start its debugger, which waits for somebody forever.
 */
#include <windows.h>
#include <stdio.h>

#include <gtest/gtest.h>

static LONG WINAPI ReportFault(EXCEPTION_POINTERS *info)
{
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    fprintf(stderr, "%s.%s: exception 0x%08lx at %p\n",
            test != NULL ? test->test_suite_name() : "-", test != NULL ? test->name() : "-",
            (unsigned long)info->ExceptionRecord->ExceptionCode,
            info->ExceptionRecord->ExceptionAddress);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

static int InstallFaultReport()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportFault);
    return 0;
}

static const int faultReportInstalled = InstallFaultReport();
