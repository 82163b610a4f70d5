#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fakes.h"
#include "window/frmMain.h"
#include "window/layout.h"
#include "window/resource.h"

using window::frmMain;
namespace layout = window::layout;

namespace {

struct CountingEvents final : window::frmMainEvents {
    void Form_Load(frmMain&) override { ++loads; }
    void cmdBegin_Click(frmMain&) override { ++begins; }
    void cmdExit_Click(frmMain&) override { ++exits; }
    void Label7_Click(frmMain&) override { ++links; }
    void Form_EndSession(frmMain&, bool) override {}
    int loads = 0, begins = 0, exits = 0, links = 0;
};

void Pump(frmMain& form)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT || form.PreTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

RECT ClientRect(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring Text(HWND hwnd)
{
    wchar_t text[256];
    GetWindowTextW(hwnd, text, 256);
    return text;
}

// The height of the control's own text in its font, wrapped at its width.
LONG WrappedHeight(HWND control)
{
    RECT r;
    GetClientRect(control, &r);
    HDC dc = GetDC(control);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    DrawTextW(dc, Text(control).c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    ReleaseDC(control, dc);
    return r.bottom;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[64];
    GetClassNameW(hwnd, name, 64);
    return name;
}

class MainWindow : public testing::Test {
protected:
    MainWindow() : form(GetModuleHandleW(nullptr), events) { Pump(form); }
    ~MainWindow() override
    {
        form.Unload();
        Pump(form);
    }
    HWND Control(int id) { return GetDlgItem(form.hWnd(), id); }
    // What the window answers a static control asking for its colours.
    std::pair<COLORREF, COLORREF> Colours(int id)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        SetTextColor(dc, RGB(1, 2, 3));
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(form.hWnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(Control(id))));
        LOGBRUSH lb{};
        GetObjectW(brush, sizeof lb, &lb);
        COLORREF text = GetTextColor(dc);
        DeleteDC(dc);
        return {text, lb.lbColor};
    }
    void Key(UINT message, WPARAM key, LPARAM flags = 0)
    {
        PostMessageW(GetFocus(), message, key, flags | 1);
        Pump(form);
    }

    test::RecordingDesktop desktop;
    CountingEvents events;
    frmMain form;
};

}  // namespace

TEST_F(MainWindow, FrameOwnerAndPlacement)
{
    HWND hwnd = form.hWnd();
    EXPECT_EQ(events.loads, 1);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(Text(hwnd), L"Kestrova Zelvy Remover");
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
    HWND owner = GetWindow(hwnd, GW_OWNER);
    ASSERT_NE(owner, nullptr);  // a hidden owner keeps the window off the taskbar
    EXPECT_FALSE(IsWindowVisible(owner));

    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    EXPECT_EQ(origin.x, 178);
    EXPECT_EQ(origin.y, 182);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 513);
    EXPECT_EQ(client.bottom, 381);
}

