// The machine's queue of renames for the next restart, as a test leaves it:
// what the test queued is taken out again and the files it names deleted.
#pragma once

#include <string>
#include <vector>

#include "update/restart_queue.h"

namespace testing_support {

class RestartQueueSandbox {
public:
    RestartQueueSandbox() : saved_(update::QueuedRenames()) {}
    ~RestartQueueSandbox() { Restore(); }
    RestartQueueSandbox(const RestartQueueSandbox&) = delete;
    RestartQueueSandbox& operator=(const RestartQueueSandbox&) = delete;

    // The queue's strings now, in order: source, destination, ...
    static std::vector<std::wstring> Queued() { return update::QueuedRenames(); }
    // Puts the queue back as it was and deletes what was queued since.
    void Restore();

private:
    std::vector<std::wstring> saved_;
};

}  // namespace testing_support
