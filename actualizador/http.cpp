// One GET of one URL over the run's HTTP session, streamed block by block into a sink.
#include "interno.h"

#include <stdio.h>

// Reads the body into the sink. A 200 after a ranged request means the server sends the whole
// body again, so the sink first drops what it held.
static DWORD LeerCuerpo(HINTERNET peticion, DWORD estado, ULONGLONG desde, SumideroFn sumidero,
                        Sumidero *s)
{
    if (estado != 200 && estado != 206)
        return estado;
    if (estado == 200 && desde && !sumidero(s, NULL, 0))
        return 0;
    BYTE *bloque = (BYTE *)Pedir(BLOQUE_HTTP);
    if (!bloque)
        return 0;
    // A connection closed early ends the body like its end: only the announced length tells.
    DWORD anunciado = 0, tam = sizeof anunciado;
    int conLargo = WinHttpQueryHeaders(peticion, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &anunciado, &tam, WINHTTP_NO_HEADER_INDEX);
    ULONGLONG recibidos = 0;
    DWORD resultado = estado;
    for (;;) {
        DWORD leidos = 0;
        if (!WinHttpReadData(peticion, bloque, BLOQUE_HTTP, &leidos)) {
            resultado = 0;
            break;
        }
        if (leidos == 0) {
            s->corto = conLargo && recibidos < anunciado;
            break;
        }
        recibidos += leidos;
        if (!sumidero(s, bloque, leidos)) {
            resultado = 0;
            break;
        }
    }
    Soltar(bloque);
    return resultado;
}

DWORD HttpBajar(const char *url, ULONGLONG desde, SumideroFn sumidero, Sumidero *s)
{
    s->corto = 0;
    wchar_t urlW[LARGO_URL];
    if (!MultiByteToWideChar(CP_ACP, 0, url, -1, urlW, LARGO_URL))
        return 0;
    wchar_t host[256], camino[1024];
    URL_COMPONENTS partes;
    ZeroMemory(&partes, sizeof partes);
    partes.dwStructSize = sizeof partes;
    partes.lpszHostName = host;
    partes.dwHostNameLength = 256;
    partes.lpszUrlPath = camino;
    partes.dwUrlPathLength = 1024;
    if (!WinHttpCrackUrl(urlW, 0, 0, &partes))
        return 0;
    if (partes.nScheme != INTERNET_SCHEME_HTTP && partes.nScheme != INTERNET_SCHEME_HTTPS)
        return 0;
    HINTERNET conexion = WinHttpConnect(sesion, host, partes.nPort, 0);
    if (!conexion)
        return 0;
    HINTERNET peticion = WinHttpOpenRequest(conexion, L"GET", camino, NULL, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            partes.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!peticion) {
        WinHttpCloseHandle(conexion);
        return 0;
    }
    // The whole 64-bit offset, so that a body over 4 GiB resumes where it stopped.
    if (desde) {
        wchar_t rango[48];
        _snwprintf(rango, 48, L"Range: bytes=%I64u-", desde);
        rango[47] = 0;
        WinHttpAddRequestHeaders(peticion, rango, (DWORD)-1, WINHTTP_ADDREQ_FLAG_ADD);
    }
    DWORD resultado = 0, estado = 0, tam = sizeof estado;
    if (WinHttpSendRequest(peticion, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(peticion, NULL) &&
        WinHttpQueryHeaders(peticion, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &estado, &tam, WINHTTP_NO_HEADER_INDEX))
        resultado = LeerCuerpo(peticion, estado, desde, sumidero, s);
    WinHttpCloseHandle(peticion);
    WinHttpCloseHandle(conexion);
    return resultado;
}

int AMemoria(Sumidero *s, const void *datos, DWORD largo)
{
    if (!datos) {
        s->lleno = 0;
        return 1;
    }
    if ((ULONGLONG)s->lleno + largo > LIMITE_MANIFIESTO)
        return 0;
    CopyMemory((BYTE *)s->salida + s->lleno, datos, largo);
    s->lleno += largo;
    return 1;
}

int ADisco(Sumidero *s, const void *datos, DWORD largo)
{
    HANDLE archivo = (HANDLE)s->salida;
    if (!datos) {
        hechoTotal -= s->contado;
        s->contado = 0;
        LARGE_INTEGER cero;
        cero.QuadPart = 0;
        SetFilePointerEx(archivo, cero, NULL, FILE_BEGIN);
        SetEndOfFile(archivo);
        return 1;
    }
    // More than the manifest promises: counted, so that the caller sees a body too long, but
    // never written, so that a server cannot fill the disk.
    if (s->contado + largo > s->tope) {
        s->contado += largo;
        hechoTotal += largo;
        return 0;
    }
    // WriteFile may report success with fewer bytes written (a full disk under some systems).
    DWORD escritos = 0;
    if (!WriteFile(archivo, datos, largo, &escritos, NULL) || escritos != largo)
        return 0;
    s->contado += largo;
    hechoTotal += largo;
    Avisar(L"Descargando actualización", hechoTotal, totalBajar);
    return 1;
}
