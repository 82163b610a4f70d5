#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/desktop.h"
#include "system/api.h"

namespace test {

struct Message {
    std::wstring text;
    UINT style;
    std::wstring title;
};

// Answers every message box with a chosen button and records it; records the end
// of the program instead of ending the test.
class RecordingDesktop final : public runtime::Desktop {
public:
    RecordingDesktop() : override_(*this) {}
    int ShowMessage(const std::wstring& text, UINT style, const std::wstring& title) override
    {
        messages.push_back({text, style, title});
        return answer;
    }
    void EndProgram() override { ++ends; }

    std::vector<Message> messages;
    int answer = IDOK;
    int ends = 0;

private:
    runtime::DesktopOverride override_;
};

// Puts a changed copy of the system call table in place for one test.
class ApiOverride {
public:
    ApiOverride() : saved_(sys::api()) {}
    ~ApiOverride() { sys::api() = saved_; }
    ApiOverride(const ApiOverride&) = delete;
    ApiOverride& operator=(const ApiOverride&) = delete;

private:
    sys::Api saved_;
};

// A key below ROOT\Software for one test, deleted with everything under it afterwards.
class ScratchKey {
public:
    explicit ScratchKey(const std::wstring& name, HKEY root = HKEY_CURRENT_USER);
    ~ScratchKey();
    HKEY root;
    std::wstring path;  // relative to root
};

// A CBT hook on this thread for one test: SEE is told of each window being made
// (HCBT_CREATEWND) or destroyed (HCBT_DESTROYWND), and refuses it by returning true.
class CbtHook {
public:
    explicit CbtHook(std::function<bool(int code, HWND hwnd)> see);
    ~CbtHook();
    CbtHook(const CbtHook&) = delete;
    CbtHook& operator=(const CbtHook&) = delete;

private:
    static LRESULT CALLBACK Procedure(int code, WPARAM wParam, LPARAM lParam);
    std::function<bool(int, HWND)> see_;
    HHOOK hook_;
};

// Replaces the access list of ROOT\PATH with the one SDDL states ("D:P(A;;KR;;;WD)":
// read only, for everyone) and puts back, when it goes or on Restore, exactly the one
// it read before the change. status is ERROR_SUCCESS once the new list is in place.
class KeyDacl {
public:
    KeyDacl(HKEY root, std::wstring path, const wchar_t* sddl);
    ~KeyDacl() { Restore(); }
    KeyDacl(const KeyDacl&) = delete;
    KeyDacl& operator=(const KeyDacl&) = delete;
    // ERROR_SUCCESS once the list found is back, or when nothing was changed.
    LONG Restore();
    LONG status;

private:
    HKEY root_;
    std::wstring path_;
    std::vector<BYTE> found_;  // self-relative security descriptor; empty once restored
};

// A suspended copy of this executable (or of the program FROM) started as IMAGE: a
// process with that image that runs none of its code. Ended, and its file deleted,
// when the copy goes.
struct RunningCopy {
    explicit RunningCopy(const std::wstring& image, const std::wstring& from = L"");
    ~RunningCopy();
    RunningCopy(const RunningCopy&) = delete;
    RunningCopy& operator=(const RunningCopy&) = delete;
    bool Alive() const { return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }
    std::wstring image;
    PROCESS_INFORMATION process{};
};

// The access list of ROOT\PATH in SDDL; "" when it cannot be read.
std::wstring DaclText(HKEY root, const std::wstring& path);

// Reads a value's type and raw bytes; false when it is missing.
bool ReadValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::string& bytes);

// Whether this process's token has the debug privilege enabled; switches it off.
bool DebugPrivilegeEnabled();
void DisableDebugPrivilege();

// The handle number the next registry open receives. Wine hands out the lowest free
// slot, so a handle that a routine left open shows up as a different number here.
ULONG_PTR NextKeyHandle();

}  // namespace test
