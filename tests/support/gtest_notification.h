// GoogleTest's Notification is built on std::mutex, which the win32 thread
// model of this compiler does not have; this one is built on a Windows event.
// (The program uses the win32 thread model so that it needs nothing newer
// than Windows XP; the posix model's thread library calls GetTickCount64.)
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