TEST_F(MainWindow, SevenControlsWithTheirClassCaptionRectangleAndStyle)
{
    struct Expected {
        int id;
        const wchar_t* cls;
        RECT rect;
        LONG styleOn, styleOff;
    };
    const Expected expected[] = {
        {layout::cmdExit, L"Button", {332, 347, 412, 370}, WS_TABSTOP, BS_DEFPUSHBUTTON},
        {layout::cmdBegin, L"Button", {422, 347, 502, 370}, WS_TABSTOP, BS_DEFPUSHBUTTON},
        {layout::Label1, L"Static", {198, 45, 488, 68}, SS_NOPREFIX, WS_TABSTOP | SS_NOTIFY},
        {layout::Image1, L"Static", {14, 14, 178, 321}, SS_BITMAP, WS_TABSTOP | SS_NOTIFY},
        // As tall as its text needs where the font is wider than Windows' own (Wine's: four
        // lines of 13 pixels, where Windows' Tahoma takes three).
        {layout::Label4, L"Static", {197, 78, 469, 78 + std::max(49L, WrappedHeight(Control(layout::Label4)))},
         SS_NOPREFIX, WS_TABSTOP | SS_NOTIFY},
        {layout::Label3, L"Static", {197, 17, 464, 38}, SS_NOPREFIX, WS_TABSTOP | SS_NOTIFY},
    };
    int count = 0;
    for (HWND child = GetWindow(form.hWnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++count;
    EXPECT_EQ(count, 7);  // the two lines are no windows
    for (const Expected& e : expected) {
        const layout::Control* c = layout::Find(e.id);
        SCOPED_TRACE(e.id);
        HWND hwnd = Control(e.id);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(_wcsicmp(ClassOf(hwnd).c_str(), e.cls), 0);
        EXPECT_EQ(Text(hwnd), c->caption);
        RECT r = ClientRect(hwnd);
        EXPECT_EQ(r.left, e.rect.left);
        EXPECT_EQ(r.top, e.rect.top);
        EXPECT_EQ(r.right, e.rect.right);
        EXPECT_EQ(r.bottom, e.rect.bottom);
        LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        EXPECT_EQ(style & e.styleOn, e.styleOn);
        EXPECT_EQ(style & e.styleOff, 0);
    }
    EXPECT_EQ(Text(Control(layout::cmdBegin)), L"&Comenzar");
    EXPECT_EQ(Text(Control(layout::Label1)), L"Este programa eliminará el virus Zelvy.F de su PC.");
    // The picture: a 2-pixel sunken border around the 160 x 303 banner.
    EXPECT_TRUE(GetWindowLongW(Control(layout::Image1), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    RECT inner;
    GetClientRect(Control(layout::Image1), &inner);
    EXPECT_EQ(inner.right, 160);
    EXPECT_EQ(inner.bottom, 303);
}

TEST_F(MainWindow, LinkLabelIsSizedToItsTextAndNotifies)
{
    HWND link = Control(layout::Label7);
    EXPECT_TRUE(GetWindowLongW(link, GWL_STYLE) & SS_NOTIFY);
    RECT r = ClientRect(link);
    EXPECT_EQ(r.left, 197);
    EXPECT_EQ(r.top, 139 + ClientRect(Control(layout::Label4)).bottom - 127);  // below the paragraph, as far as stored
    HDC dc = GetDC(link);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0)));
    SIZE text;
    GetTextExtentPoint32W(dc, L"Otras utilidades para su PC", 27, &text);
    ReleaseDC(link, dc);
    EXPECT_EQ(r.right - r.left, text.cx);
    EXPECT_EQ(r.bottom - r.top, text.cy);
}

TEST_F(MainWindow, FontsAndColours)
{
    auto font = [&](int id) {
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(id), WM_GETFONT, 0, 0)), sizeof lf, &lf);
        return lf;
    };
    for (int id : {layout::cmdExit, layout::cmdBegin, layout::Label1, layout::Label4}) {
        LOGFONTW lf = font(id);
        EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
        EXPECT_EQ(lf.lfHeight, -11);
        EXPECT_EQ(lf.lfWeight, FW_NORMAL);
        EXPECT_FALSE(lf.lfUnderline || lf.lfItalic || lf.lfStrikeOut);
        EXPECT_EQ(lf.lfCharSet, 0);
    }
    LOGFONTW bold = font(layout::Label3);
    EXPECT_EQ(bold.lfHeight, -12);
    EXPECT_EQ(bold.lfWeight, FW_BOLD);
    LOGFONTW link = font(layout::Label7);
    EXPECT_EQ(link.lfHeight, -11);
    EXPECT_TRUE(link.lfUnderline);

    EXPECT_EQ(Colours(layout::Label7).first, RGB(0, 0, 255));
    for (int id : {layout::Label1, layout::Label3, layout::Label4}) {
        auto [text, back] = Colours(id);
        EXPECT_EQ(text, GetSysColor(COLOR_BTNTEXT));
        EXPECT_EQ(back, GetSysColor(COLOR_BTNFACE));  // the face shows through
    }
}

TEST_F(MainWindow, EngravedSeparatorPaintedOnTheWindow)
{
    HWND hwnd = form.hWnd();
    UpdateWindow(hwnd);
    HDC dc = GetDC(hwnd);
    auto at = [&dc](int x, int y) { return GetPixel(dc, x, y); };
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int x : {13, 257, 500}) {
        EXPECT_EQ(at(x, 335), face) << x;
        EXPECT_EQ(at(x, 336), RGB(192, 192, 192)) << x;
        EXPECT_EQ(at(x, 337), RGB(255, 255, 255)) << x;
        EXPECT_EQ(at(x, 338), face) << x;
    }
    for (int y : {336, 337}) {  // 13 pixels in from the left, 12 from the right
        EXPECT_EQ(at(12, y), face) << y;
        EXPECT_EQ(at(501, y), face) << y;
    }
    ReleaseDC(hwnd, dc);
    // Repainted after being covered: part of the window's own painting, not a one-off.
    RECT part{100, 330, 200, 340};
    InvalidateRect(hwnd, &part, TRUE);
    UpdateWindow(hwnd);
    dc = GetDC(hwnd);
    EXPECT_EQ(at(150, 336), RGB(192, 192, 192));
    EXPECT_EQ(at(150, 337), RGB(255, 255, 255));
    ReleaseDC(hwnd, dc);
}

