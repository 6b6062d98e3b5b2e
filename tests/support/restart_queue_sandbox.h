// The machine's queue of renames for the next restart, as a test leaves it:
// both values get their bytes back, the files queued since are deleted, and
// the queue's Windows calls are the program's own again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/restart_queue.h"

namespace testing_support {

inline constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
inline constexpr wchar_t kPendingRenames2[] = L"PendingFileRenameOperations2";

class RestartQueueSandbox {
public:
    RestartQueueSandbox()
        : saved_{Value(kPendingRenames), Value(kPendingRenames2)}, queued_(Queued()), calls_(update::QueueCallsInUse()) {}
    ~RestartQueueSandbox() { Restore(); }
    RestartQueueSandbox(const RestartQueueSandbox&) = delete;
    RestartQueueSandbox& operator=(const RestartQueueSandbox&) = delete;

    // The queue's strings now, in order: source, destination, ...
    static std::vector<std::wstring> Queued() { return update::QueuedRenames(); }
    // A value's bytes as stored, whatever their shape; none when it is absent.
    static std::optional<std::string> Value(const wchar_t* name);
    // The bytes of strings, each closed by its NUL: a value's raw form.
    static std::string Bytes(const std::vector<std::wstring>& strings);
    // Stores bytes as a REG_MULTI_SZ value, as they are; none removes it.
    static void SetValue(const wchar_t* name, const std::optional<std::string>& bytes);
    // Puts the queue back as it was and deletes what was queued since.
    void Restore();

private:
    std::optional<std::string> saved_[2];
    std::vector<std::wstring> queued_;
    update::QueueCalls calls_;
};

}  // namespace testing_support
