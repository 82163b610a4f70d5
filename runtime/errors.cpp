#include "runtime/errors.h"

#include "runtime/desktop.h"

namespace runtime {

std::wstring Describe(long number)
{
    switch (number) {
    case err::InvalidCall: return L"Llamada a procedimiento o argumento no válidos";
    case err::Overflow: return L"Desbordamiento";
    case err::OutOfMemory: return L"Memoria insuficiente";
    case err::TypeMismatch: return L"No coinciden los tipos";
    case err::FileNotFound: return L"No se encontró el archivo";
    case err::PathFileAccess: return L"Error de acceso a la ruta o el archivo";
    case err::InvalidUseOfNull: return L"Uso no válido de Null";
    case err::ObjectUnloaded: return L"Se descargó el objeto";
    case err::EntryPointNotFound: return L"No se encontró el punto de entrada en el archivo DLL";
    default: return L"Error definido por la aplicación o por el objeto";
    }
}

void ReportUntrapped(long number) noexcept
{
    try {
        MsgBox(L"Se ha producido el error '" + std::to_wstring(number) + L"' en tiempo de ejecución:\n\n" +
                   Describe(number),
               MB_ICONERROR);
    } catch (...) {
        // Nothing left to tell the user with; ending is all that remains.
    }
    End();
}

}  // namespace runtime
