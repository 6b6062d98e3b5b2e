// GoogleTest's main, with standard output in binary mode: plain "\n" line
// ends, so that ctest reads the names of the test cases as they are.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "gtest/gtest.h"

namespace {

// GoogleTest starts a thread that watches the main thread the first time the
// main thread reports, often just before the program ends, and Wine 8 kills a
// process with SIGSEGV when it ends while one of its threads is still
// starting. So that thread is started first, and the tests run once Windows
// has told this program that a thread attached: it has started by then.
HANDLE threadAttached = CreateEventW(nullptr, TRUE, FALSE, nullptr);

void NTAPI OnTls(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) SetEvent(threadAttached);
}

}  // namespace

extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK testMainTlsCallback = OnTls;

int main(int argc, char** argv) {
    { SCOPED_TRACE("starts the watcher thread"); }
    WaitForSingleObject(threadAttached, 10000);
    _setmode(_fileno(stdout), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
