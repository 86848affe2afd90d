// Every pending file goes in place from its staged body: a copy beside the target, one move
// over it, and a size check at least 50 ms later, so that a program that removes a file right
// after it appears (an antivirus) is noticed. Moved files wait for their check in a queue while
// the next ones are placed. The first file that cannot be placed, in table order, ends the run.
#include "interno.h"

// The target and its ".nuevo" and ".viejo" names must all fit in a path.
#define LARGO_DESTINO (MAX_PATH - 1 - 6)
// The least time between a file's move and its size check.
#define ESPERA_TAM 50
// Moved files waiting for their check. Placing a small file takes a few milliseconds, so this
// covers the 50 ms; when it is full, the oldest is waited for.
#define EN_COLA 64

// The queue, oldest first, which is table order: the entry's index and the clock at its move.
static struct {
    int i;
    DWORD movido;
} cola[EN_COLA];
static int primera, enCola;
// The entry that ended the run: the hash cache counts only the entries before it as placed.
static int fallida;

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

// The staged body, the target and the target's temporary copy of an entry; 0 when the target's
// path cannot be formed or leaves no room for the suffixes.
static int Rutas(const Entrada *e, const char *descargas, char *bin, char *destino, char *nuevo)
{
    Formar(bin, MAX_PATH, "%s\\%s.bin", descargas, e->sha);
    Unir(destino, E->carpeta, e->ruta);
    return destino[0] && lstrlenA(destino) <= LARGO_DESTINO && NombreAlLado(nuevo, destino, e, ".nuevo", 0);
}

