// The player's folders and the rule every path the manifest names must meet.
#include "ayudas.h"

#include <string.h>

static int Permitido(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '(' || c == ')' || c == '-' || c == '.' || c == '_' || c == '\\';
}

int EnCarpeta(const char *ruta, const char *carpeta)
{
    int n = lstrlenA(carpeta);
    if (lstrlenA(ruta) < n || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ruta, n, carpeta, n) != CSTR_EQUAL)
        return 0;
    return ruta[n] == 0 || ruta[n] == '\\';
}

int DelJugador(const char *relativa, int contenido)
{
    static const char *const carpetas[] = {RUTA_LOCAL, RUTA_AVANZADO};
    for (const char *c : carpetas)
        if (EnCarpeta(relativa, c) && (contenido || relativa[lstrlenA(c)] == 0))
            return 1;
    return 0;
}

static int EsDispositivo(const char *nombre, int largo)
{
    // Windows drops an extension and trailing spaces from a device name: "nul .txt" is NUL.
    int base = 0;
    while (base < largo && nombre[base] != '.')
        base++;
    while (base > 0 && nombre[base - 1] == ' ')
        base--;
    static const char *const reservados[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *r : reservados)
        if (base == 3 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, r, 3) == CSTR_EQUAL)
            return 1;
    if (base == 4 && nombre[3] >= '1' && nombre[3] <= '9' &&
        (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, "COM", 3) == CSTR_EQUAL ||
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, "LPT", 3) == CSTR_EQUAL))
        return 1;
    return 0;
}

// Windows resolves some spellings to another file than the one they name: it drops a
// component ".", trailing dots and spaces, and empty components, and opens a device for a
// reserved name. Any of them could lead a path into the player's folder or to a device.
static int ComponentesLimpios(const char *ruta)
{
    const char *inicio = ruta;
    for (const char *p = ruta;; p++) {
        if (*p != '\\' && *p != 0)
            continue;
        int largo = (int)(p - inicio);
        if (largo == 0 || inicio[largo - 1] == '.' || inicio[largo - 1] == ' ' || EsDispositivo(inicio, largo))
            return 0;
        if (*p == 0)
            return 1;
        inicio = p + 1;
    }
}

int RutaValida(const char *ruta)
{
    if (!ruta[0] || ruta[0] == '\\' || strstr(ruta, ".."))
        return 0;
    int largo = 0;
    for (; ruta[largo]; largo++)
        if (!Permitido(ruta[largo]))
            return 0;
    if (largo > 180)
        return 0;
    if (DelJugador(ruta, 1))
        return 0;
    return ComponentesLimpios(ruta);
}
