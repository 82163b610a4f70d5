#pragma once
#include <utility>

#include "runtime/handles.h"
#include "window/frmMain.h"

namespace workflow {

inline constexpr wchar_t OwnRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The worm's values sit under the same Run keys. No leading backslash: the NT family
// refuses such a path (ERROR_BAD_PATHNAME) and the values would survive.
inline constexpr wchar_t WormRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t OwnRunValue[] = L"Zelvy Remover";
inline constexpr wchar_t WormRunValue[] = L"TrayX";
inline constexpr wchar_t WormFile[] = L"winppr32.exe";
inline constexpr wchar_t FlagSection[] = L"BOOTED";
inline constexpr wchar_t FlagKey[] = L"Value";
// Beside the flag, "1" where the first phase made the copy under Program Files, and
// its folder, for the second to delete.
inline constexpr wchar_t CopyKey[] = L"Copy";
inline constexpr wchar_t CopyFolderKey[] = L"Folder";
inline constexpr wchar_t HomePage[] = L"http://www.kestrova.example/";

// The handlers of the main window, which carry the two runs of the removal: the
// first registers the program for the next logon, deletes the worm's start-up
// values and restarts Windows; the second, started at logon, deletes the worm's file.
class Removal final : public window::frmMainEvents {
public:
    // IMAGE: the program's own file, held open since the start (runtime::app::OpenImage).
    explicit Removal(runtime::UniqueHandle image) : image_(std::move(image)) {}

    void Form_Load(window::frmMain& form) override;
    void cmdBegin_Click(window::frmMain& form) override;
    void cmdExit_Click(window::frmMain& form) override;
    void Label7_Click(window::frmMain& form) override;
    void Form_EndSession(window::frmMain& form, bool ending) override;

private:
    void Complete(window::frmMain& form);

    runtime::UniqueHandle image_;
    bool restartAsked_ = false;  // Windows has taken this program's request to restart
};

}  // namespace workflow
