/* publicar: what its commands share. Key files hold lowercase hex: X then Y of the P-256
   point in NAME.pub, the same followed by the private scalar d in NAME.priv. */
#ifndef PUBLICAR_H
#define PUBLICAR_H

#include "consola.h"
#include "formato.h"

#include <bcrypt.h>

#define LARGO_PUBLICA 64
#define LARGO_PRIVADA 96

/* "publicar: <text>" on stderr; returns 1, the failure exit status of a command. Helpers
   return 1 on success and 0 after a Fracaso, as the engine's do. */
int Fracaso(const char *formato, ...) CON_FORMATO(1, 2);
void Uso(void);

/* ---- commands ---- */
int ComandoClave(int argc, char **argv);
int ComandoRelease(int argc, char **argv);
int ComandoVerificar(int argc, char **argv);

/* ---- keys and signatures (CNG) ---- */
/* Reads a key file of `largo` bytes as hex, with or without a final line feed; 1, or 0 after
   saying what is wrong. */
int LeerClave(const char *ruta, BYTE *clave, int largo);
int Firmar(const BYTE privada[LARGO_PRIVADA], const BYTE resumen[32], BYTE firma[64]);
/* 1 for a good signature, 0 for a bad one, -1 when the key is not a P-256 point. */
int FirmaCorrecta(const BYTE publica[LARGO_PUBLICA], const BYTE resumen[32], const BYTE firma[64]);
/* "BRMCLAVE-" and the first 8 bytes of the SHA-256 of X and Y, as the engine logs it. */
void EtiquetaClave(const BYTE publica[LARGO_PUBLICA], char etiqueta[26]);

/* ---- files ---- */
/* Absolute form of a folder argument without a trailing backslash; 0 when it does not fit. */
int RutaAbsoluta(const char *ruta, char absoluta[MAX_PATH]);
/* Reads a whole file of at most `capacidad` - 1 bytes and terminates it; 0 when it cannot or
   it is longer (then *largo is its size, or 0 when it cannot be opened). */
int LeerEntero(const char *ruta, char *bloque, DWORD capacidad, DWORD *largo);
/* Writes a new file; refuses one that exists. */
int EscribirNuevo(const char *ruta, const void *datos, DWORD largo);
/* Writes `ruta` through "<ruta>.tmp": written, flushed and its size checked before it takes
   the final name, so that no crash leaves the final name with other bytes. */
int EscribirSeguro(const char *ruta, const void *datos, DWORD largo);

/* ---- hashing, in blocks of BLOQUE_SHA through one block for the whole run ---- */
int AbrirSha(void);
void CerrarSha(void);
int Resumir(const void *datos, DWORD largo, BYTE resumen[32]);
/* Reads `de` to its end, hashing it and, with `hacia`, writing it there; counts the bytes
   in *cuenta and in the progress. 0 when a read, a write or the hash fails. */
int Pasar(HANDLE de, HANDLE hacia, ULONGLONG *cuenta, char sha[65]);
/* The digest of a file that must hold `tam` bytes; 0 when it cannot be read whole or its size
   is another. */
int Sha(const char *ruta, ULONGLONG tam, char sha[65]);
/* Progress of the work under way: its text, the file of the count, and the bytes of all. */
void EmpezarTarea(const wchar_t *texto, int archivos, ULONGLONG bytes);
void AvanzarTarea(int archivo);
void SumarBytes(ULONGLONG bytes);
/* The count of the task, to take back the bytes of a check whose file is then rewritten. */
ULONGLONG BytesHechos(void);
void FijarBytes(ULONGLONG bytes);
void TerminarTarea(void);

/* Checks a body file against its entry: 0 sound; otherwise what is wrong. */
enum { CUERPO_BIEN, CUERPO_FALTA, CUERPO_TAMANO, CUERPO_DIGEST };
int ComprobarCuerpo(const char *ruta, ULONGLONG tam, const char *sha, ULONGLONG *tamVisto);

#endif
