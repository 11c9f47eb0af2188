#pragma once
// What a test cannot do as a Windows program: FIFOs, device nodes, symbolic links, memory limits
// and mounts are POSIX. The test says so in its output instead of passing silently.
#include <QtTest>

#ifdef Q_OS_WIN
#define SKIP_ON_WINDOWS(why) QSKIP("not on Windows: " why)
#else
#define SKIP_ON_WINDOWS(why)                                                                       \
    do {                                                                                           \
    } while (false)
#endif
