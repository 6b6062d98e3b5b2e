#include <windows.h>
#include <sddl.h>

#include <optional>

#include "gtest/gtest.h"
#include "host/single_instance.h"
#include "runtime/handles.h"

namespace {

constexpr wchar_t kName[] = L"Global\\ActualizadorCorrectorGalegoProba";

// A mutex of the name owned by the SID, as any user may make one.
runtime::KernelObject MutexOwnedBy(const wchar_t* sidText) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(sidText, &sid)) return {};
    const runtime::LocalMemory owned(sid);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, sid, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    return runtime::KernelObject(CreateMutexW(&attributes, FALSE, kName));
}

}  // namespace

TEST(SingleInstance, OnlyAMutexOfSystemOrTheAdministratorsIsAnotherCopy) {
    enum class Holder { kNothing, kCopy, kEvent, kMutex };
    const struct {
        const char* how;
        Holder holder;
        const wchar_t* owner;
        bool first;
    } cases[] = {
        {"nothing", Holder::kNothing, nullptr, true},
        {"another copy", Holder::kCopy, nullptr, false},
        {"a copy running as SYSTEM", Holder::kMutex, L"S-1-5-18", false},
        {"an event", Holder::kEvent, nullptr, true},
        {"a mutex of the Users group", Holder::kMutex, L"S-1-5-32-545", true},
        {"a mutex of a user", Holder::kMutex, L"S-1-5-21-1-2-3-1001", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        std::optional<host::SingleInstance> copy;
        runtime::KernelObject other;
        if (c.holder == Holder::kCopy) copy.emplace(kName);
        if (c.holder == Holder::kEvent) other.Reset(CreateEventW(nullptr, TRUE, FALSE, kName));
        if (c.holder == Holder::kMutex) other = MutexOwnedBy(c.owner);
        ASSERT_EQ(c.holder == Holder::kEvent || c.holder == Holder::kMutex, static_cast<bool>(other));
        EXPECT_EQ(c.first, host::SingleInstance(kName).First());
    }
}
