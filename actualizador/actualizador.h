/* The update engine: one call of Actualizar brings a game folder into line with the server's
   signed manifest. This is the whole interface a host (the installer, the game's launcher)
   sees, in C or C++; Actualizar is the only name the library defines for it. */
#ifndef ACTUALIZADOR_H
#define ACTUALIZADOR_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of Actualizar. 0 and 1 are success; any other code leaves its text in
   `error`. */
enum {
    ACT_LISTO = 0,           /* the folder matches the manifest */
    ACT_RELANZAR = 1,        /* as 0, and the host executable was replaced: restart it */
    ACT_SIN_SERVIDOR = 2,    /* no HTTP service, no manifest, or a file not downloaded */
    ACT_MANIFIESTO = 3,      /* the manifest is not acceptable */
    ACT_ARCHIVO = 4,         /* a game file could not be staged or written (archivoFallido) */
    ACT_JUEGO_ABIERTO = 5,   /* the game still runs after the wait, or another run holds the
                                folder ("otra actualizacion en curso") */
    ACT_NO_ES_JUEGO = 6,     /* the folder is not a game installation */
    ACT_INTERNO = 7          /* no SHA-256 provider, out of memory, or disk full */
};

/* Progress event: the record's datoProgreso, a fixed UTF-16 text, done and total (a total of
   0 marks an event without a measure). */
typedef void (*ProgresoFn)(void *dato, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total);

/* Log line as a format and its arguments, in the conventions of wsprintfA ("%s", "%d", "%lu"
   for a 32-bit unsigned value); the host formats it. */
typedef void (*AnotarFn)(const char *formato, ...) __attribute__((format(ms_printf, 1, 2)));

/* The host zero-fills the record and sets its own fields; the engine fills the rest. */
typedef struct Actualizacion {
    char carpeta[260];         /* host: game folder, absolute, no trailing backslash */
    char ejecutable[260];      /* host: the running host executable if a run may replace it */
    int modoInstalacion;       /* host: non-zero lets the folder be empty (first install) */
    int plazoMs;               /* host: non-zero gives a quick update check with this time-out */
    ProgresoFn progreso;       /* host: may be null */
    void *datoProgreso;        /* host: handed back to progreso */
    AnotarFn anotar;           /* host: may be null */
    char archivoFallido[260];  /* engine: manifest path of the file that failed */
    char error[512];           /* engine: text of the failure, empty after success */
    DWORD version;             /* engine: version of this run's manifest, 0 until parsed */
    int versionPrevia;         /* engine: 1 when a current-layout version was applied before */
    int verificarTodo;         /* host: non-zero ignores the hash cache: every file is hashed,
                                  what differs is healed and the cache is written afresh */
} Actualizacion;

int Actualizar(Actualizacion *a);

#ifdef __cplusplus
}
#endif

#endif
