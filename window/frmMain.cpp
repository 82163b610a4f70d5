#include "window/frmMain.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "runtime/desktop.h"
#include "runtime/errors.h"
#include "system/api.h"
#include "window/layout.h"
#include "window/resource.h"

namespace window {
namespace {

constexpr wchar_t kClassName[] = L"KestrovaZelvyRemover";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;

ATOM RegisterClassOnce(HINSTANCE instance, WNDPROC procedure)
{
    static ATOM atom = [instance, procedure] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc);
    }();
    return atom;
}

// The calls for per-monitor DPI come with Windows 10 1607; before it, the system DPI
// of the screen holds for every window.
template <typename Fn>
Fn User32(const char* name)
{
    return sys::Proc<Fn>(GetModuleHandleW(L"user32.dll"), name);
}

UINT DpiOf(HWND hwnd)
{
    if (auto forWindow = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow")) return forWindow(hwnd);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

int Metric(int index, UINT dpi)
{
    auto forDpi = User32<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

// The window rectangle around the stored client area at DPI, moved by the least that
// brings it inside the work area of its monitor.
RECT Frame(UINT dpi)
{
    const int x = layout::Pixels(layout::ClientOrigin.x, dpi), y = layout::Pixels(layout::ClientOrigin.y, dpi);
    RECT frame{x, y, x + layout::Pixels(layout::ClientSize.cx, dpi), y + layout::Pixels(layout::ClientSize.cy, dpi)};
    if (auto forDpi = User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi"))
        forDpi(&frame, kStyle, FALSE, kExStyle, dpi);
    else
        AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST), &monitor)) return frame;
    const RECT& work = monitor.rcWork;
    // Past the right or bottom edge: back in; a window larger than the work area keeps
    // its top left corner, and with it the caption, on the screen.
    LONG dx = std::min(0L, work.right - frame.right), dy = std::min(0L, work.bottom - frame.bottom);
    dx = std::max(dx, work.left - frame.left);
    dy = std::max(dy, work.top - frame.top);
    OffsetRect(&frame, dx, dy);
    return frame;
}

runtime::UniqueFont MakeFont(layout::Font font, UINT dpi)
{
    return runtime::UniqueFont(CreateFontW(layout::FontHeight(font, dpi), 0, 0, 0,
                                           font == layout::Font::Bold ? FW_BOLD : FW_NORMAL, FALSE,
                                           font == layout::Font::Underlined, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

runtime::UniqueIcon LoadProgramIcon(HINSTANCE instance, int metricX, int metricY, UINT dpi)
{
    return runtime::UniqueIcon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                             Metric(metricX, dpi), Metric(metricY, dpi), 0)));
}

// BANNER drawn at SIZE by halftone stretching, which keeps its edges smooth at any scale.
runtime::UniqueBitmap Stretched(HBITMAP banner, SIZE size)
{
    BITMAP source{};
    GetObjectW(banner, sizeof source, &source);
    HDC screen = GetDC(nullptr);
    runtime::UniqueBitmap out(CreateCompatibleBitmap(screen, size.cx, size.cy));
    HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldFrom = SelectObject(from, banner), oldTo = SelectObject(to, out.get());
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);
    StretchBlt(to, 0, 0, size.cx, size.cy, from, 0, 0, source.bmWidth, source.bmHeight, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    return out;
}

// The height TEXT takes in LABEL's font when wrapped at WIDTH, as the label draws it.
int WrappedHeight(HWND label, const wchar_t* text, int width)
{
    RECT r{0, 0, width, 0};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    return r.bottom;
}

SIZE TextExtent(HWND control, HFONT font, const wchar_t* text)
{
    SIZE size{};
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size;
}

}  // namespace

frmMain::frmMain(HINSTANCE instance, frmMainEvents& events) : instance_(instance), events_(events)
{
    runtime::RunHandler([this] { events_.Form_Load(*this); });
    if (Hidden() || Unloaded()) return;  // the run after the restart: no window made at all
    runtime::RunHandler([this] {
        ShowWindow(hWnd(), SW_SHOW);
        SetFocus(cmdBegin.hwnd);
    });
}

