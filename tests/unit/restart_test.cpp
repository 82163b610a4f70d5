#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes.h"
#include "system/clsExitWindows.h"

namespace {

// What the privilege steps and the shutdown request were called with.
struct Recorder {
    std::vector<std::string> calls;
    DWORD tokenAccess = 0;
    std::string systemName, privilege;
    bool systemNameNull = false;
    BYTE newState[16]{};
    DWORD bufferLength = 0;
    bool previousZeroed = false;
    UINT flags = 0;
    DWORD reason = 0;
    bool failOpen = false;
} rec;

HANDLE WINAPI FakeCurrentProcess()
{
    rec.calls.push_back("GetCurrentProcess");
    return GetCurrentProcess();
}
BOOL WINAPI FakeOpenToken(HANDLE process, DWORD access, PHANDLE token)
{
    rec.calls.push_back("OpenProcessToken");
    rec.tokenAccess = access;
    if (rec.failOpen) return FALSE;
    return OpenProcessToken(process, access, token);
}
BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR name, PLUID luid)
{
    rec.calls.push_back("LookupPrivilegeValueA");
    rec.systemNameNull = system == nullptr;
    rec.systemName = system ? system : "";
    rec.privilege = name;
    return LookupPrivilegeValueA(system, name, luid);
}
BOOL WINAPI FakeAdjust(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length, PTOKEN_PRIVILEGES previous,
                       PDWORD returned)
{
    rec.calls.push_back(disableAll ? "AdjustTokenPrivileges(disable)" : "AdjustTokenPrivileges");
    std::memcpy(rec.newState, state, sizeof rec.newState);
    rec.bufferLength = length;
    static const BYTE zero[16]{};
    rec.previousZeroed = std::memcmp(previous, zero, 16) == 0;
    return AdjustTokenPrivileges(token, disableAll, state, length, previous, returned);
}
BOOL WINAPI FakeExitWindowsEx(UINT flags, DWORD reason)
{
    rec.calls.push_back("ExitWindowsEx");
    rec.flags = flags;
    rec.reason = reason;
    return TRUE;
}

class Restart : public testing::Test {
protected:
    void SetUp() override
    {
        rec = Recorder{};
        sys::Api& os = sys::api();
        os.GetCurrentProcess = FakeCurrentProcess;
        os.OpenProcessToken = FakeOpenToken;
        os.LookupPrivilegeValueA = FakeLookup;
        os.AdjustTokenPrivileges = FakeAdjust;
        os.ExitWindowsEx = FakeExitWindowsEx;
    }
    test::ApiOverride restore;
};

const std::vector<std::string> kPrivilegeSteps = {"GetCurrentProcess", "OpenProcessToken", "LookupPrivilegeValueA",
                                                  "AdjustTokenPrivileges"};

}  // namespace

TEST_F(Restart, PrivilegeStepsThenTheForcedRequestForEachOption)
{
    for (auto [option, flags] : {std::pair{0L, 4u}, {1L, 5u}, {2L, 7u}, {8L, 12u}}) {
        SCOPED_TRACE(option);
        rec.calls.clear();
        clsExitWindows exitWindows;
        EXPECT_EQ(exitWindows.ExitWindows(option), 0);
        std::vector<std::string> expected = kPrivilegeSteps;
        expected.push_back("ExitWindowsEx");
        EXPECT_EQ(rec.calls, expected);
        EXPECT_EQ(rec.flags, flags);
        EXPECT_EQ(rec.reason, 0xFFFFFFFFu);
    }
    EXPECT_EQ(rec.tokenAccess, 0x28u);
    EXPECT_FALSE(rec.systemNameNull);
    EXPECT_EQ(rec.systemName, "");
    EXPECT_EQ(rec.privilege, "SeShutdownPrivilege");
    EXPECT_EQ(rec.bufferLength, 16u);
    EXPECT_TRUE(rec.previousZeroed);
    LUID luid{};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
    DWORD count, attributes;
    LUID recorded;
    std::memcpy(&count, rec.newState, 4);
    std::memcpy(&recorded, rec.newState + 4, 8);
    std::memcpy(&attributes, rec.newState + 12, 4);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(recorded.LowPart, luid.LowPart);
    EXPECT_EQ(recorded.HighPart, luid.HighPart);
    EXPECT_EQ(attributes, 2u);
}

TEST_F(Restart, UnlistedOptionsOnlyEnableThePrivilege)
{
    for (long option : {3L, 4L, 5L, 6L, 7L, 9L, -1L, 0x7FFFFFFFL}) {
        rec.calls.clear();
        clsExitWindows exitWindows;
        EXPECT_EQ(exitWindows.ExitWindows(option), 0) << option;
        EXPECT_EQ(rec.calls, kPrivilegeSteps) << option;
    }
}

TEST_F(Restart, TwoCallsRepeatEverythingAndFailuresStillReturnSuccess)
{
    clsExitWindows exitWindows;
    exitWindows.ExitWindows(2);
    exitWindows.ExitWindows(2);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "AdjustTokenPrivileges"), 2);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "ExitWindowsEx"), 2);

    rec.calls.clear();
    rec.failOpen = true;  // a user who may not open the token: the steps still run
    EXPECT_EQ(exitWindows.ExitWindows(2), 0);
    std::vector<std::string> expected = kPrivilegeSteps;
    expected.push_back("ExitWindowsEx");
    EXPECT_EQ(rec.calls, expected);
}

TEST_F(Restart, MissingEntryPointReturnsAsFailureWithoutRestarting)
{
    sys::api().AdjustTokenPrivileges = nullptr;
    clsExitWindows exitWindows;
    EXPECT_EQ(exitWindows.ExitWindows(2), runtime::err::EntryPointNotFound);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "ExitWindowsEx"), 0);
}
