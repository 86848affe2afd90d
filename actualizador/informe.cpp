// Reporting to the host: progress events and the single error path.
#include "interno.h"

#include <stdarg.h>

Actualizacion *E;

void Avisar(const wchar_t *texto, ULONGLONG hecho, ULONGLONG total)
{
    if (E->progreso)
        E->progreso(E->datoProgreso, texto, hecho, total);
}

int Fallar(int codigo, const char *formato, ...)
{
    // wvsprintfA writes at most 1024 characters and a terminator.
    char texto[1025];
    va_list args;
    va_start(args, formato);
    wvsprintfA(texto, formato, args);
    va_end(args);
    lstrcpynA(E->error, texto, sizeof E->error);
    if (E->anotar)
        E->anotar("ERROR (%d): %s", codigo, E->error);
    return codigo;
}
