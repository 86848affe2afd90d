/* The run's state and the phases: declarations shared by the engine's files and its tests,
   nobody else. Nothing here is part of the interface a host uses; that is actualizador.h
   alone. */
#ifndef ACTUALIZADOR_INTERNO_H
#define ACTUALIZADOR_INTERNO_H

#include "actualizador.h"
#include "ayudas.h"
#include "formato.h"
#include <bcrypt.h>
#include <winhttp.h>

/* Fixed paths under the game folder. */
#define RUTA_ESTADO RUTA_LOCAL "\\Actualizador"
#define RUTA_VERSION RUTA_ESTADO "\\version.txt"
#define RUTA_HASHES RUTA_ESTADO "\\hashes.txt"
#define RUTA_DESCARGAS RUTA_ESTADO "\\descargas"
#define RUTA_SERVIDOR RUTA_AVANZADO "\\ServidorDescargas.txt"

/* A URL that a request accepts: 1023 characters and the terminator. */
#define LARGO_URL 1024
/* Read block of one transfer. */
#define BLOQUE_HTTP 65536
/* Bodies fetched at once. Under Wine each one in flight holds a thread of WinHTTP's pool, about
   1 MiB resident: 3 keep an install's peak within idle + 16 MiB, where 4 reach it, and still
   make rate-limited and latency-bound installs about three times as fast as one at a time. */
#define EN_VUELO 3

/* One line of the hash cache. */
struct Recordado {
    char ruta[260];
    ULONGLONG tam;
    ULONGLONG fecha;
    char sha[65];
};

/* State of a transfer sink: the memory sink uses salida as its block and lleno; the disk sink
   salida as its file handle, contado (the bytes the body has brought, which are the file's
   length unless the body went past tope) and tope (the size the manifest promises). HttpBajar
   sets corto when the body ended before the Content-Length its answer announced; WinHTTP keeps
   that length in 32 bits on some systems, so only a small body (the manifest) relies on it. */
struct Sumidero {
    void *salida;
    DWORD lleno;
    ULONGLONG contado;
    ULONGLONG tope;
    int corto;
};


typedef int (*SumideroFn)(Sumidero *s, const void *datos, DWORD largo);

/* One GET on the asynchronous session. WinHTTP's callback drives the request itself (the
   answer, then reads of what WinHTTP holds) and fills the two halves of `bloque` in turn: a
   full half is handed to the engine's thread (`lista`), and the callback goes on in the other
   one once the engine has given it back (`devuelta`), or stops (`parada`) until then; `relevo`
   asks the engine to issue the next read when more than ANIDADAS callbacks nest. A request
   whose next step is issued from its own callback stays on the WinHTTP thread already serving
   it, which keeps Wine's thread pool (each thread holds about 1 MiB) from growing with every
   step. SeguirTransferencia, on the engine's thread, writes the full halves to the sink in
   order and, once the callback reports the end (`fin`, with `respuesta` the HTTP status or 0
   for a failure), what the half being filled holds: every sink call happens on the engine's
   thread. `estado` is the result once enCurso is 0: that status, or 0 when the sink refused a
   block. */
#define ANIDADAS 8
struct Transferencia {
    HINTERNET conexion, peticion;
    HANDLE devuelta;
    DWORD hiloMotor;
    BYTE *bloque;
    ULONGLONG desde;
    Sumidero s;
    volatile LONG lista[2], parada, relevo, reiniciar, fin, anidadas, soltada;
    DWORD respuesta, estado;
    /* The callback's: the half it fills and how much of it is filled. */
    int llenando;
    DWORD lleno;
    /* The engine's: the half it writes next. */
    int escribir;
    int enCurso;
};

/* ---- state of the run in progress (one per process) ---- */
extern Actualizacion *E;
extern BCRYPT_ALG_HANDLE algSha;
extern HINTERNET sesion;
/* The session of the bodies' transfers, several at once, and the event that their completions
   set. */
extern HINTERNET sesionAsincrona;
extern HANDLE avisoHttp;
extern char urlBase[512];
extern Entrada *ent;
extern int nEnt;
extern char (*ocultos)[260];
extern int nOcultos;
extern char (*borrar)[260];
extern int nBorrar;
extern Recordado *rec;
extern int nRec, capRec;
extern ULONGLONG totalBajar, hechoTotal;

/* Every pause and every reading of the clock go through here, so that tests record pauses
   and move time themselves instead of sleeping through them. */
extern void (WINAPI *dormir)(DWORD ms);
extern DWORD (WINAPI *reloj)(void);
/* The wait for the mutex that serialises runs, which a test replaces as it does the pauses. */
extern DWORD (WINAPI *esperar)(HANDLE objeto, DWORD ms);

