#include <windows.h>

#include "gtest/gtest.h"
#include "host/event_log.h"
#include "host/exit_codes.h"

// Administrators filter on these: an ID and a type per exit code, never changed.
TEST(EventForRun, EachExitCodeHasItsStableIdAndType) {
    constexpr WORD kInformation = EVENTLOG_INFORMATION_TYPE;
    constexpr WORD kWarning = EVENTLOG_WARNING_TYPE;
    constexpr WORD kError = EVENTLOG_ERROR_TYPE;
    const struct {
        int exitCode;
        DWORD id;
        WORD type;
    } events[] = {
        {0, 100, kInformation}, {1, 101, kError},   {2, 102, kWarning},    {3, 103, kError},
        {4, 104, kInformation}, {5, 105, kWarning}, {7, 107, kError},      {8, 108, kError},
        {1618, 118, kWarning},  {1639, 139, kError}, {3010, 130, kWarning},
    };
    host::NoteForEvent(L"Cartafol de correcci\u00F3n: C:\\PROOF");
    for (const auto& expected : events) {
        SCOPED_TRACE(expected.exitCode);
        const host::RunEvent event = host::EventForRun(expected.exitCode, host::ExitCodeMeaning(expected.exitCode));
        EXPECT_EQ(expected.id, event.id);
        EXPECT_EQ(expected.type, event.type);
        EXPECT_EQ(L"Remata co c\u00F3digo " + std::to_wstring(expected.exitCode) + L": " +
                      host::ExitCodeMeaning(expected.exitCode) + L"\r\nCartafol de correcci\u00F3n: C:\\PROOF",
                  event.text);
    }
}
