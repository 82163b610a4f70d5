#include "window/layout.h"

#include <algorithm>
#include <iterator>

namespace window::layout {
namespace {

constexpr Colour ButtonText{true, COLOR_BTNTEXT};
constexpr Colour NoColour{true, COLOR_BTNFACE};

// In creation order. Label7's size is its caption's extent, measured when it is made.
constexpr Control kControls[] = {
    {Kind::Button, cmdExit, {4980, 5205, 6180, 5550}, L"&Salir", Font::Window, NoColour},
    {Kind::Button, cmdBegin, {6330, 5205, 7530, 5550}, L"&Comenzar", Font::Window, NoColour},
    {Kind::Line, Line2, {195, 5055, 7515, 5070}, L"", Font::Window, {false, RGB(255, 255, 255)}},
    {Kind::Line, Line1, {195, 5040, 7515, 5055}, L"", Font::Window, {false, RGB(192, 192, 192)}},
    {Kind::Label, Label1, {2970, 675, 7320, 1020}, L"Este programa eliminará el virus Zelvy.F de su PC.",
     Font::Window, ButtonText},
    {Kind::Picture, Image1, {210, 210, 2670, 4815}, L"", Font::Window, NoColour},
    {Kind::Label, Label7, {2955, 2085, 4905, 2280}, L"Otras utilidades para su PC", Font::Underlined,
     {false, RGB(0, 0, 255)}},
    {Kind::Label, Label4, {2955, 1170, 7035, 1905},
     L"Primero se eliminarán las referencias al virus en su PC y se reiniciará el equipo, inmediatamente después "
     L"del reinicio el virus se habrá eliminado por completo.",
     Font::Window, ButtonText},
    {Kind::Label, Label3, {2955, 255, 6955, 570}, L"Bienvenido a Kestrova Zelvy Remover", Font::Bold,
     ButtonText},
};

}  // namespace

std::span<const Control> Controls() { return kControls; }

const Control* Find(int id)
{
    auto it = std::find_if(std::begin(kControls), std::end(kControls), [id](const Control& c) { return c.id == id; });
    return it == std::end(kControls) ? nullptr : &*it;
}

RECT Bounds(const Control& control, UINT dpi)
{
    const RECT& t = control.twips;
    RECT r{Pixels(t.left, dpi), Pixels(t.top, dpi), Pixels(t.right, dpi), Pixels(t.bottom, dpi)};
    if (control.kind == Kind::Line) r.bottom = r.top + std::max(1, Pixels(t.bottom - t.top, dpi));
    return r;
}

int FontHeight(Font font, UINT dpi)
{
    const int hundredthsOfPoints = font == Font::Bold ? 900 : 825;  // Tahoma 9 and 8.25 points
    return -MulDiv(hundredthsOfPoints, static_cast<int>(dpi), 7200);
}

}  // namespace window::layout
