// Every pending file goes in place from its staged body: a copy beside the target, one move
// over it, and a size check. The first file that cannot be placed ends the run.
#include "interno.h"

// The target and its ".nuevo" and ".viejo" names must all fit in a path.
#define LARGO_DESTINO (MAX_PATH - 1 - 6)

// The name beside the target `destino` (of the entry `e`) with `sufijo`, in `nombre`. When the
// manifest itself lists that name, a "~" follows it: no manifest path holds that character, so
// the engine's copy never takes the place of a file of the release. The new copy only looks
// when a file of that name is there (one placed later is simply placed over it); the host's
// backup always does. 0 when the name does not fit.
static int NombreAlLado(char *nombre, const char *destino, const Entrada *e, const char *sufijo, int siempre)
{
    char rel[MAX_PATH];
    if (!Formar(nombre, MAX_PATH, "%s%s", destino, sufijo))
        return 0;
    if ((siempre || Existe(nombre)) && Formar(rel, sizeof rel, "%s%s", e->ruta, sufijo) && EnManifiesto(rel))
        return Formar(nombre, MAX_PATH, "%s%s~", destino, sufijo);
    return 1;
}

static int DiscoLleno(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// Copies and moves the staged body over the target, up to 12 times. Returns 1 when placed;
// otherwise 0 with the error of the last attempt and whether the disk was full.
static int Copiar(const Entrada *e, const char *bin, const char *destino, const char *nuevo, DWORD *error,
                  int *lleno)
{
    for (int intento = 1;; intento++) {
        QuitarAtributos(nuevo);
        DeleteFileA(nuevo);
        if (Existe(destino))
            QuitarAtributos(destino);
        if (CopyFileA(bin, nuevo, FALSE) &&
            MoveFileExA(nuevo, destino, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            dormir(50);
            ULONGLONG tam;
            if (TamFecha(destino, &tam, NULL) && tam == e->tam)
                return 1;
            *error = ERROR_INVALID_DATA;
        } else {
            *error = GetLastError();
            if (DiscoLleno(*error)) {
                // A full disk leaves a partial copy behind; it must not stay.
                DeleteFileA(nuevo);
                *lleno = 1;
                return 0;
            }
        }
        if (intento == 12) {
            DeleteFileA(nuevo);
            return 0;
        }
        dormir(500);
    }
}

// Whether a folder (relative) holds something no update may remove: an entry of the manifest,
// one of the player's folders, or a player file of the older layout still waiting to move.
static int GuardaAlgo(const char *carpeta)
{
    return TieneEntradas(carpeta) || EnCarpeta(RUTA_LOCAL, carpeta) || EnCarpeta(RUTA_AVANZADO, carpeta) ||
           Protegido(carpeta);
}

// A release may turn a file into a folder or a folder into a file; the finishing pass that
// would sweep the old shape never runs after a failed replacement, so what stands in the
// entry's way goes first and one run converges. A file on the entry's path that the manifest
// does not list is deleted (a file link as a link); a folder where the entry's file goes is
// removed when it holds nothing an update must keep (a folder link as a link).
static void Despejar(const Entrada *e)
{
    char rel[MAX_PATH], ruta[MAX_PATH];
    lstrcpynA(rel, e->ruta, sizeof rel);
    for (char *p = rel; *p; p++) {
        if (*p != '\\')
            continue;
        *p = 0;
        Unir(ruta, E->carpeta, rel);
        DWORD a = ruta[0] ? GetFileAttributesA(ruta) : INVALID_FILE_ATTRIBUTES;
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && !EnManifiesto(rel)) {
            QuitarAtributos(ruta);
            if (DeleteFileA(ruta) && E->anotar)
                E->anotar("  borrado %s", rel);
        }
        *p = '\\';
    }
    Unir(ruta, E->carpeta, e->ruta);
    if (ruta[0] && EsCarpeta(ruta) && !GuardaAlgo(e->ruta)) {
        BorrarArbol(ruta);
        if (!Existe(ruta) && E->anotar)
            E->anotar("  borrado %s", e->ruta);
    }
}

static int Colocar(const Entrada *e, int i, const char *descargas, int *relanzar)
{
    char bin[MAX_PATH], destino[MAX_PATH], nuevo[MAX_PATH], viejo[MAX_PATH];
    Formar(bin, sizeof bin, "%s\\%s.bin", descargas, e->sha);
    Unir(destino, E->carpeta, e->ruta);
    Avisar(L"Instalando actualización", (ULONGLONG)i, (ULONGLONG)nEnt);
    // Nothing is written through a folder link: a link on the way fails the entry before
    // anything is cleared; one where the file goes is removed as a link, and fails it when it
    // cannot be.
    int enlace = CruzaEnlace(E->carpeta, e->ruta, 0);
    if (!enlace) {
        Despejar(e);
        enlace = CruzaEnlace(E->carpeta, e->ruta, 1);
    }
    if (enlace) {
        char parte[MAX_PATH];
        lstrcpynA(parte, e->ruta, enlace + 1);
        lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
        return Fallar(ACT_ARCHIVO, "no se pudo escribir %s: %s es un enlace", e->ruta, parte);
    }
    CrearCarpetas(destino);

    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    int lleno = 0, apartado = 0, colocado = 0;
    int host = E->ejecutable[0] && lstrcmpiA(destino, E->ejecutable) == 0;
    if (destino[0] && lstrlenA(destino) <= LARGO_DESTINO && NombreAlLado(nuevo, destino, e, ".nuevo", 0) &&
        NombreAlLado(viejo, destino, e, ".viejo", host)) {
        // The running host cannot be overwritten, but it can be renamed aside.
        if (host) {
            QuitarAtributos(viejo);
            DeleteFileA(viejo);
            if (!MoveFileExA(destino, viejo, MOVEFILE_REPLACE_EXISTING)) {
                error = GetLastError();
                lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
                return Fallar(ACT_ARCHIVO, "no se pudo renombrar %s (error %lu)", destino, error);
            }
            *relanzar = 1;
            apartado = 1;
        }
        colocado = Copiar(e, bin, destino, nuevo, &error, &lleno);
    }
    if (colocado) {
        if (E->anotar)
            E->anotar("  actualizado %s", e->ruta);
        return 0;
    }
    if (apartado && !Existe(destino)) {
        MoveFileExA(viejo, destino, 0);
        *relanzar = 0;
    }
    lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
    if (lleno)
        return Fallar(ACT_INTERNO, "disco lleno al escribir %s", e->ruta);
    return Fallar(ACT_ARCHIVO, "no se pudo escribir %s (error %lu)", e->ruta, error);
}

int Reemplazar(int *relanzar)
{
    char descargas[MAX_PATH];
    Unir(descargas, E->carpeta, RUTA_DESCARGAS);
    *relanzar = 0;
    for (int i = 0; i < nEnt; i++) {
        if (!ent[i].pendiente)
            continue;
        int resultado = Colocar(&ent[i], i, descargas, relanzar);
        if (resultado) {
            // Entries from i on that are pending still hold their earlier content.
            GuardarRecordados(i);
            return resultado;
        }
    }
    return 0;
}