TEST_F(MainWindow, HandPointerOverTheLinkOnly)
{
    HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_HAND_POINTER));
    ASSERT_NE(hand, nullptr);
    auto pointerOver = [&](int id) {
        SetCursor(nullptr);
        SendMessageW(form.hWnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Control(id)), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    EXPECT_EQ(pointerOver(layout::Label7), hand);
    for (int id : {layout::Label1, layout::Label3, layout::Label4, layout::Image1, layout::cmdBegin}) {
        EXPECT_NE(pointerOver(id), hand) << id;
    }
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(hand, &info));
    EXPECT_EQ(info.xHotspot, 5u);
    EXPECT_EQ(info.yHotspot, 0u);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

TEST_F(MainWindow, KeyboardThroughTheMessageLoop)
{
    SetForegroundWindow(form.hWnd());
    SetFocus(form.cmdBegin.hwnd);
    Pump(form);
    ASSERT_EQ(GetFocus(), form.cmdBegin.hwnd);

    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(GetFocus(), form.cmdExit.hwnd);
    Key(WM_KEYDOWN, VK_TAB);  // the labels and the picture are passed over
    EXPECT_EQ(GetFocus(), form.cmdBegin.hwnd);

    Key(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_EQ(events.begins + events.exits + events.links, 0);

    Key(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(events.begins, 1);
    Key(WM_KEYDOWN, VK_TAB);
    Key(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(events.exits, 1);

    Key(WM_SYSCHAR, 'c', 1 << 29);
    EXPECT_EQ(events.begins, 2);
    Key(WM_SYSCHAR, 's', 1 << 29);
    EXPECT_EQ(events.exits, 2);
    EXPECT_EQ(events.links, 0);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MainWindow, LinkClickRaisesItsEventAndCloseBoxEnds)
{
    SendMessageW(form.hWnd(), WM_COMMAND, MAKEWPARAM(layout::Label7, STN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(layout::Label7)));
    EXPECT_EQ(events.links, 1);
    HWND window = form.hWnd(), begin = Control(layout::cmdBegin);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(desktop.ends, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(begin));
    EXPECT_EQ(events.exits, 0);  // closing runs no handler of the program
}

// Windows sends WM_DPICHANGED when the window moves to a screen of another scale, with
// the new DPI and the place it suggests; Wine never does, so the test sends it.
TEST_F(MainWindow, LaidOutFromTheStoredLayoutForEachDpi)
{
    HWND hwnd = form.hWnd();
    auto metric = reinterpret_cast<int(WINAPI*)(int, UINT)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    ASSERT_NE(metric, nullptr);
    std::map<int, RECT> at96;
    for (const layout::Control& c : layout::Controls())
        if (c.kind != layout::Kind::Line) at96[c.id] = ClientRect(Control(c.id));
    const struct {
        UINT dpi;
        SIZE client;
        int windowFont, boldFont;
    } table[] = {{120, {641, 476}, -14, -15}, {144, {770, 572}, -17, -18}, {192, {1026, 762}, -22, -24},
                 {96, {513, 381}, -11, -12}};
    for (const auto& t : table) {
        SCOPED_TRACE(t.dpi);
        // Around the client area scaled; the frame as this process draws it, at 96.
        RECT suggested{100, 50, 100 + t.client.cx, 50 + t.client.cy};
        AdjustWindowRectEx(&suggested, GetWindowLongW(hwnd, GWL_STYLE), FALSE, GetWindowLongW(hwnd, GWL_EXSTYLE));
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(t.dpi, t.dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT client;
        GetClientRect(hwnd, &client);
        EXPECT_EQ(client.right, t.client.cx);
        EXPECT_EQ(client.bottom, t.client.cy);

        for (const auto& [id, r96] : at96) {
            if (layout::Find(id)->kind == layout::Kind::Label) continue;
            SCOPED_TRACE(id);
            RECT r = ClientRect(Control(id));
            auto scaled = [&](LONG got, LONG base) { EXPECT_LE(std::abs(got - MulDiv(base, t.dpi, 96)), 1); };
            scaled(r.left, r96.left);
            scaled(r.top, r96.top);
            scaled(r.right, r96.right);
            scaled(r.bottom, r96.bottom);
        }
        // The labels, top to bottom: each shows all of its text; one whose text needs more
        // height than its stored box gets it, the ones below move down as much, and none
        // passes the separator.
        std::vector<const layout::Control*> column;
        for (const layout::Control& c : layout::Controls())
            if (c.kind == layout::Kind::Label) column.push_back(&c);
        std::sort(column.begin(), column.end(), [](auto a, auto b) { return a->twips.top < b->twips.top; });
        LONG shift = 0;
        for (const layout::Control* c : column) {
            SCOPED_TRACE(c->id);
            HWND control = Control(c->id);
            const RECT r = ClientRect(control), stored = layout::Bounds(*c, t.dpi);
            EXPECT_EQ(r.left, stored.left);
            EXPECT_EQ(r.top, stored.top + shift);
            EXPECT_LE(r.bottom, layout::Bounds(*layout::Find(layout::Line1), t.dpi).top);
            if (c->id == layout::Label7) {  // sized to its caption in its scaled font
                HDC dc = GetDC(control);
                SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
                SIZE extent{};
                GetTextExtentPoint32W(dc, c->caption, lstrlenW(c->caption), &extent);
                ReleaseDC(control, dc);
                EXPECT_EQ(r.right - r.left, extent.cx);
                EXPECT_EQ(r.bottom - r.top, extent.cy);
                continue;
            }
            EXPECT_EQ(r.right, stored.right);
            EXPECT_EQ(r.bottom - r.top, std::max(stored.bottom - stored.top, WrappedHeight(control)));
            shift += (r.bottom - r.top) - (stored.bottom - stored.top);
        }
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(layout::Label1), WM_GETFONT, 0, 0)), sizeof lf, &lf);
        EXPECT_EQ(lf.lfHeight, t.windowFont);
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(layout::Label3), WM_GETFONT, 0, 0)), sizeof lf, &lf);
        EXPECT_EQ(lf.lfHeight, t.boldFont);
        // The caption's icon at the small icon's size for that DPI.
        ICONINFO icon{};
        ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0)), &icon));
        BITMAP mask{};
        GetObjectW(icon.hbmMask, sizeof mask, &mask);
        DeleteObject(icon.hbmMask);
        if (icon.hbmColor) DeleteObject(icon.hbmColor);
        EXPECT_EQ(mask.bmWidth, metric(SM_CXSMICON, t.dpi));
        // The banner fills the picture inside its sunken border.
        BITMAP banner{};
        GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(Control(layout::Image1), STM_GETIMAGE, IMAGE_BITMAP, 0)),
                   sizeof banner, &banner);
        RECT inside;
        GetClientRect(Control(layout::Image1), &inside);
        EXPECT_EQ(banner.bmWidth, inside.right);
        EXPECT_EQ(banner.bmHeight, inside.bottom);
    }
}