void frmMain::Create()
{
    RegisterClassOnce(instance_, &frmMain::Procedure);
    // An owned top-level window gets no taskbar button; the owner is never shown. Made
    // first, it tells the DPI of the screen where the window is to go.
    owner_.reset(CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, nullptr));
    RECT frame = Frame(DpiOf(owner_.get()));
    window_.reset(CreateWindowExW(kExStyle, kClassName, layout::Caption, kStyle, frame.left, frame.top,
                                  frame.right - frame.left, frame.bottom - frame.top, owner_.get(), nullptr, instance_,
                                  this));
    if (!window_) return;
    hand_ = LoadCursorW(instance_, MAKEINTRESOURCEW(IDC_HAND_POINTER));
    banner_.reset(static_cast<HBITMAP>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    CreateControls();
    // Where the window landed may have another DPI than the screen's first guess.
    const UINT dpi = DpiOf(window_.get());
    frame = Frame(dpi);
    SetWindowPos(window_.get(), nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
}

void frmMain::CreateControls()
{
    for (const layout::Control& c : layout::Controls()) {
        const wchar_t* cls = c.kind == layout::Kind::Button ? L"BUTTON" : L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (c.kind) {
        case layout::Kind::Button: style |= WS_TABSTOP | BS_PUSHBUTTON; break;
        case layout::Kind::Line: continue;  // drawn by the window itself
        case layout::Kind::Label: style |= SS_LEFT | SS_NOPREFIX | (c.id == layout::Label7 ? SS_NOTIFY : 0); break;
        case layout::Kind::Picture:
            style |= SS_BITMAP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        }
        HWND hwnd = CreateWindowExW(exStyle, cls, c.caption, style, 0, 0, 0, 0, window_.get(),
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
        if (c.id == layout::cmdBegin) cmdBegin.hwnd = hwnd;
        if (c.id == layout::cmdExit) cmdExit.hwnd = hwnd;
    }
}

// Fonts, icons, the controls' places and the banner for DPI, from the stored layout.
// The new fonts are in place before the old ones go.
void frmMain::LayOut(UINT dpi)
{
    runtime::UniqueFont windowFont = MakeFont(layout::Font::Window, dpi), boldFont = MakeFont(layout::Font::Bold, dpi),
                        linkFont = MakeFont(layout::Font::Underlined, dpi);
    SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(windowFont.get()), FALSE);
    runtime::UniqueIcon bigIcon = LoadProgramIcon(instance_, SM_CXICON, SM_CYICON, dpi),
                        smallIcon = LoadProgramIcon(instance_, SM_CXSMICON, SM_CYSMICON, dpi);
    SendMessageW(window_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    SendMessageW(window_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    runtime::UniqueBitmap shownBanner;

    for (const layout::Control& c : layout::Controls()) {
        if (c.kind == layout::Kind::Line) continue;
        HWND hwnd = GetDlgItem(window_.get(), c.id);
        const RECT r = layout::Bounds(c, dpi);
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT font = c.font == layout::Font::Bold         ? boldFont.get()
                     : c.font == layout::Font::Underlined ? linkFont.get()
                                                          : windowFont.get();
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

        if (c.id == layout::Label7) {  // sized to its caption
            SIZE text = TextExtent(hwnd, font, c.caption);
            SetWindowPos(hwnd, nullptr, 0, 0, text.cx, text.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (c.kind == layout::Kind::Picture) {
            // The banner fills the control inside its sunken border: at its own size at
            // 96 dots per inch, stretched at any other.
            RECT inside;
            GetClientRect(hwnd, &inside);
            BITMAP natural{};
            GetObjectW(banner_.get(), sizeof natural, &natural);
            HBITMAP shown = banner_.get();
            if (inside.right != natural.bmWidth || inside.bottom != natural.bmHeight) {
                shownBanner = Stretched(banner_.get(), SIZE{inside.right, inside.bottom});
                shown = shownBanner.get();
            }
            SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(shown));
            // The control may have fitted itself to the picture; the stored size holds.
            SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    FitLabels(dpi);
    windowFont_ = std::move(windowFont);
    boldFont_ = std::move(boldFont);
    linkFont_ = std::move(linkFont);
    bigIcon_ = std::move(bigIcon);
    smallIcon_ = std::move(smallIcon);
    shownBanner_ = std::move(shownBanner);
    dpi_ = dpi;
    InvalidateRect(window_.get(), nullptr, TRUE);
}

// Every label shows all of its text in the font actually used, which the stored boxes
// cannot promise: font heights are rounded at every scale, and a substitute face may be
// wider. A label whose wrapped text needs more height gets it, and the labels below it
// move down as much, never past the separator.
void frmMain::FitLabels(UINT dpi)
{
    std::vector<const layout::Control*> column;
    for (const layout::Control& c : layout::Controls())
        if (c.kind == layout::Kind::Label) column.push_back(&c);
    std::sort(column.begin(), column.end(), [](auto a, auto b) { return a->twips.top < b->twips.top; });
    const LONG floor = layout::Bounds(*layout::Find(layout::Line1), dpi).top;
    LONG shift = 0;
    for (const layout::Control* c : column) {
        HWND hwnd = GetDlgItem(window_.get(), c->id);
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(nullptr, window_.get(), reinterpret_cast<POINT*>(&r), 2);
        OffsetRect(&r, 0, shift);
        if (c->id != layout::Label7) {  // which is sized to its one line already
            const LONG needed = WrappedHeight(hwnd, c->caption, r.right - r.left);
            if (needed > r.bottom - r.top) {
                shift += needed - (r.bottom - r.top);
                r.bottom = r.top + needed;
            }
        }
        r.bottom = std::min(r.bottom, floor);
        r.top = std::min(r.top, r.bottom);
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

bool frmMain::PreTranslate(MSG& msg) { return Window() && IsDialogMessageW(Window(), &msg); }

LRESULT CALLBACK frmMain::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {  // the owner window passes no object and keeps the default behaviour
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {  // the last message, after every child has gone
        self->FreeResources();
        self->Destroyed();
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->Handle(hwnd, message, wParam, lParam);
}

LRESULT frmMain::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return 0;

    case WM_PAINT: {  // the separator lines, drawn on the window: a child window each would cost more
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        for (const layout::Control& c : layout::Controls()) {
            if (c.kind != layout::Kind::Line) continue;
            SetDCBrushColor(dc, c.colour.Resolve());
            const RECT line = layout::Bounds(c, dpi_);
            FillRect(dc, &line, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        }
        EndPaint(hwnd, &ps);
        return 0;
    }

    case WM_CTLCOLORSTATIC: {
        const layout::Control* c = layout::Find(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        if (!c || c->kind != layout::Kind::Label) break;
        // Labels: own text colour over the window's face.
        auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, c->colour.Resolve());
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }

    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == GetDlgItem(hwnd, layout::Label7) && LOWORD(lParam) == HTCLIENT) {
            SetCursor(hand_);
            return TRUE;
        }
        break;

    case WM_ACTIVATE:  // give the focus back to the control that had it, as a dialog does
        if (LOWORD(wParam) == WA_INACTIVE) {
            lastFocus_ = GetFocus();
        } else if (lastFocus_ && IsChild(hwnd, lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;

    // WM_QUERYENDSESSION goes to the default procedure, which answers TRUE: the window
    // never stands in the way of a restart, least of all the one it asked for.
    case WM_ENDSESSION:
        runtime::RunHandler([&] { events_.Form_EndSession(*this, wParam != FALSE); });
        return 0;

    case WM_CLOSE:  // the close box: unload and end, no handler of the program runs
        Unload();
        runtime::End();
        return 0;

    case WM_DPICHANGED: {  // moved to a screen of another scale: Windows suggests the place
        const RECT& r = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut(HIWORD(wParam));
        return 0;
    }

    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void frmMain::FreeResources()
{
    windowFont_.reset();
    boldFont_.reset();
    linkFont_.reset();
    shownBanner_.reset();
    banner_.reset();
    bigIcon_.reset();
    smallIcon_.reset();
}

void frmMain::Command(int id, int code)
{
    // Enter arrives as IDOK (neither button is a default button): it presses the
    // focused button. Esc arrives as IDCANCEL and presses nothing.
    if (id == IDOK) {
        HWND focus = GetFocus();
        if (focus == cmdBegin.hwnd) id = layout::cmdBegin, code = BN_CLICKED;
        if (focus == cmdExit.hwnd) id = layout::cmdExit, code = BN_CLICKED;
    }
    if (id == layout::cmdBegin && code == BN_CLICKED) runtime::RunHandler([this] { events_.cmdBegin_Click(*this); });
    if (id == layout::cmdExit && code == BN_CLICKED) runtime::RunHandler([this] { events_.cmdExit_Click(*this); });
    if (id == layout::Label7 && code == STN_CLICKED) runtime::RunHandler([this] { events_.Label7_Click(*this); });
}

int RunMessageLoop(frmMain& form)
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form.PreTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace window
