// Runs tarquelin.exe and its references in turn, RUNS times each after one warm-up
// round, and prints for each of its two runs the median time from process start to
// the first visible window and the median peak working set, against a bare window or
// message box with and without tarquelin.exe's manifest, and a bare window with the
// manifest and one push button (the manifest alone loads nothing for a window without
// controls; the button brings in the themed common controls that the program's own
// controls need); and for its unattended run on a clean machine (/Q), the time from
// start to exit and the peak working set against a bare program, with the manifest,
// that starts and exits:
//   meter RUNS
// The programs are taken from the meter's own folder. Before each run after the
// restart the flag is set to "1", as the first phase leaves it; before each /Q run, to
// "0", as the completion leaves it. The quartiles of each
// program's times show how far its runs spread.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Sample {
    double ms;
    double peakKb;
};

struct Case {
    const wchar_t* exe;
    const wchar_t* cls;  // of the window that counts as "visible"; none: until it exits
    const wchar_t* title;
    const wchar_t* flag;  // set before each run, when given
    const wchar_t* arguments;
    std::vector<Sample> samples;
};

std::wstring Folder()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

bool SetFlag(const wchar_t* value)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrova Zelvy Remover\\BOOTED", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, L"Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 2 * sizeof(wchar_t));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool Run(Case& c, const std::wstring& folder)
{
    if (c.flag && !SetFlag(c.flag)) return false;
    std::wstring command = L"\"" + folder + c.exe + L"\"" + c.arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    if (!c.cls) {  // until it exits; its peak read as it runs, and once more at the end
        PROCESS_MEMORY_COUNTERS counters{};
        SIZE_T peak = 0;
        do {
            if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters))
                peak = std::max(peak, counters.PeakWorkingSetSize);
        } while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT);
        QueryPerformanceCounter(&now);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (code != 0 || peak == 0) return false;  // not a clean run, or nothing read of it
        c.samples.push_back({1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                             double(peak) / 1024.0});
        return true;
    }
    HWND hwnd = nullptr;
    for (int i = 0; i < 60000 && !(hwnd && IsWindowVisible(hwnd)); ++i) {
        hwnd = FindWindowW(c.cls, c.title);
        if (!(hwnd && IsWindowVisible(hwnd))) Sleep(1);
    }
    QueryPerformanceCounter(&now);
    bool seen = hwnd && IsWindowVisible(hwnd);
    if (seen) {
        Sleep(300);  // let it settle before reading its peak
        PROCESS_MEMORY_COUNTERS counters{};
        GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters);
        c.samples.push_back({1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                             double(counters.PeakWorkingSetSize) / 1024.0});
    }
    // Ended, not closed: on Xvfb, where no window manager runs, Wine waits 2 s for each
    // closed window to be withdrawn, and the starts measured after such closes came out
    // slower and noisier. A run has done all its work by the time its window shows.
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return seen;
}

// Linear between the two nearest samples: at 0.5 the median, at 0.25 and 0.75 the quartiles.
double Quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    double position = q * double(v.size() - 1);
    size_t below = size_t(position);
    if (below + 1 == v.size()) return v[below];
    return v[below] + (position - double(below)) * (v[below + 1] - v[below]);
}

double Quantile(const Case& c, double Sample::*field, double q)
{
    std::vector<double> v;
    for (const Sample& s : c.samples) v.push_back(s.*field);
    return Quantile(v, q);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int runs = argc > 1 ? _wtoi(argv[1]) : 10;
    if (runs < 1) return 2;
    const std::wstring folder = Folder();
    // Each group: the program's run first, then its references.
    std::vector<Case> window = {
        {L"tarquelin.exe", L"KestrovaZelvyRemover", L"Kestrova Zelvy Remover", nullptr, L"", {}},
        {L"bare_window.exe", L"BareWindow", L"Bare window", nullptr, L"", {}},
        {L"bare_window_manifest.exe", L"BareWindow", L"Bare window", nullptr, L"", {}},
        {L"bare_button.exe", L"BareWindow", L"Bare window", nullptr, L"", {}},
    };
    std::vector<Case> completion = {
        {L"tarquelin.exe", L"#32770", L"Eliminación completada.", L"1", L"", {}},
        {L"bare_message.exe", L"#32770", L"Bare message", nullptr, L"", {}},
        {L"bare_message_manifest.exe", L"#32770", L"Bare message", nullptr, L"", {}},
    };
    std::vector<Case> unattended = {
        {L"tarquelin.exe", nullptr, nullptr, L"0", L" /Q", {}},
        {L"bare_exit_manifest.exe", nullptr, nullptr, nullptr, L"", {}},
    };
    std::vector<Case>* groups[] = {&window, &completion, &unattended};
    for (auto* group : groups)
        for (Case& c : *group) {
            if (!Run(c, folder)) return 1;  // warm-up round: loads every DLL once
            c.samples.clear();
        }
    for (int i = 0; i < runs; ++i)
        for (auto* group : groups)
            // Rotate the order, so that none always follows another.
            for (size_t k = 0; k < group->size(); ++k)
                if (!Run((*group)[(i + k) % group->size()], folder)) return 1;

    const char* names[] = {"start to main window", "start to completion", "/Q on a clean machine, start to exit"};
    for (int g = 0; g < 3; ++g) {
        const std::vector<Case>& c = *groups[g];
        std::printf("%s\n", names[g]);
        for (size_t k = 1; k < c.size(); ++k) {
            double ms = Quantile(c[0], &Sample::ms, 0.5), refMs = Quantile(c[k], &Sample::ms, 0.5);
            double kb = Quantile(c[0], &Sample::peakKb, 0.5), refKb = Quantile(c[k], &Sample::peakKb, 0.5);
            std::printf("  vs %-26ls %7.1f ms / %7.1f ms  ratio %.3f   %6.0f KB / %6.0f KB  ratio %.3f\n", c[k].exe,
                        ms, refMs, ms / refMs, kb, refKb, kb / refKb);
        }
        // How far one program's own runs spread: on a shared host often wider than a target.
        std::printf("  quartiles of the times:");
        for (const Case& one : c)
            std::printf(" %ls %.1f-%.1f ms%s", one.exe, Quantile(one, &Sample::ms, 0.25),
                        Quantile(one, &Sample::ms, 0.75), &one == &c.back() ? "\n" : ",");
    }
    // Its peak working set against the window run's, which it must not pass.
    const double quietKb = Quantile(unattended[0], &Sample::peakKb, 0.5), windowKb = Quantile(window[0], &Sample::peakKb, 0.5);
    std::printf("/Q peak working set %.0f KB vs the window run's %.0f KB  ratio %.3f\n", quietKb, windowKb,
                quietKb / windowKb);
    return 0;
}