/* The rename that puts a state file in place; a test replaces it to stop a run right there,
   as a crash would. */
extern BOOL (WINAPI *renombrar)(LPCSTR de, LPCSTR hacia, DWORD opciones);

/* ---- reporting ---- */
void Avisar(const wchar_t *texto, ULONGLONG hecho, ULONGLONG total);
int Fallar(int codigo, const char *formato, ...) CON_FORMATO(2, 3);

/* ---- the version record and the launcher's signal ---- */
DWORD VersionVista(void);
/* State files (version.txt, hashes.txt) are written whole under a temporary name beside them,
   flushed and renamed over the old file, so that a crash or a power loss leaves the old file
   or the new one, never a part of one. AbrirEstado opens the temporary (`temporal`, a path
   buffer) in place of one a killed run left; EscribirEstado is 1 when all `largo` bytes went;
   CerrarEstado renames the temporary over the file when `bien`, and otherwise deletes it and
   leaves the old file as it was. */
HANDLE AbrirEstado(const char *relativa, char *temporal);
int EscribirEstado(HANDLE f, const char *datos, DWORD largo);
void CerrarEstado(HANDLE f, const char *temporal, const char *relativa, int bien);
void AvisarRelanzo(void);

/* ---- transfer ---- */
DWORD HttpBajar(const char *url, ULONGLONG desde, SumideroFn sumidero, Sumidero *s);
int AMemoria(Sumidero *s, const void *datos, DWORD largo);
int ADisco(Sumidero *s, const void *datos, DWORD largo);
/* Sends the request (its sink state already in t->s); 0 when the transfer ended at once. */
int EmpezarTransferencia(Transferencia *t, const char *url, ULONGLONG desde);
/* Handles the transfer's completion, when one came: 1 while it goes on, 0 once it ended. */
int SeguirTransferencia(Transferencia *t, SumideroFn sumidero);
/* Closes a transfer, ended or not, once WinHTTP lets go of it. */
void CerrarTransferencia(Transferencia *t);

/* ---- manifest ---- */
int ComprobarManifiesto(char *texto, DWORD largo);
int ObtenerManifiesto(void);

/* ---- change detection ---- */
/* Digest of a file as 64 lowercase hex digits; with `cuenta`, raises `texto` after each block. */
int ShaArchivo(const char *ruta, char sha[65], const wchar_t *texto, ULONGLONG *cuenta, ULONGLONG total);
/* Releases the hashing block that ShaArchivo keeps for the run. */
void SoltarBloqueSha(void);
void LeerRecordados(void);
/* Sets pendiente on every entry and returns how many are pending. */
int DecidirCambios(void);
/* Writes hashes.txt. Pending entries from index `colocados` on have not been put in place yet
   and get no line; after a complete run it is nEnt. */
void GuardarRecordados(int colocados);

/* ---- staging ---- */
int BajarPendientes(void);

/* ---- applying the update ---- */
/* Player files of the older layout and their places in Recursos\Local; ends with NULLs. */
extern const char *const mover[][2];
int ProcesoVivo(const char *nombre);
/* 1 when no game process runs from the folder, 0 when one still does after 30 s. */
int EsperarJuegoCerrado(void);
void MigrarJugador(void);
/* The player's tokens of the older layout (INIT\Token*.dat): the search of them, or
   INVALID_HANDLE_VALUE; and where a token of that name goes in Recursos\Local (empty when it
   does not fit). */
HANDLE BuscarTokens(WIN32_FIND_DATAA *d);
void DestinoDeToken(char *hacia, const char *nombre);
/* 1 when the manifest lists the relative path `ruta` (any letter case); a search of the table
   outside the finishing pass. */
int EnManifiesto(const char *ruta);
/* 1 when a manifest entry lies inside the folder `p` (relative, any letter case). */
int TieneEntradas(const char *p);
/* Removes a folder with everything in it, links as links and never the player's folders;
   best effort. */
void BorrarArbol(const char *ruta);
/* 1 when the relative path `p` names an old location that still holds a player file of the
   older layout without its copy in Recursos\Local. */
int Protegido(const char *p);
/* Puts every pending entry in place; 0, or the failure's code after the hash cache is
   written. `relanzar` tells whether the host executable was replaced. */
int Reemplazar(int *relanzar);
void Finalizar(int relanzar);

/* ---- start-up and teardown of the run ---- */
/* Opens the SHA-256 provider and the HTTP session and settles urlBase; 0 or a result code. */
int Conectar(void);
void PonerPlazos(int plazoMs);
void LeerUrlBase(void);
/* Releases the run's tables and sets every table and count as a new run finds them; the one
   place that resets the run's state. */
void SoltarTablas(void);
/* Closes what Conectar opened and releases the run's tables. */
void Liberar(void);

#endif
