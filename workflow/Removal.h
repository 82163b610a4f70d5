#pragma once
#include <utility>

#include "runtime/handles.h"
#include "runtime/log.h"
#include "window/frmMain.h"
#include "workflow/Steps.h"

namespace workflow {

inline constexpr wchar_t HomePage[] = L"http://www.kestrova.example/";

// The handlers of the main window, which carry the two runs of the removal: the
// first registers the program for the next logon, deletes the worm's start-up
// values and restarts Windows; the second, started at logon, deletes the worm's file.
class Removal final : public window::frmMainEvents {
public:
    // IMAGE: the program's own file, held open since the start (runtime::app::OpenImage).
    // LOG: where the steps are told, when the run keeps a log.
    Removal(runtime::UniqueHandle image, runtime::Log& log) : image_(std::move(image)), log_(log) {}

    void Form_Load(window::frmMain& form) override;
    void cmdBegin_Click(window::frmMain& form) override;
    void cmdExit_Click(window::frmMain& form) override;
    void Label7_Click(window::frmMain& form) override;
    void Form_EndSession(window::frmMain& form, bool ending) override;

private:
    void Complete(window::frmMain& form);

    runtime::UniqueHandle image_;
    runtime::Log& log_;
    bool restartAsked_ = false;  // Windows has taken this program's request to restart
};

}  // namespace workflow
