// The run: start-up, the phases in their order, and the teardown that releases everything;
// the run's state, the version record and the launcher's signal.
#include "interno.h"
#include "ajustes.h"

BCRYPT_ALG_HANDLE algSha;
HINTERNET sesion, sesionAsincrona;
HANDLE avisoHttp;
char urlBase[512];
Entrada *ent;
int nEnt;
char (*ocultos)[260];
int nOcultos;
char (*borrar)[260];
int nBorrar;
Recordado *rec;
int nRec, capRec;
ULONGLONG totalBajar, hechoTotal;

void (WINAPI *dormir)(DWORD ms) = Sleep;
DWORD (WINAPI *reloj)(void) = GetTickCount;
DWORD (WINAPI *esperar)(HANDLE objeto, DWORD ms) = WaitForSingleObject;
BOOL (WINAPI *renombrar)(LPCSTR de, LPCSTR hacia, DWORD opciones) = MoveFileExA;

// The first `capacidad` - 1 bytes of a file of the game folder, terminated; 0 when it cannot
// be opened. A failed read leaves the text empty.
static int LeerPrincipio(const char *relativa, char *texto, DWORD capacidad, DWORD *leidos)
{
    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, relativa);
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    *leidos = 0;
    if (!ReadFile(f, texto, capacidad - 1, leidos, NULL))
        *leidos = 0;
    CloseHandle(f);
    texto[*leidos] = 0;
    return 1;
}

// The version of the last manifest applied, from version.txt; 0 without one.
DWORD VersionVista(void)
{
    char texto[32];
    DWORD leidos;
    if (!LeerPrincipio(RUTA_VERSION, texto, sizeof texto, &leidos))
        return 0;
    ULONGLONG v;
    LeerNumero(texto, &v);
    return (DWORD)v;
}

HANDLE AbrirEstado(const char *relativa, char *temporal)
{
    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, relativa);
    if (!ruta[0] || !Formar(temporal, MAX_PATH, "%s.nuevo", ruta))
        return INVALID_HANDLE_VALUE;
    // CREATE_ALWAYS refuses a hidden or system file, and Windows a read-only one.
    QuitarAtributos(temporal);
    return CreateFileA(temporal, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
}

int EscribirEstado(HANDLE f, const char *datos, DWORD largo)
{
    DWORD escritos = 0;
    return WriteFile(f, datos, largo, &escritos, NULL) && escritos == largo;
}

void CerrarEstado(HANDLE f, const char *temporal, const char *relativa, int bien)
{
    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, relativa);
    bien = bien && FlushFileBuffers(f);
    CloseHandle(f);
    if (bien) {
        // Windows does not rename over a read-only file.
        QuitarAtributos(ruta);
        bien = renombrar(temporal, ruta, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!bien)
        DeleteFileA(temporal);
}

// Sets the event of the game's launcher, when one runs and owns it.
void AvisarRelanzo(void)
{
    HANDLE evento = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Local\\BRM_Relanzo");
    if (evento) {
        SetEvent(evento);
        CloseHandle(evento);
    }
}

// An earlier run may have moved the running host executable aside, under ".viejo" or, when
// the manifest listed that name, ".viejo~"; it is free now. A name the manifest lists is a
// file of the game and stays, so this runs once the manifest is known.
static void BorrarEjecutableViejo(void)
{
    static const char *const sufijos[] = {".viejo", ".viejo~"};
    int n = lstrlenA(E->carpeta);
    for (const char *sufijo : sufijos) {
        char viejo[MAX_PATH];
        if (!E->ejecutable[0] || !Formar(viejo, sizeof viejo, "%s%s", E->ejecutable, sufijo))
            return;
        if (EnCarpeta(viejo, E->carpeta) && viejo[n] == '\\' &&
            (EnManifiesto(viejo + n + 1) || CruzaEnlace(E->carpeta, viejo + n + 1, 0)))
            continue;
        for (int intento = 0; intento < 20; intento++) {
            if (!Existe(viejo))
                break;
            QuitarAtributos(viejo);
            if (DeleteFileA(viejo))
                break;
            dormir(150);
        }
    }
}

