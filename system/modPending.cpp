#include "system/modPending.h"

#include <windows.h>

#include <algorithm>

#include "runtime/handles.h"

namespace modPending {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kLists[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// One list, as MoveFileEx keeps it: pairs of NT paths ("\??\C:\..."), source and target,
// each ended by a NUL; an empty target deletes the source.
LONG Read(const wchar_t* list, std::vector<wchar_t>& data)
{
    runtime::UniqueKey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put());
    for (DWORD size = 0, type = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA;) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');  // never empty: the first call only measures
        status = RegQueryValueExW(key.get(), list, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_SUCCESS && size / sizeof(wchar_t) < data.size()) {
            data.resize(size / sizeof(wchar_t));  // as stored: written back, a NUL more would end the list there
            return type == REG_MULTI_SZ ? ERROR_SUCCESS : ERROR_INVALID_DATA;
        }
        if (status == ERROR_SUCCESS) status = ERROR_MORE_DATA;  // grown since it was measured
    }
    return status;
}

// Takes out of DATA the deletions of PATHS, leaving every other character as it was;
// FOUND tells which were there.
void TakeOut(std::vector<wchar_t>& data, const std::vector<std::wstring>& paths, std::vector<bool>& found)
{
    auto names = [](const std::wstring& source, const std::wstring& path) {
        const std::wstring prefix = L"\\??\\";
        return source.compare(0, prefix.size(), prefix) == 0 &&
               lstrcmpiW(source.c_str() + prefix.size(), path.c_str()) == 0;
    };
    found.resize(paths.size());
    size_t at = 0;
    while (at < data.size() && data[at]) {
        const auto sourceEnd = std::find(data.begin() + at, data.end(), L'\0');
        const auto targetEnd = sourceEnd == data.end() ? data.end() : std::find(sourceEnd + 1, data.end(), L'\0');
        if (targetEnd == data.end()) return;  // not a whole pair: left as it is
        const std::wstring source(data.begin() + at, sourceEnd);
        bool named = false;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (targetEnd == sourceEnd + 1 && names(source, paths[i])) found[i] = named = true;
        }
        if (named)
            data.erase(data.begin() + at, targetEnd + 1);
        else
            at = targetEnd + 1 - data.begin();
    }
}

// Takes PATHS' deletions out of LIST; FOUND as TakeOut's.
bool TakeBackFrom(const wchar_t* list, const std::vector<std::wstring>& paths, std::vector<bool>& found)
{
    std::vector<wchar_t> data;
    LONG status = Read(list, data);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    std::vector<bool> here;
    TakeOut(data, paths, here);
    if (std::find(here.begin(), here.end(), true) == here.end()) return true;
    runtime::UniqueKey key;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS) return false;
    // What is left, or no value at all when no rename is.
    if (data.empty() || !data[0]) {
        status = RegDeleteValueW(key.get(), list);
    } else {
        status = RegSetValueExW(key.get(), list, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) return false;
    for (size_t i = 0; i < paths.size(); ++i) found[i] = found[i] || here[i];
    std::vector<bool> left;
    status = Read(list, data);
    if (status == ERROR_SUCCESS) TakeOut(data, paths, left);
    return (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) &&
           std::find(left.begin(), left.end(), true) == left.end();
}

}  // namespace

bool DeletionPending(const std::wstring& aPath)
{
    for (const wchar_t* list : kLists) {
        std::vector<wchar_t> data;
        std::vector<bool> found;
        if (Read(list, data) == ERROR_SUCCESS) TakeOut(data, {aPath}, found);
        if (!found.empty() && found[0]) return true;
    }
    return false;
}

bool TakeBack(const std::vector<std::wstring>& aPaths, std::vector<bool>& aFound)
{
    aFound.assign(aPaths.size(), false);
    bool done = true;
    for (const wchar_t* list : kLists) done = TakeBackFrom(list, aPaths, aFound) && done;
    return done;
}

}  // namespace modPending
