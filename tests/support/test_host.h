// A host for tests: message boxes are noted instead of shown, the end of the
// program becomes an exception that the test catches, and the executable's
// folder is whatever the test says.
#pragma once

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "host/host.h"

namespace testing_support {

struct ProgramEnded {
    int exitCode;
};

struct ShownMessage {
    std::wstring text;
    int style;
    std::wstring title;
    std::wstring state;  // what the test noted about the program when the box came up
};

class TestHost final : public host::Host {
public:
    explicit TestHost(std::wstring appPath) : appPath_(std::move(appPath)), previous_(host::SetHost(this)) {}
    ~TestHost() override { host::SetHost(previous_); }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    int MsgBox(const std::wstring& text, int style, const std::wstring& title) override {
        messages.push_back(ShownMessage{text, style, title, noteState ? noteState() : std::wstring()});
        if (msgBoxRunsOutOfMemory) throw std::bad_alloc();
        return answer ? answer() : host::kOk;
    }
    [[noreturn]] void End(int exitCode) override { throw ProgramEnded{exitCode}; }
    std::wstring AppPath() override {
        if (appPathRunsOutOfMemory) throw std::bad_alloc();
        return appPath_;
    }

    bool HasAdministratorRights() override { return administrator; }
    bool BeforeVista() override { return beforeVista; }

    std::vector<ShownMessage> messages;
    std::function<std::wstring()> noteState;
    // The button the person presses; OK when not set.
    std::function<int()> answer;
    bool msgBoxRunsOutOfMemory = false;
    // Finding the executable's folder allocates, as every string does.
    bool appPathRunsOutOfMemory = false;
    // What HasAdministratorRights tells.
    bool administrator = true;
    // What BeforeVista tells: Windows 10 unless a test says XP.
    bool beforeVista = false;

private:
    std::wstring appPath_;
    host::Host* previous_;
};

}  // namespace testing_support
