#include "window/frmMain.h"

#include "runtime/desktop.h"
#include "runtime/errors.h"
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

runtime::UniqueFont MakeFont(int height, int weight, bool underline)
{
    return runtime::UniqueFont(CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, ANSI_CHARSET,
                                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                           DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

runtime::UniqueIcon LoadProgramIcon(HINSTANCE instance, int metricX, int metricY)
{
    return runtime::UniqueIcon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                             GetSystemMetrics(metricX), GetSystemMetrics(metricY), 0)));
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
    RECT frame{layout::ClientOrigin.x, layout::ClientOrigin.y, layout::ClientOrigin.x + layout::ClientSize.cx,
               layout::ClientOrigin.y + layout::ClientSize.cy};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);

    // An owned top-level window gets no taskbar button; the owner is never shown.
    owner_.reset(CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, nullptr));
    window_.reset(CreateWindowExW(kExStyle, kClassName, layout::Caption, kStyle, frame.left, frame.top,
                                  frame.right - frame.left, frame.bottom - frame.top, owner_.get(), nullptr, instance_,
                                  this));
    if (!window_) return;

    bigIcon_ = LoadProgramIcon(instance_, SM_CXICON, SM_CYICON);
    smallIcon_ = LoadProgramIcon(instance_, SM_CXSMICON, SM_CYSMICON);
    SendMessageW(window_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(window_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    hand_ = LoadCursorW(instance_, MAKEINTRESOURCEW(IDC_HAND_POINTER));
    CreateControls();
}

void frmMain::CreateControls()
{
    windowFont_ = MakeFont(layout::WindowFontHeight, FW_NORMAL, false);
    boldFont_ = MakeFont(layout::BoldFontHeight, FW_BOLD, false);
    linkFont_ = MakeFont(layout::WindowFontHeight, FW_NORMAL, true);
    SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.get()), FALSE);

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
        const RECT& r = c.bounds;
        HWND hwnd = CreateWindowExW(exStyle, cls, c.caption, style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                    window_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_,
                                    nullptr);
        HFONT font = c.font == layout::Font::Bold         ? boldFont_.get()
                     : c.font == layout::Font::Underlined ? linkFont_.get()
                                                          : windowFont_.get();
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

        if (c.id == layout::Label7) {  // sized to its caption
            SIZE text = TextExtent(hwnd, font, c.caption);
            SetWindowPos(hwnd, nullptr, 0, 0, text.cx, text.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (c.kind == layout::Kind::Picture) {
            banner_.reset(static_cast<HBITMAP>(
                LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
            SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner_.get()));
            // The control may have fitted itself to the picture; the stored size holds.
            SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (c.id == layout::cmdBegin) cmdBegin.hwnd = hwnd;
        if (c.id == layout::cmdExit) cmdExit.hwnd = hwnd;
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
    if (message == WM_NCDESTROY) {
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
            FillRect(dc, &c.bounds, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
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

    case WM_CLOSE:  // the close box: unload and end, no handler of the program runs
        Unload();
        runtime::End();
        return 0;

    case WM_DESTROY:
        windowFont_.reset();
        boldFont_.reset();
        linkFont_.reset();
        banner_.reset();
        bigIcon_.reset();
        smallIcon_.reset();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
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
