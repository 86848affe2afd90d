// The transfer floor: a bare WinHTTP client that fetches a list of bodies in order over one
// connection and writes each to a file, with nothing else around it (no resume, no checks).
//   banco_http.exe URL_BASE LISTA CARPETA
// URL_BASE is "http://host:puerto/"; LISTA has one path under it per line; each body lands in
// CARPETA under the last part of its path. Exit 0 when every answer was 200.
#include "ayudas.h"
#include "banco_comun.h"

#include <windows.h>
#include <winhttp.h>

#include <stdio.h>
#include <string.h>

#define BLOQUE (256 * 1024)

// One GET on the open connection, its body written to `destino`: the status, 0 on failure.
static DWORD Bajar(HINTERNET conexion, const char *camino, const char *destino, BYTE *bloque,
                   ULONGLONG *total)
{
    wchar_t caminoW[600];
    if (!MultiByteToWideChar(CP_ACP, 0, camino, -1, caminoW, 600))
        return 0;
    HINTERNET peticion = WinHttpOpenRequest(conexion, L"GET", caminoW, NULL, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    if (!peticion)
        return 0;
    DWORD estado = 0, largo = sizeof estado;
    if (!WinHttpSendRequest(peticion, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(peticion, NULL) ||
        !WinHttpQueryHeaders(peticion, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &estado, &largo, WINHTTP_NO_HEADER_INDEX)) {
        WinHttpCloseHandle(peticion);
        return 0;
    }
    HANDLE f = CreateFileA(destino, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) {
        WinHttpCloseHandle(peticion);
        return 0;
    }
    DWORD leidos, escritos;
    while (WinHttpReadData(peticion, bloque, BLOQUE, &leidos) && leidos > 0) {
        if (!WriteFile(f, bloque, leidos, &escritos, NULL) || escritos != leidos) {
            estado = 0;
            break;
        }
        *total += leidos;
    }
    CloseHandle(f);
    WinHttpCloseHandle(peticion);
    return estado;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "uso: banco_http URL_BASE LISTA CARPETA\n");
        return 2;
    }
    wchar_t urlW[600], host[256];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, urlW, 600))
        return 2;
    URL_COMPONENTS partes;
    ZeroMemory(&partes, sizeof partes);
    partes.dwStructSize = sizeof partes;
    partes.lpszHostName = host;
    partes.dwHostNameLength = 256;
    partes.dwUrlPathLength = (DWORD)-1;
    if (!WinHttpCrackUrl(urlW, 0, 0, &partes)) {
        fprintf(stderr, "URL mala: %s\n", argv[1]);
        return 2;
    }
    char prefijo[600];
    int n = WideCharToMultiByte(CP_ACP, 0, partes.lpszUrlPath, (int)partes.dwUrlPathLength, prefijo,
                                sizeof prefijo - 1, NULL, NULL);
    prefijo[n > 0 ? n : 0] = 0;

    char *lista = LeerTodo(argv[2]);
    BYTE *bloque = (BYTE *)Pedir(BLOQUE);
    HINTERNET sesion = WinHttpOpen(L"banco_http", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET conexion = sesion ? WinHttpConnect(sesion, host, partes.nPort, 0) : NULL;
    int fallos = 0, cuerpos = 0;
    ULONGLONG total = 0;
    if (!lista || !bloque || !conexion) {
        fprintf(stderr, "no se pudo empezar\n");
        fallos = 1;
    }
    char *resto = lista, *linea;
    while (!fallos && (linea = SiguienteLinea(&resto)) != NULL) {
        const char *nombre = strrchr(linea, '/');
        nombre = nombre ? nombre + 1 : linea;
        char camino[600], destino[MAX_PATH];
        if (!Formar(camino, sizeof camino, "%s%s", prefijo, linea) ||
            !Formar(destino, sizeof destino, "%s\\%s", argv[3], nombre)) {
            fallos++;
            break;
        }
        DWORD estado = Bajar(conexion, camino, destino, bloque, &total);
        if (estado != 200) {
            fprintf(stderr, "%s: HTTP %lu\n", linea, estado);
            fallos++;
        }
        cuerpos++;
    }
    printf("%d cuerpos, %lu MiB\n", cuerpos, (unsigned long)(total >> 20));
    if (conexion)
        WinHttpCloseHandle(conexion);
    if (sesion)
        WinHttpCloseHandle(sesion);
    Soltar(bloque);
    Soltar(lista);
    return fallos ? 1 : 0;
}