static int EsInstalacionVieja(void)
{
    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, "Corvalis.exe");
    if (Existe(ruta))
        return 1;
    Unir(ruta, E->carpeta, "INIT");
    return EsCarpeta(ruta);
}

// `resolver` is the time-out of a name's resolution, 0 for none of its own.
static void PlazosDe(HINTERNET de, int plazoMs, int resolver)
{
    int recibir = plazoMs ? plazoMs : 30000;
    if (plazoMs)
        WinHttpSetTimeouts(de, resolver ? plazoMs : 0, plazoMs, plazoMs, plazoMs);
    else
        WinHttpSetTimeouts(de, resolver, 10000, 15000, recibir);
    // Some WinHTTP implementations (Wine's) wait for the response headers under a time-out of
    // their own that the call above leaves unlimited; a stalled server must not outlast ours.
    WinHttpSetOption(de, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &recibir, sizeof recibir);
}

// The bodies' session resolves names with no time-out of its own: Wine runs a resolution under
// a time-out on a thread of its own, one more thread (and a megabyte of memory) per transfer
// in flight. The manifest's request has just resolved the same name under its time-out.
void PonerPlazos(int plazoMs)
{
    PlazosDe(sesion, plazoMs, 10000);
    PlazosDe(sesionAsincrona, plazoMs, 0);
}

// The default base URL, or the one the override file names. The override is taken only when
// its first line fits: a URL cut at the read limit would send every request elsewhere.
void LeerUrlBase(void)
{
    lstrcpynA(urlBase, URL_BASE_DEFECTO, sizeof urlBase);
    // One byte more than the URL may hold tells whether the line goes on past it.
    char texto[512];
    DWORD leidos;
    if (!LeerPrincipio(RUTA_SERVIDOR, texto, sizeof texto, &leidos))
        return;
    // A NUL ends the line too: the length must stop where the copied text will.
    DWORD largo = 0;
    while (largo < leidos && texto[largo] && texto[largo] != '\n' && texto[largo] != '\r' && texto[largo] != ' ')
        largo++;
    texto[largo] = 0;
    // Room for the "/" that may be appended and the terminator.
    if (largo > 0 && largo <= sizeof urlBase - 2) {
        lstrcpynA(urlBase, texto, sizeof urlBase);
        if (urlBase[largo - 1] != '/')
            lstrcatA(urlBase, "/");
    }
    if (E->anotar)
        E->anotar("servidor de descargas de pruebas: %s", urlBase);
}

static HINTERNET AbrirSesion(DWORD opciones)
{
    HINTERNET s = WinHttpOpen(L"Brumaria/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, opciones);
    if (!s)
        s = WinHttpOpen(L"Brumaria/1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, opciones);
    DWORD protocolos = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                       WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (s)
        WinHttpSetOption(s, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocolos, sizeof protocolos);
    return s;
}

int Conectar(void)
{
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algSha, BCRYPT_SHA256_ALGORITHM, NULL, 0))) {
        algSha = NULL;
        return Fallar(ACT_INTERNO, "BCrypt no disponible");
    }
    sesion = AbrirSesion(0);
    sesionAsincrona = sesion ? AbrirSesion(WINHTTP_FLAG_ASYNC) : NULL;
    if (!sesionAsincrona)
        return Fallar(ACT_SIN_SERVIDOR, "WinHTTP no disponible (error %lu)", GetLastError());
    avisoHttp = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!avisoHttp)
        return Fallar(ACT_INTERNO, "sin memoria");
    PonerPlazos(E->plazoMs);
    LeerUrlBase();
    return 0;
}

void SoltarTablas(void)
{
    SoltarBloqueSha();
    Soltar(ent);
    Soltar(ocultos);
    Soltar(borrar);
    Soltar(rec);
    ent = NULL;
    ocultos = NULL;
    borrar = NULL;
    rec = NULL;
    nEnt = nOcultos = nBorrar = nRec = capRec = 0;
    totalBajar = hechoTotal = 0;
}