// One attempt: a fresh copy beside the target, moved over it. Returns 1 when moved; otherwise 0
// with the system error, and `lleno` set when the disk was full.
static int Mover(const char *bin, const char *destino, const char *nuevo, DWORD *error, int *lleno)
{
    QuitarAtributos(nuevo);
    DeleteFileA(nuevo);
    if (Existe(destino))
        QuitarAtributos(destino);
    if (CopyFileA(bin, nuevo, FALSE) && MoveFileExA(nuevo, destino, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;
    *error = GetLastError();
    if (DiscoLleno(*error)) {
        // A full disk leaves a partial copy behind; it must not stay.
        DeleteFileA(nuevo);
        *lleno = 1;
    }
    return 0;
}

static int TamBien(const Entrada *e, const char *destino, DWORD *error)
{
    ULONGLONG tam;
    if (TamFecha(destino, &tam, NULL) && tam == e->tam)
        return 1;
    *error = ERROR_INVALID_DATA;
    return 0;
}

// The attempts that follow `fallidos` failed ones, 500 ms apart, each moved copy checked 50 ms
// after its move, up to 12 in all. Returns 1 when placed; otherwise 0 with the error of the
// last attempt and whether the disk was full.
static int Copiar(const Entrada *e, const char *bin, const char *destino, const char *nuevo, int fallidos,
                  DWORD *error, int *lleno)
{
    for (int intento = fallidos + 1; intento <= 12; intento++) {
        if (intento > 1)
            dormir(500);
        if (Mover(bin, destino, nuevo, error, lleno)) {
            dormir(ESPERA_TAM);
            if (TamBien(e, destino, error))
                return 1;
        } else if (*lleno) {
            return 0;
        }
    }
    DeleteFileA(nuevo);
    return 0;
}

static int NoEscrito(int i, int lleno, DWORD error)
{
    fallida = i;
    lstrcpynA(E->archivoFallido, ent[i].ruta, sizeof E->archivoFallido);
    if (lleno)
        return Fallar(ACT_INTERNO, "disco lleno al escribir %s", ent[i].ruta);
    return Fallar(ACT_ARCHIVO, "no se pudo escribir %s (error %lu)", ent[i].ruta, error);
}

// Checks the queued entries in table order: each one whose 50 ms have passed, and the oldest,
// after a pause for what it still needs, as long as more than `quedan` wait. A size check that
// fails is the entry's first failed attempt; the others follow at once. Returns 0, or the
// failure's code.
static int Revisar(int quedan, const char *descargas)
{
    while (enCola > 0) {
        DWORD pasado = reloj() - cola[primera].movido;
        if (pasado < ESPERA_TAM && enCola <= quedan)
            return 0;
        // The clock decides, in case a pause ends early.
        for (; pasado < ESPERA_TAM; pasado = reloj() - cola[primera].movido)
            dormir(ESPERA_TAM - pasado);
        int i = cola[primera].i;
        primera = (primera + 1) % EN_COLA;
        enCola--;
        char bin[MAX_PATH], destino[MAX_PATH], nuevo[MAX_PATH];
        Rutas(&ent[i], descargas, bin, destino, nuevo);
        DWORD error;
        int lleno = 0;
        if (!TamBien(&ent[i], destino, &error) && !Copiar(&ent[i], bin, destino, nuevo, 1, &error, &lleno))
            return NoEscrito(i, lleno, error);
        if (E->anotar)
            E->anotar("  actualizado %s", ent[i].ruta);
    }
    return 0;
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

// Places an entry. Most go into the queue after their move; the host executable, and an entry
// whose first move failed or cannot be made, are placed and checked here, after every queued
// entry: so the log stays in table order and a failure is always the first one in table order.
static int Colocar(const Entrada *e, int i, const char *descargas, int *relanzar)
{
    char bin[MAX_PATH], destino[MAX_PATH], nuevo[MAX_PATH], viejo[MAX_PATH];
    int cabe = Rutas(e, descargas, bin, destino, nuevo);
    // The running host cannot be overwritten, but it can be renamed aside.
    int anfitrion = cabe && E->ejecutable[0] && lstrcmpiA(destino, E->ejecutable) == 0;
    cabe = cabe && (!anfitrion || NombreAlLado(viejo, destino, e, ".viejo", 1));
    Avisar(L"Instalando actualización", (ULONGLONG)i, (ULONGLONG)nEnt);
    // Nothing is written through a folder link: a link on the way fails the entry before
    // anything is cleared; one where the file goes is removed as a link, and fails it when it
    // cannot be. The queued entries before it are checked first, as for any failure.
    int enlace = CruzaEnlace(E->carpeta, e->ruta, 0);
    if (!enlace) {
        Despejar(e);
        enlace = CruzaEnlace(E->carpeta, e->ruta, 1);
    }
    if (enlace) {
        int resultado = Revisar(0, descargas);
        if (resultado)
            return resultado;
        char parte[MAX_PATH];
        lstrcpynA(parte, e->ruta, enlace + 1);
        fallida = i;
        lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
        return Fallar(ACT_ARCHIVO, "no se pudo escribir %s: %s es un enlace", e->ruta, parte);
    }
    CrearCarpetas(destino);

    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    int lleno = 0, fallidos = 0, apartado = 0, colocado = 0;
    if (cabe && !anfitrion) {
        if (Mover(bin, destino, nuevo, &error, &lleno)) {
            cola[(primera + enCola) % EN_COLA].i = i;
            cola[(primera + enCola) % EN_COLA].movido = reloj();
            enCola++;
            return 0;
        }
        fallidos = 1;
    }
    int resultado = Revisar(0, descargas);
    if (resultado) {
        if (cabe)
            DeleteFileA(nuevo);
        return resultado;
    }
    if (cabe && !lleno) {
        if (anfitrion) {
            QuitarAtributos(viejo);
            DeleteFileA(viejo);
            if (!MoveFileExA(destino, viejo, MOVEFILE_REPLACE_EXISTING)) {
                error = GetLastError();
                fallida = i;
                lstrcpynA(E->archivoFallido, e->ruta, sizeof E->archivoFallido);
                return Fallar(ACT_ARCHIVO, "no se pudo renombrar %s (error %lu)", destino, error);
            }
            *relanzar = 1;
            apartado = 1;
        }
        colocado = Copiar(e, bin, destino, nuevo, fallidos, &error, &lleno);
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
    return NoEscrito(i, lleno, error);
}

int Reemplazar(int *relanzar)
{
    char descargas[MAX_PATH];
    Unir(descargas, E->carpeta, RUTA_DESCARGAS);
    *relanzar = 0;
    primera = enCola = 0;
    int resultado = 0;
    for (int i = 0; i < nEnt && !resultado; i++) {
        if (!ent[i].pendiente)
            continue;
        resultado = Revisar(EN_COLA - 1, descargas);
        if (!resultado)
            resultado = Colocar(&ent[i], i, descargas, relanzar);
    }
    if (!resultado)
        resultado = Revisar(0, descargas);
    if (resultado) {
        // Pending entries from the failing one on hold their earlier content, or the new one
        // unchecked.
        GuardarRecordados(fallida);
        return resultado;
    }
    return 0;
}
