/* Stateless helpers of the engine, which the tools share: bounded formatting, paths and
   attributes, memory, numbers, hex, line cutting, the path rule of the manifest and the hash
   index. Nothing here reads or changes the state of a run. */
#ifndef ACTUALIZADOR_AYUDAS_H
#define ACTUALIZADOR_AYUDAS_H

#include <windows.h>

#define CON_FORMATO(f, a) __attribute__((format(ms_printf, f, a)))

/* Hashing block. */
#define BLOQUE_SHA 65536

/* ---- formatting, paths, attributes, memory ---- */
/* Formats into `destino`; 0 and an empty text when the result does not fit. */
int Formar(char *destino, int capacidad, const char *formato, ...) CON_FORMATO(3, 4);
/* base, a backslash and relativa in a path buffer; empty when it would not fit. */
void Unir(char *destino, const char *base, const char *relativa);
int Existe(const char *ruta);
int EsCarpeta(const char *ruta);
void QuitarAtributos(const char *ruta);
/* Creates the folders above the last component of `ruta`. */
void CrearCarpetas(const char *ruta);
/* Whether `relativa` (under `base`) crosses a folder link: 0 when no component of it is a
   reparse point, else the length of its first part that is one. With `ultimo` 0 the last
   component is not looked at, for callers that handle a link there as a link. A missing
   component ends the search: nothing below it exists. */
int CruzaEnlace(const char *base, const char *relativa, int ultimo);
/* Size and last-write time of a file (not a folder); `fecha` may be null. */
int TamFecha(const char *ruta, ULONGLONG *tam, ULONGLONG *fecha);
void *Pedir(SIZE_T tam);
void Soltar(void *bloque);

/* ---- numbers, hex, lines ---- */
int LeerNumero(const char *texto, ULONGLONG *valor);
int EsHex(const char *texto, int n);
/* n bytes as 2n lowercase hex digits and a terminator. */
void AHex(const BYTE *bytes, int n, char *hex);
/* 2n digits that passed EsHex as n bytes. */
void DeHex(const char *hex, BYTE *bytes, int n);
/* The text's first line, cut at its line feed; *resto moves to the line after it. */
char *CortarLinea(char **resto);

/* ---- the player's folders and the path rule ---- */
/* Player data and advanced settings: the manifest may name nothing in them, and no pass of
   the engine deletes them. */
#define RUTA_LOCAL "Recursos\\Local"
#define RUTA_AVANZADO "Recursos\\Avanzado"
/* 1 when `ruta` is `carpeta` or lies inside it, in any letter case. */
int EnCarpeta(const char *ruta, const char *carpeta);
/* 1 when `relativa` (relative to the game folder) is one of the player's folders or, with
   `contenido`, lies inside one. */
int DelJugador(const char *relativa, int contenido);
/* A path the manifest may name: relative, allowed characters only, at most 180 of them, no
   spelling Windows would resolve elsewhere, and nothing in the player's folders. */
int RutaValida(const char *ruta);

/* ---- hash index over a table of records by a text key (a path or a digest) ---- */
struct Indice {
    int *cubeta;     /* per bucket: first record + 1, 0 when empty */
    int *siguiente;  /* per record: next record of its chain + 1 */
    DWORD mascara;
};
/* Indexes n records `paso` bytes apart; `claves` is the key field of the first record (for
   example &ent[0].sha). 0 when out of memory. */
int CrearIndice(Indice *x, const char *claves, int n, SIZE_T paso);
/* The records whose key may equal `clave`, in table order: the first, then each next; -1 ends. */
int PrimeroEnIndice(const Indice *x, const char *clave);
int SiguienteEnIndice(const Indice *x, int i);
void SoltarIndice(Indice *x);

#endif