TEST(MainWindowLifetime, AWindowThatCannotBeMadeIsARunTimeError)
{
    test::RecordingDesktop desktop;
    CountingEvents events;
    test::CbtHook refuse([](int code, HWND) { return code == HCBT_CREATEWND; });
    frmMain form(GetModuleHandleW(nullptr), events);
    EXPECT_EQ(events.loads, 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_NE(desktop.messages[0].text.find(L"'7'"), std::wstring::npos);
    EXPECT_EQ(desktop.ends, 1);
}

namespace {
WNDPROC labelProcedure = nullptr;
HFONT labelFont = nullptr;
DWORD fontAtLabelsEnd = 0;
// The label's last message: its font must still be there to the end.
LRESULT CALLBACK WatchLabel(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) fontAtLabelsEnd = GetObjectType(labelFont);
    return CallWindowProcW(labelProcedure, hwnd, message, wParam, lParam);
}
}  // namespace

TEST(MainWindowLifetime, TheChildrenGoBeforeTheFontsTheyUse)
{
    CountingEvents events;
    std::optional<frmMain> form(std::in_place, GetModuleHandleW(nullptr), events);
    HWND window = form->hWnd(), label = GetDlgItem(window, layout::Label1);
    labelFont = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    labelProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchLabel)));
    fontAtLabelsEnd = 0;
    form.reset();  // still loaded, as when a caller forgets to unload
    EXPECT_EQ(fontAtLabelsEnd, static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(GetObjectType(labelFont), 0u);  // and then freed
    EXPECT_FALSE(IsWindow(window));
}
