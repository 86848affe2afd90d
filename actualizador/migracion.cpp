// Player files of the older layout move into Recursos\Local before any game file changes.
#include "interno.h"

const char *const mover[][2] = {
    {"Config.BRM", RUTA_LOCAL "\\Config.BRM"},
    {"Extras.BRM", RUTA_LOCAL "\\Extras.BRM"},
    {"INIT\\Gd.gdr", RUTA_LOCAL "\\Gd.gdr"},
    {NULL, NULL},
};

HANDLE BuscarTokens(WIN32_FIND_DATAA *d)
{
    char patron[MAX_PATH];
    Unir(patron, E->carpeta, "INIT\\Token*.dat");
    return patron[0] ? FindFirstFileA(patron, d) : INVALID_HANDLE_VALUE;
}

void DestinoDeToken(char *hacia, const char *nombre)
{
    char local[MAX_PATH];
    Unir(local, E->carpeta, RUTA_LOCAL);
    Unir(hacia, local, nombre);
}

static void MoverTokens(void)
{
    WIN32_FIND_DATAA d;
    HANDLE busqueda = CruzaEnlace(E->carpeta, "INIT", 1) ? INVALID_HANDLE_VALUE : BuscarTokens(&d);
    if (busqueda == INVALID_HANDLE_VALUE)
        return;
    do {
        char init[MAX_PATH], desde[MAX_PATH], hacia[MAX_PATH];
        Unir(init, E->carpeta, "INIT");
        Unir(desde, init, d.cFileName);
        DestinoDeToken(hacia, d.cFileName);
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
        // A player file reached through a folder link lies outside the game folder.
        if (!Existe(desde) || Existe(hacia) || CruzaEnlace(E->carpeta, mover[i][0], 0))
            continue;
        CrearCarpetas(hacia);
        QuitarAtributos(desde);
        int movido = MoveFileExA(desde, hacia, MOVEFILE_COPY_ALLOWED) ? 1 : 0;
        if (E->anotar)
            E->anotar("  migrado %s -> %s: %d", mover[i][0], mover[i][1], movido);
    }
    MoverTokens();
}
