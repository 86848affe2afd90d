#include "banco_comun.h"
#include "ayudas.h"

#include <windows.h>

char *LeerTodo(const char *ruta)
{
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER tam;
    char *texto = NULL;
    DWORD leidos = 0;
    if (GetFileSizeEx(f, &tam) && tam.QuadPart < 0x40000000)
        texto = (char *)Pedir((SIZE_T)tam.QuadPart + 1);
    if (texto && !ReadFile(f, texto, (DWORD)tam.QuadPart, &leidos, NULL)) {
        Soltar(texto);
        texto = NULL;
    }
    CloseHandle(f);
    return texto;
}

char *SiguienteLinea(char **resto)
{
    while (*resto && **resto) {
        char *linea = CortarLinea(resto);
        if (linea[0])
            return linea;
    }
    return NULL;
}
