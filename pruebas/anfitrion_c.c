/* A host written in C that links the engine library and defines, for its own use, names the
   engine uses inside (its tables, state and helpers). It links only when Actualizar has C
   linkage and the library keeps every other name to itself; run, it must reach the engine.
   Exits 0 when the engine refused a folder that is no game, as it must. */
#include "actualizador.h"

#include <stdio.h>
#include <string.h>

int ent;
int nEnt;
int rec;
char urlBase[8];
char *borrar;
void *sesion;
void *E;
int dormir;
int Unir(int a, int b) { return a + b; }
int Fallar(int codigo) { return codigo; }
int Liberar(void) { return 0; }

int main(void)
{
    static Actualizacion a;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    snprintf(a.carpeta, sizeof a.carpeta, "%sbrm-anfitrion-c-%lu", tmp, GetCurrentProcessId());
    ent = Unir(1, 2) + Fallar(0) + Liberar();
    int r = Actualizar(&a);
    printf("Actualizar: %d (%s)\n", r, a.error);
    return r == ACT_NO_ES_JUEGO && strstr(a.error, "no parece una instalacion del juego") != NULL && ent == 3 ? 0 : 1;
}
