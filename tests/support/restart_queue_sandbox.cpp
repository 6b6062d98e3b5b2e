#include "tests/support/restart_queue_sandbox.h"

#include <windows.h>

#include <algorithm>

namespace testing_support {

void RestartQueueSandbox::Restore() {
    for (const std::wstring& queued : Queued()) {
        if (queued.starts_with(L"\\??\\") && std::ranges::find(saved_, queued) == saved_.end()) {
            DeleteFileW(queued.substr(4).c_str());
        }
    }
    update::SetQueuedRenames(saved_);
}

}  // namespace testing_support
