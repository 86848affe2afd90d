// Console output of the tools.
#include "consola.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

// The line stays under 80 columns: a console that wraps it would break the redraw with \r.
#define ANCHO_LINEA 79

static int consola = -1;      // stderr is a console: -1 not yet asked
static int lineaVisible;      // characters of the progress line now on the console
static wchar_t dibujada[ANCHO_LINEA + 1];
static DWORD ultimoDibujo;

// Per text, the last tenth written as a plain line: -1 none yet; 10 for a task without total.
static struct {
    wchar_t texto[64];
    int decimo;
} tareas[16];
static int nTareas;

static int EsConsola(void)
{
    if (consola < 0) {
        DWORD modo;
        consola = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &modo) != 0;
    }
    return consola;
}

static void EscribirBytes(DWORD estandar, const char *texto, int largo)
{
    HANDLE h = GetStdHandle(estandar);
    DWORD escritos;
    while (largo > 0 && WriteFile(h, texto, (DWORD)largo, &escritos, NULL) && escritos > 0) {
        texto += escritos;
        largo -= (int)escritos;
    }
}

static void EscribirAncho(const wchar_t *texto)
{
    DWORD escritos;
    WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), texto, (DWORD)wcslen(texto), &escritos, NULL);
}

static void BorrarLinea(void)
{
    if (!lineaVisible)
        return;
    wchar_t blanco[ANCHO_LINEA + 3];
    blanco[0] = L'\r';
    for (int i = 1; i <= lineaVisible; i++)
        blanco[i] = L' ';
    blanco[lineaVisible + 1] = L'\r';
    blanco[lineaVisible + 2] = 0;
    EscribirAncho(blanco);
    lineaVisible = 0;
    dibujada[0] = 0;
}

void EscribirV(DWORD estandar, const char *formato, va_list args)
{
    if (EsConsola())
        BorrarLinea();
    char texto[4096];
    int n = _vsnprintf(texto, sizeof texto - 1, formato, args);
    texto[sizeof texto - 1] = 0;
    EscribirBytes(estandar, texto, n < 0 || n > (int)sizeof texto - 1 ? (int)sizeof texto - 1 : n);
}

void Escribir(DWORD estandar, const char *formato, ...)
{
    va_list args;
    va_start(args, formato);
    EscribirV(estandar, formato, args);
    va_end(args);
}

static void Dibujar(const wchar_t *texto, const wchar_t *detalle, ULONGLONG hecho, ULONGLONG total)
{
    wchar_t linea[ANCHO_LINEA + 1];
    int n;
    if (total) {
        int ciento = (int)(hecho >= total ? 100 : hecho * 100 / total);
        wchar_t barra[21];
        for (int i = 0; i < 20; i++)
            barra[i] = i < ciento / 5 ? L'#' : L'.';
        barra[20] = 0;
        n = _snwprintf(linea, ANCHO_LINEA, L"%ls%ls%ls [%ls] %3d%%", texto, detalle ? L" " : L"",
                       detalle ? detalle : L"", barra, ciento);
    } else {
        n = _snwprintf(linea, ANCHO_LINEA, L"%ls%ls%ls", texto, detalle ? L" " : L"", detalle ? detalle : L"");
    }
    if (n < 0 || n > ANCHO_LINEA)
        n = ANCHO_LINEA;
    linea[n] = 0;
    if (lineaVisible && wcscmp(linea, dibujada) == 0)
        return;
    // Spaces over what the previous, longer line left.
    wchar_t salida[2 * ANCHO_LINEA + 3];
    salida[0] = L'\r';
    lstrcpynW(salida + 1, linea, ANCHO_LINEA + 1);
    int largo = 1 + n;
    for (int i = n; i < lineaVisible; i++)
        salida[largo++] = L' ';
    salida[largo] = 0;
    EscribirAncho(salida);
    lstrcpynW(dibujada, linea, ANCHO_LINEA + 1);
    lineaVisible = n;
    ultimoDibujo = GetTickCount();
}

static int Tarea(const wchar_t *texto)
{
    for (int i = 0; i < nTareas; i++)
        if (wcsncmp(tareas[i].texto, texto, 63) == 0)
            return i;
    // A full table reuses its last place: at worst a few more lines.
    int i = nTareas < 16 ? nTareas++ : 15;
    lstrcpynW(tareas[i].texto, texto, 64);
    tareas[i].decimo = -1;
    return i;
}

void Progreso(const wchar_t *texto, const wchar_t *detalle, ULONGLONG hecho, ULONGLONG total)
{
    if (EsConsola()) {
        // Redrawing for every block would cost more than the work on a slow console.
        int cambia = !lineaVisible || wcsncmp(dibujada, texto, wcslen(texto)) != 0;
        if (cambia || hecho >= total || GetTickCount() - ultimoDibujo >= 100)
            Dibujar(texto, detalle, hecho, total);
        return;
    }
    int t = Tarea(texto);
    int decimo = total == 0 ? 10 : (int)(hecho >= total ? 10 : hecho * 10 / total);
    if (decimo <= tareas[t].decimo)
        return;
    tareas[t].decimo = decimo;
    char ansi[256], linea[512];
    if (!WideCharToMultiByte(CP_ACP, 0, texto, -1, ansi, sizeof ansi, NULL, NULL))
        ansi[0] = 0;
    char extra[256] = "";
    if (detalle && !WideCharToMultiByte(CP_ACP, 0, detalle, -1, extra, sizeof extra, NULL, NULL))
        extra[0] = 0;
    if (total && extra[0])
        Formar(linea, sizeof linea, "%s %s: %d%%\n", ansi, extra, decimo * 10);
    else if (total)
        Formar(linea, sizeof linea, "%s: %d%% (%I64u de %I64u)\n", ansi, decimo * 10, hecho, total);
    else
        Formar(linea, sizeof linea, "%s%s%s\n", ansi, extra[0] ? " " : "", extra);
    EscribirBytes(STD_ERROR_HANDLE, linea, lstrlenA(linea));
}

void CerrarProgreso(void)
{
    if (EsConsola() && lineaVisible) {
        EscribirAncho(L"\n");
        lineaVisible = 0;
        dibujada[0] = 0;
    }
}
