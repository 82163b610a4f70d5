#pragma once
#include <windows.h>

#include <span>

// The stored layout of the main window, in pixels at 96 dots per inch.
namespace window::layout {

inline constexpr wchar_t Caption[] = L"Kestrova Zelvy Remover";
inline constexpr POINT ClientOrigin{178, 182};
inline constexpr SIZE ClientSize{513, 381};

enum class Kind { Button, Line, Label, Picture };
enum class Font { Window, Bold, Underlined };

// A colour that is either fixed or one of the system's (GetSysColor index).
struct Colour {
    bool system;
    COLORREF value;
    COLORREF Resolve() const { return system ? GetSysColor(static_cast<int>(value)) : value; }
};

struct Control {
    Kind kind;
    int id;  // the control's number in creation order, plus 100
    RECT bounds;  // left, top, right, bottom in client coordinates
    const wchar_t* caption;
    Font font;
    Colour colour;  // text colour of labels, colour of lines
};

// Control identifiers. 1 and 2 stay free: they are IDOK and IDCANCEL, which the
// keyboard handling sends for Enter and Esc.
inline constexpr int cmdExit = 101;
inline constexpr int cmdBegin = 102;
inline constexpr int Line2 = 103;
inline constexpr int Line1 = 104;
inline constexpr int Label1 = 105;
inline constexpr int Image1 = 106;
inline constexpr int Label7 = 107;
inline constexpr int Label4 = 108;
inline constexpr int Label3 = 109;

std::span<const Control> Controls();
const Control* Find(int id);

// Tahoma 8.25 and 9 points at 96 dots per inch.
inline constexpr int WindowFontHeight = -11;
inline constexpr int BoldFontHeight = -12;

}  // namespace window::layout
