// Small stateless helpers every phase and the tools use.
#include "ayudas.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int Formar(char *destino, int capacidad, const char *formato, ...)
{
    va_list args;
    va_start(args, formato);
    int n = _vsnprintf(destino, capacidad, formato, args);
    va_end(args);
    // _vsnprintf leaves no terminator when the text fills the buffer exactly.
    if (n < 0 || n >= capacidad) {
        destino[0] = 0;
        return 0;
    }
    return 1;
}

void Unir(char *destino, const char *base, const char *relativa)
{
    lstrcpynA(destino, base, MAX_PATH);
    if (!relativa || !relativa[0])
        return;
    if (lstrlenA(destino) + lstrlenA(relativa) > MAX_PATH - 2) {
        destino[0] = 0;
        return;
    }
    lstrcatA(destino, "\\");
    lstrcatA(destino, relativa);
}

int Existe(const char *ruta)
{
    return GetFileAttributesA(ruta) != INVALID_FILE_ATTRIBUTES;
}

int EsCarpeta(const char *ruta)
{
    DWORD a = GetFileAttributesA(ruta);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int CruzaEnlace(const char *base, const char *relativa, int ultimo)
{
    char parte[MAX_PATH], ruta[MAX_PATH];
    lstrcpynA(parte, relativa, MAX_PATH);
    for (int i = 1; parte[0]; i++) {
        char c = parte[i];
        if (c == 0 && !ultimo)
            return 0;
        if (c != '\\' && c != 0)
            continue;
        parte[i] = 0;
        Unir(ruta, base, parte);
        DWORD a = ruta[0] ? GetFileAttributesA(ruta) : INVALID_FILE_ATTRIBUTES;
        if (a == INVALID_FILE_ATTRIBUTES)
            return 0;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT)
            return i;
        if (c == 0)
            return 0;
        parte[i] = c;
    }
    return 0;
}

void QuitarAtributos(const char *ruta)
{
    const DWORD estorban = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD a = GetFileAttributesA(ruta);
    if (a != INVALID_FILE_ATTRIBUTES && (a & estorban))
        SetFileAttributesA(ruta, a & ~estorban);
}

void CrearCarpetas(const char *ruta)
{
    char copia[MAX_PATH];
    lstrcpynA(copia, ruta, MAX_PATH);
    char *barra = NULL;
    for (char *p = copia; *p; p++)
        if (*p == '\\')
            barra = p;
    if (!barra)
        return;
    *barra = 0;
    // Start after a drive prefix such as "C:\".
    for (char *p = copia + 3; p < barra; p++) {
        if (*p == '\\') {
            *p = 0;
            CreateDirectoryA(copia, NULL);
            *p = '\\';
        }
    }
    CreateDirectoryA(copia, NULL);
}

int TamFecha(const char *ruta, ULONGLONG *tam, ULONGLONG *fecha)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(ruta, GetFileExInfoStandard, &d) || (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    *tam = (ULONGLONG)d.nFileSizeHigh << 32 | d.nFileSizeLow;
    if (fecha)
        *fecha = (ULONGLONG)d.ftLastWriteTime.dwHighDateTime << 32 | d.ftLastWriteTime.dwLowDateTime;
    return 1;
}

void *Pedir(SIZE_T tam)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, tam);
}

void Soltar(void *bloque)
{
    if (bloque)
        HeapFree(GetProcessHeap(), 0, bloque);
}

int LeerNumero(const char *texto, ULONGLONG *valor)
{
    *valor = 0;
    if (*texto < '0' || *texto > '9')
        return 0;
    for (; *texto >= '0' && *texto <= '9'; texto++)
        *valor = *valor * 10 + (ULONGLONG)(*texto - '0');
    return 1;
}

char *CortarLinea(char **resto)
{
    char *linea = *resto;
    char *fin = strchr(linea, '\n');
    if (fin) {
        *fin = 0;
        *resto = fin + 1;
    } else {
        *resto = linea + strlen(linea);
    }
    return linea;
}

int EsHex(const char *texto, int n)
{
    for (int i = 0; i < n; i++) {
        char c = texto[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return 0;
    }
    return 1;
}

void AHex(const BYTE *bytes, int n, char *hex)
{
    for (int i = 0; i < n; i++) {
        hex[2 * i] = "0123456789abcdef"[bytes[i] >> 4];
        hex[2 * i + 1] = "0123456789abcdef"[bytes[i] & 15];
    }
    hex[2 * n] = 0;
}

static int ValorHex(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

void DeHex(const char *hex, BYTE *bytes, int n)
{
    for (int i = 0; i < n; i++)
        bytes[i] = (BYTE)(ValorHex(hex[2 * i]) << 4 | ValorHex(hex[2 * i + 1]));
}