void Liberar(void)
{
    if (sesionAsincrona) {
        WinHttpCloseHandle(sesionAsincrona);
        sesionAsincrona = NULL;
    }
    if (sesion) {
        WinHttpCloseHandle(sesion);
        sesion = NULL;
    }
    if (avisoHttp) {
        CloseHandle(avisoHttp);
        avisoHttp = NULL;
    }
    if (algSha) {
        BCryptCloseAlgorithmProvider(algSha, 0);
        algSha = NULL;
    }
    SoltarTablas();
}

// The phases in their order; the first failure ends the run. A success is 1 when the host
// executable was replaced, else 0.
static int Fases(int vieja)
{
    int resultado = ObtenerManifiesto();
    if (resultado)
        return resultado;
    BorrarEjecutableViejo();
    // A repair run trusts no cache line: every file of the right size is hashed.
    if (!E->verificarTodo)
        LeerRecordados();
    else if (E->anotar)
        E->anotar("  se verifican todos los archivos");
    int pendientes = DecidirCambios();
    if (pendientes && (resultado = BajarPendientes()) != 0)
        return resultado;
    // With nothing to replace, only an older-layout folder waits: its player files move.
    if ((pendientes || vieja) && !EsperarJuegoCerrado())
        return Fallar(ACT_JUEGO_ABIERTO, "el juego sigue abierto");
    MigrarJugador();
    int relanzar = 0;
    if (pendientes && (resultado = Reemplazar(&relanzar)) != 0)
        return resultado;
    Finalizar(relanzar);
    return relanzar;
}

int Actualizar(Actualizacion *a)
{
    E = a;
    E->error[0] = 0;
    E->archivoFallido[0] = 0;
    E->version = 0;
    SoltarTablas();

    int vieja = EsInstalacionVieja();
    if (vieja)
        AvisarRelanzo();

    char ruta[MAX_PATH];
    Unir(ruta, E->carpeta, "Recursos\\BRM.exe");
    E->versionPrevia = !vieja && Existe(ruta) && VersionVista() != 0;

    Unir(ruta, E->carpeta, "Recursos");
    if (!E->modoInstalacion && !vieja && !EsCarpeta(ruta))
        return Fallar(ACT_NO_ES_JUEGO, "%s no parece una instalacion del juego", E->carpeta);

    // Everything the run writes for itself lies in these folders: one that is a folder link, or
    // lies under one, would take those writes outside the game folder.
    int enlace = CruzaEnlace(E->carpeta, RUTA_DESCARGAS, 1);
    if (enlace) {
        lstrcpynA(E->archivoFallido, RUTA_DESCARGAS, enlace + 1);
        return Fallar(ACT_ARCHIVO, "%s es un enlace: el actualizador no escribe a traves de el", E->archivoFallido);
    }

    // Serialises the installer and the launcher. Two runs on one folder would share its ".part"
    // files and its cache, so a run that does not get the mutex in the wait touches nothing,
    // not even the host executable an earlier run left aside. A mutex whose holder died
    // (abandoned) is ours like a free one. Without a mutex at all the run goes on unguarded.
    HANDLE exclusion = CreateMutexA(NULL, FALSE, "Local\\BRM_Actualizador");
    if (exclusion && esperar(exclusion, 600000) == WAIT_TIMEOUT) {
        CloseHandle(exclusion);
        return Fallar(ACT_JUEGO_ABIERTO, "otra actualizacion en curso");
    }

    Unir(ruta, E->carpeta, RUTA_ESTADO "\\x");
    CrearCarpetas(ruta);

    if (E->anotar)
        E->anotar("actualizador: buscando actualizaciones%s (%s)", vieja ? " (instalacion vieja)" : "",
                  ETIQUETA_CLAVE);
    Avisar(L"Buscando actualizaciones", 0, 0);

    int resultado = Conectar();
    if (resultado == 0)
        resultado = Fases(vieja);

    Liberar();
    if (exclusion) {
        ReleaseMutex(exclusion);
        CloseHandle(exclusion);
    }
    return resultado;
}
