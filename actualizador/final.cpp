// The finishing pass: hidden files, the delete list with its protection of player files, the
// sweep of Recursos, the hash cache, the version record and the staging folder. Every step is
// best effort; none fails the run.
#include "interno.h"

#include <string.h>

static Indice porRuta;
static int conIndice;

int EnManifiesto(const char *ruta)
{
    if (conIndice) {
        for (int i = PrimeroEnIndice(&porRuta, ruta); i >= 0; i = SiguienteEnIndice(&porRuta, i))
            if (lstrcmpiA(ent[i].ruta, ruta) == 0)
                return 1;
        return 0;
    }
    for (int i = 0; i < nEnt; i++)
        if (lstrcmpiA(ent[i].ruta, ruta) == 0)
            return 1;
    return 0;
}

// Player data is never deleted by a manifest, not even through a folder that holds it.
static int EsDatoDelJugador(const char *ruta)
{
    int n = lstrlenA(E->carpeta);
    return EnCarpeta(ruta, E->carpeta) && ruta[n] == '\\' && DelJugador(ruta + n + 1, 0);
}

static int EsEnlace(DWORD atributos)
{
    return atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_REPARSE_POINT);
}

void BorrarArbol(const char *ruta)
{
    // A link goes as a link; what it points to is never entered.
    if (EsEnlace(GetFileAttributesA(ruta))) {
        RemoveDirectoryA(ruta);
        return;
    }
    char patron[MAX_PATH], hijo[MAX_PATH];
    Unir(patron, ruta, "*");
    WIN32_FIND_DATAA d;
    HANDLE busqueda = patron[0] ? FindFirstFileA(patron, &d) : INVALID_HANDLE_VALUE;
    if (busqueda != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
                continue;
            Unir(hijo, ruta, d.cFileName);
            if (!hijo[0])
                continue;
            int carpeta = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (carpeta && EsEnlace(d.dwFileAttributes)) {
                RemoveDirectoryA(hijo);
            } else if (carpeta) {
                if (!EsDatoDelJugador(hijo))
                    BorrarArbol(hijo);
            } else {
                QuitarAtributos(hijo);
                DeleteFileA(hijo);
            }
        } while (FindNextFileA(busqueda, &d));
        FindClose(busqueda);
    }
    QuitarAtributos(ruta);
    RemoveDirectoryA(ruta);
}

static void Ocultar(void)
{
    for (int i = 0; i < nOcultos; i++) {
        char ruta[MAX_PATH];
        Unir(ruta, E->carpeta, ocultos[i]);
        // The attributes of a link are those of what it points to.
        DWORD a = ruta[0] && !CruzaEnlace(E->carpeta, ocultos[i], 1) ? GetFileAttributesA(ruta)
                                                                     : INVALID_FILE_ATTRIBUTES;
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_HIDDEN))
            SetFileAttributesA(ruta, a | FILE_ATTRIBUTE_HIDDEN);
    }
}

static int TokenSinPasar(void)
{
    char copia[MAX_PATH];
    WIN32_FIND_DATAA d;
    HANDLE busqueda = BuscarTokens(&d);
    if (busqueda == INVALID_HANDLE_VALUE)
        return 0;
    int falta = 0;
    do {
        DestinoDeToken(copia, d.cFileName);
        falta = !copia[0] || !Existe(copia);
    } while (!falta && FindNextFileA(busqueda, &d));
    FindClose(busqueda);
    return falta;
}

// An old location that still holds a player file without its copy in Recursos\Local stays.
int Protegido(const char *p)
{
    for (int i = 0; mover[i][0]; i++) {
        const char *desde = mover[i][0];
        // The delete line names the old location itself or a folder that holds it.
        int nombra = EnCarpeta(desde, p);
        char origen[MAX_PATH], destino[MAX_PATH];
        Unir(origen, E->carpeta, desde);
        Unir(destino, E->carpeta, mover[i][1]);
        if (nombra && Existe(origen) && !Existe(destino))
            return 1;
    }
    return lstrcmpiA(p, "INIT") == 0 && TokenSinPasar();
}

