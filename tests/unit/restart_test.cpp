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
    bool notAssigned = false;  // the token lacks the privilege
    DWORD exitError = 0;       // ExitWindowsEx fails with this
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
    BOOL adjusted = AdjustTokenPrivileges(token, disableAll, state, length, previous, returned);
    if (rec.notAssigned) SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return adjusted;
}
BOOL WINAPI FakeExitWindowsEx(UINT flags, DWORD reason)
{
    rec.calls.push_back("ExitWindowsEx");
    rec.flags = flags;
    rec.reason = reason;
    SetLastError(rec.exitError);
    return rec.exitError == 0;
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
        clsExitWindows::Status status = exitWindows.ExitWindows(option);
        EXPECT_EQ(status.error, 0);
        EXPECT_EQ(status.refused, 0u);
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
        clsExitWindows::Status status = exitWindows.ExitWindows(option);
        EXPECT_EQ(status.error + status.refused, 0u) << option;
        EXPECT_EQ(rec.calls, kPrivilegeSteps) << option;
    }
}

TEST_F(Restart, TwoCallsRepeatEverythingAndARefusalIsReported)
{
    clsExitWindows exitWindows;
    exitWindows.ExitWindows(2);
    exitWindows.ExitWindows(2);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "AdjustTokenPrivileges"), 2);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "ExitWindowsEx"), 2);

    // Windows refuses the request itself.
    rec.calls.clear();
    rec.exitError = ERROR_PRIVILEGE_NOT_HELD;
    EXPECT_EQ(exitWindows.ExitWindows(2).refused, static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(rec.calls.back(), "ExitWindowsEx");

    // A token without the privilege, or one that cannot be opened: no shutdown of any
    // kind is asked for, while a log-off, which needs no privilege, still is.
    rec.exitError = 0;
    for (bool open : {true, false}) {
        rec.notAssigned = open;
        rec.failOpen = !open;
        for (long option : {1L, 2L, 8L}) {
            rec.calls.clear();
            clsExitWindows::Status status = exitWindows.ExitWindows(option);
            EXPECT_EQ(status.refused, open ? static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED) : ERROR_INVALID_HANDLE);
            EXPECT_EQ(status.error, 0);
            EXPECT_EQ(rec.calls, kPrivilegeSteps) << option;
        }
        rec.calls.clear();
        EXPECT_EQ(exitWindows.ExitWindows(0).refused, 0u);
        EXPECT_EQ(rec.calls.back(), "ExitWindowsEx");
        EXPECT_EQ(rec.flags, 4u);
    }
}

TEST_F(Restart, MissingEntryPointReturnsAsFailureWithoutRestarting)
{
    sys::api().AdjustTokenPrivileges = nullptr;
    clsExitWindows exitWindows;
    EXPECT_EQ(exitWindows.ExitWindows(2).error, runtime::err::EntryPointNotFound);
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "ExitWindowsEx"), 0);
}
