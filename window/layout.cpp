#include "window/layout.h"

#include <algorithm>
#include <iterator>

namespace window::layout {
namespace {

constexpr Colour ButtonText{true, COLOR_BTNTEXT};
constexpr Colour NoColour{true, COLOR_BTNFACE};

// In creation order. Label7's size is its caption's extent, measured when it is made;
// Label3's 4000-twip width is 266 2/3 pixels, rounded here to 267.
constexpr Control kControls[] = {
    {Kind::Button, cmdExit, {332, 347, 412, 370}, L"&Salir", Font::Window, NoColour},
    {Kind::Button, cmdBegin, {422, 347, 502, 370}, L"&Comenzar", Font::Window, NoColour},
    {Kind::Line, Line2, {13, 337, 501, 338}, L"", Font::Window, {false, RGB(255, 255, 255)}},
    {Kind::Line, Line1, {13, 336, 501, 337}, L"", Font::Window, {false, RGB(192, 192, 192)}},
    {Kind::Label, Label1, {198, 45, 488, 68}, L"Este programa eliminará el virus Zelvy.F de su PC.",
     Font::Window, ButtonText},
    {Kind::Picture, Image1, {14, 14, 178, 321}, L"", Font::Window, NoColour},
    {Kind::Label, Label7, {197, 139, 327, 152}, L"Otras utilidades para su PC", Font::Underlined,
     {false, RGB(0, 0, 255)}},
    {Kind::Label, Label4, {197, 78, 469, 127},
     L"Primero se eliminarán las referencias al virus en su PC y se reiniciará el equipo, inmediatamente después "
     L"del reinicio el virus se habrá eliminado por completo.",
     Font::Window, ButtonText},
    {Kind::Label, Label3, {197, 17, 464, 38}, L"Bienvenido a Kestrova Zelvy Remover", Font::Bold,
     ButtonText},
};

}  // namespace

std::span<const Control> Controls() { return kControls; }

const Control* Find(int id)
{
    auto it = std::find_if(std::begin(kControls), std::end(kControls), [id](const Control& c) { return c.id == id; });
    return it == std::end(kControls) ? nullptr : &*it;
}

}  // namespace window::layout
