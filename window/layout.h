#pragma once
#include <windows.h>

#include <span>

// The stored layout of the main window, in twips (1/1440 inch) as it was drawn, and
// fonts in points; every pixel figure is computed from it for the window's DPI.
namespace window::layout {

inline constexpr wchar_t Caption[] = L"Kestrova Zelvy Remover";
inline constexpr POINT ClientOrigin{2670, 2730};  // on the screen
inline constexpr SIZE ClientSize{7695, 5715};

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
    int id;       // the control's number in creation order, plus 100
    RECT twips;   // left, top, right, bottom in client coordinates
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

// Twips to pixels at DPI, rounded to the nearest.
inline int Pixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

// The control's rectangle in pixels at DPI: its edges rounded each to the nearest
// pixel, so that at 96 dots per inch Label3's 266 2/3 pixels come out as 267. A line
// keeps its thickness in whole pixels, at least one, so that the two of the
// separator always touch.
RECT Bounds(const Control& control, UINT dpi);

// The font's height for CreateFont at DPI (negative: the character height).
int FontHeight(Font font, UINT dpi);

}  // namespace window::layout
