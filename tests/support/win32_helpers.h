// Small helpers shared by the Windows tests and benchmarks that run under Wine.
#pragma once
#include <windows.h>

#include <string>

namespace win32test {

// A Unix path as Windows programs under Wine see it: backslashes, served on drive Z:.
inline std::string WindowsPath(std::string path)
{
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    return path[0] == '\\' ? "Z:" + path : path;
}

// CPU time this process has used so far, kernel and user, in milliseconds.
inline ULONGLONG ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &f) {
        return ((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000;
    };
    return ms(kernel) + ms(user);
}

// Bytes in use on the process heap, where Wine's own DLLs allocate.
inline long long HeapBusy()
{
    long long busy = 0;
    HANDLE heap = GetProcessHeap();
    HeapLock(heap);
    PROCESS_HEAP_ENTRY e = {};
    while (HeapWalk(heap, &e))
        if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            busy += static_cast<long long>(e.cbData);
    HeapUnlock(heap);
    return busy;
}

}  // namespace win32test
