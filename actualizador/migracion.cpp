// Player files of the older layout move into Recursos\Local before any game file changes.
#include "interno.h"

const char *const mover[][2] = {
    {"Config.BRM", "Recursos\\Local\\Config.BRM"},
    {"Extras.BRM", "Recursos\\Local\\Extras.BRM"},
    {"INIT\\Gd.gdr", "Recursos\\Local\\Gd.gdr"},
    {NULL, NULL},
};

static void MoverTokens(void)
{
    char patron[MAX_PATH];
    Unir(patron, E->carpeta, "INIT\\Token*.dat");
    WIN32_FIND_DATAA d;
    HANDLE busqueda = patron[0] ? FindFirstFileA(patron, &d) : INVALID_HANDLE_VALUE;
    if (busqueda == INVALID_HANDLE_VALUE)
        return;
    do {
        char init[MAX_PATH], local[MAX_PATH], desde[MAX_PATH], hacia[MAX_PATH];
        Unir(init, E->carpeta, "INIT");
        Unir(local, E->carpeta, "Recursos\\Local");
        Unir(desde, init, d.cFileName);
        Unir(hacia, local, d.cFileName);
        if (!desde[0] || !hacia[0] || Existe(hacia))
            continue;
        CrearCarpetas(hacia);
        // Logged only when the token really moved: a line must not claim what did not happen.
        if (MoveFileExA(desde, hacia, MOVEFILE_COPY_ALLOWED) && E->anotar)
            E->anotar("  migrado INIT\\%s", d.cFileName);
    } while (FindNextFileA(busqueda, &d));
    FindClose(busqueda);
}

void MigrarJugador(void)
{
    for (int i = 0; mover[i][0]; i++) {
        char desde[MAX_PATH], hacia[MAX_PATH];
        Unir(desde, E->carpeta, mover[i][0]);
        Unir(hacia, E->carpeta, mover[i][1]);
        if (!Existe(desde) || Existe(hacia))
            continue;
        CrearCarpetas(hacia);
        QuitarAtributos(desde);
        int movido = MoveFileExA(desde, hacia, MOVEFILE_COPY_ALLOWED) ? 1 : 0;
        if (E->anotar)
            E->anotar("  migrado %s -> %s: %d", mover[i][0], mover[i][1], movido);
    }
    MoverTokens();
}