int TieneEntradas(const char *p)
{
    return EntradaEn(ent, nEnt, p, 0) >= 0;
}

static void BorrarLista(void)
{
    for (int i = 0; i < nBorrar; i++) {
        const char *p = borrar[i];
        char ruta[MAX_PATH];
        // The delete list never takes what this version brings: deleting it would leave every
        // later run to fetch it again, and to delete it again.
        if (EnManifiesto(p) || TieneEntradas(p))
            continue;
        // Nothing is deleted through a folder link; a link the line names goes as a link.
        Unir(ruta, E->carpeta, p);
        if (!ruta[0] || !Existe(ruta) || CruzaEnlace(E->carpeta, p, 0))
            continue;
        if (Protegido(p)) {
            if (E->anotar)
                E->anotar("  NO se borra %s: tiene archivos del jugador que no se pudieron pasar a Recursos\\Local", p);
            continue;
        }
        if (EsEnlace(GetFileAttributesA(ruta))) {
            BorrarArbol(ruta);
        } else {
            QuitarAtributos(ruta);
            if (EsCarpeta(ruta))
                BorrarArbol(ruta);
            else
                DeleteFileA(ruta);
        }
        if (!Existe(ruta) && E->anotar)
            E->anotar("  borrado (viejo) %s", p);
    }
}

static void LimpiarRecursos(const char *carpeta, const char *relativa)
{
    char patron[MAX_PATH];
    Unir(patron, carpeta, "*");
    WIN32_FIND_DATAA d;
    HANDLE busqueda = patron[0] ? FindFirstFileA(patron, &d) : INVALID_HANDLE_VALUE;
    if (busqueda == INVALID_HANDLE_VALUE)
        return;
    do {
        char ruta[MAX_PATH], rel[MAX_PATH];
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
            continue;
        Unir(ruta, carpeta, d.cFileName);
        Unir(rel, relativa, d.cFileName);
        if (!ruta[0] || !rel[0] || EsEnlace(d.dwFileAttributes))
            continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (DelJugador(rel, 0))
                continue;
            LimpiarRecursos(ruta, rel);
            RemoveDirectoryA(ruta);
        } else if (!EnManifiesto(rel) && lstrcmpiA(rel, "Recursos\\BRM.exe.local") != 0) {
            QuitarAtributos(ruta);
            if (DeleteFileA(ruta) && E->anotar)
                E->anotar("  borrado %s", rel);
        }
    } while (FindNextFileA(busqueda, &d));
    FindClose(busqueda);
}

// An empty or cut version.txt would read as version 0 and let an older signed manifest in.
static void EscribirVersion(void)
{
    char temporal[MAX_PATH], texto[16];
    HANDLE f = AbrirEstado(RUTA_VERSION, temporal);
    if (f == INVALID_HANDLE_VALUE)
        return;
    Formar(texto, sizeof texto, "%lu\n", E->version);
    CerrarEstado(f, temporal, RUTA_VERSION, EscribirEstado(f, texto, lstrlenA(texto)));
}

void Finalizar(int relanzar)
{
    Avisar(L"Terminando", 0, 0);
    // Without memory for the index, EnManifiesto searches the table instead.
    conIndice = CrearIndice(&porRuta, ent[0].ruta, nEnt, sizeof(Entrada));
    Ocultar();
    BorrarLista();
    char recursos[MAX_PATH];
    Unir(recursos, E->carpeta, "Recursos");
    DWORD a = GetFileAttributesA(recursos);
    if (a != INVALID_FILE_ATTRIBUTES && !EsEnlace(a))
        LimpiarRecursos(recursos, "Recursos");
    GuardarRecordados(nEnt);
    EscribirVersion();
    char descargas[MAX_PATH];
    Unir(descargas, E->carpeta, RUTA_DESCARGAS);
    BorrarArbol(descargas);
    if (E->anotar)
        E->anotar("actualizador: listo (version %lu)%s", E->version, relanzar ? ", se reabre el lanzador" : "");
    SoltarIndice(&porRuta);
    conIndice = 0;
}
