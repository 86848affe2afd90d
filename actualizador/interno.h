/* Declarations shared by the engine's files and its tests. Nothing here is part of the
   interface a host uses; that is actualizador.h alone. */
#ifndef ACTUALIZADOR_INTERNO_H
#define ACTUALIZADOR_INTERNO_H

#include "actualizador.h"
#include <bcrypt.h>
#include <winhttp.h>

#define CON_FORMATO(f, a) __attribute__((format(ms_printf, f, a)))

/* Fixed paths under the game folder. */
#define RUTA_ESTADO "Recursos\\Local\\Actualizador"
#define RUTA_VERSION RUTA_ESTADO "\\version.txt"
#define RUTA_HASHES RUTA_ESTADO "\\hashes.txt"
#define RUTA_DESCARGAS RUTA_ESTADO "\\descargas"
#define RUTA_SERVIDOR "Recursos\\Avanzado\\ServidorDescargas.txt"

/* A URL that a request accepts: 1023 characters and the terminator. */
#define LARGO_URL 1024
/* Read block of one transfer. */
#define BLOQUE_HTTP 65536
/* The memory sink holds at most this much; its block has one byte more for a terminator. */
#define LIMITE_MANIFIESTO 1048576
/* Hashing block. */
#define BLOQUE_SHA 1048576

/* One manifest entry. */
struct Entrada {
    char ruta[260];
    ULONGLONG tam;
    char sha[65];
    int pendiente;
};

/* One line of the hash cache. */
struct Recordado {
    char ruta[260];
    ULONGLONG tam;
    ULONGLONG fecha;
    char sha[65];
};

/* State of a transfer sink: the memory sink uses salida as its block and lleno; the disk sink
   salida as its file handle, contado (the bytes the body has brought, which are the file's
   length unless the body went past tope) and tope (the size the manifest promises). */
struct Sumidero {
    void *salida;
    DWORD lleno;
    ULONGLONG contado;
    ULONGLONG tope;
};

/* Hash index over a table of records by a text key (a path or a digest). */
struct Indice {
    int *cubeta;     /* per bucket: first record + 1, 0 when empty */
    int *siguiente;  /* per record: next record of its chain + 1 */
    DWORD mascara;
};

typedef int (*SumideroFn)(Sumidero *s, const void *datos, DWORD largo);

/* ---- state of the run in progress (one per process) ---- */
extern Actualizacion *E;
extern BCRYPT_ALG_HANDLE algSha;
extern HINTERNET sesion;
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

/* ---- reporting ---- */
void Avisar(const wchar_t *texto, ULONGLONG hecho, ULONGLONG total);
int Fallar(int codigo, const char *formato, ...) CON_FORMATO(2, 3);

/* ---- helpers ---- */
int Formar(char *destino, int capacidad, const char *formato, ...) CON_FORMATO(3, 4);
void Unir(char *destino, const char *base, const char *relativa);
int Existe(const char *ruta);
int EsCarpeta(const char *ruta);
void QuitarAtributos(const char *ruta);
void CrearCarpetas(const char *ruta);
void *Pedir(SIZE_T tam);
void Soltar(void *bloque);
int LeerNumero(const char *texto, ULONGLONG *valor);
int EsHex(const char *texto, int n);
/* The text's first line, cut at its line feed; *resto moves to the line after it. */
char *CortarLinea(char **resto);
DWORD VersionVista(void);
void AvisarRelanzo(void);

/* ---- index ---- */
/* Indexes n records `paso` bytes apart; `claves` is the key field of the first record (for
   example &ent[0].sha). 0 when out of memory. */
int CrearIndice(Indice *x, const char *claves, int n, SIZE_T paso);
/* The records whose key may equal `clave`, in table order: the first, then each next; -1 ends. */
int PrimeroEnIndice(const Indice *x, const char *clave);
int SiguienteEnIndice(const Indice *x, int i);
void SoltarIndice(Indice *x);

/* ---- transfer ---- */
DWORD HttpBajar(const char *url, ULONGLONG desde, SumideroFn sumidero, Sumidero *s);
int AMemoria(Sumidero *s, const void *datos, DWORD largo);
int ADisco(Sumidero *s, const void *datos, DWORD largo);

/* ---- manifest ---- */
int RutaValida(const char *ruta);
int ComprobarManifiesto(char *texto, DWORD largo);
int ObtenerManifiesto(void);

/* ---- change detection ---- */
int TamFecha(const char *ruta, ULONGLONG *tam, ULONGLONG *fecha);
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
int YaBajadoAntes(int i);
int BajarPendientes(void);

/* ---- applying the update ---- */
/* Player files of the older layout and their places in Recursos\Local; ends with NULLs. */
extern const char *const mover[][2];
int ProcesoVivo(const char *nombre);
/* 1 when no game process runs from the folder, 0 when one still does after 30 s. */
int EsperarJuegoCerrado(void);
void MigrarJugador(void);
/* Puts every pending entry in place; 0, or the failure's code after the hash cache is
   written. `relanzar` tells whether the host executable was replaced. */
int Reemplazar(int *relanzar);
int EnManifiesto(const char *ruta);
void BorrarArbol(const char *ruta);
void LimpiarRecursos(const char *carpeta, const char *relativa);
void Finalizar(int relanzar);

/* ---- start-up and teardown of the run ---- */
/* Opens the SHA-256 provider and the HTTP session and settles urlBase; 0 or a result code. */
int Conectar(void);
void PonerPlazos(int plazoMs);
void LeerUrlBase(void);
/* Closes what Conectar opened and releases the run's tables. */
void Liberar(void);

#endif
