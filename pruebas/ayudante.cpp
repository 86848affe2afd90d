// A second process for the tests:
//   ayudante mutex MS              takes the engine's mutex, sets "Local\BRM_PruebaListo",
//                                  holds the mutex for MS ms and lets it go
//   ayudante correr CARPETA PLAZO  runs Actualizar on CARPETA (first install, plazoMs PLAZO)
//                                  and prints each log line after the tick count it came at
//   ayudante dormir MS             just lives for MS ms (copied under a game's name, it is
//                                  the game running)
#include "actualizador.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Anotar(const char *formato, ...) __attribute__((format(ms_printf, 1, 2)));
static void Anotar(const char *formato, ...)
{
    char texto[2048];
    va_list args;
    va_start(args, formato);
    wvsprintfA(texto, formato, args);
    va_end(args);
    printf("%llu %s\n", (unsigned long long)GetTickCount64(), texto);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "mutex")) {
        HANDLE m = CreateMutexA(NULL, FALSE, "Local\\BRM_Actualizador");
        WaitForSingleObject(m, INFINITE);
        HANDLE listo = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Local\\BRM_PruebaListo");
        if (listo)
            SetEvent(listo);
        Sleep(atoi(argv[2]));
        ReleaseMutex(m);
        return 0;
    }
    if (argc == 3 && !strcmp(argv[1], "dormir")) {
        Sleep(atoi(argv[2]));
        return 0;
    }
    if (argc == 4 && !strcmp(argv[1], "correr")) {
        static Actualizacion a;
        lstrcpynA(a.carpeta, argv[2], sizeof a.carpeta);
        a.modoInstalacion = 1;
        a.plazoMs = atoi(argv[3]);
        a.anotar = Anotar;
        int r = Actualizar(&a);
        Anotar("fin %d", r);
        return r;
    }
    return 100;
}
