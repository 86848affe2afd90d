/* The manifest's format, as the engine reads it and the publisher's tool writes and checks
   it. */
#ifndef ACTUALIZADOR_FORMATO_H
#define ACTUALIZADOR_FORMATO_H

#include "ayudas.h"

/* The memory sink holds at most this much; its block has one byte more for a terminator. */
#define LIMITE_MANIFIESTO 1048576

/* The lines of a manifest: the header, then lines that begin with a keyword and entry lines
   "path|size|digest" in any order, and last the signature line over everything before it. */
#define CABECERA_MANIFIESTO "BRMM 1"
#define PALABRA_VERSION "version "
#define PALABRA_OCULTO "oculto "
#define PALABRA_BORRAR "borrar "
#define PALABRA_FIRMA "firma "
#define FORMATO_ENTRADA "%s|%I64u|%s\n"
/* The signature line: the keyword, 128 hex digits (r then s of the P-256 signature of the
   SHA-256 of the signed text) and a line feed. */
#define LARGO_LINEA_FIRMA (sizeof PALABRA_FIRMA - 1 + 128 + 1)

/* One manifest entry. */
struct Entrada {
    char ruta[260];
    ULONGLONG tam;
    char sha[65];
    int pendiente;
};

/* What a line is. */
enum {
    LINEA_NADA,          /* no keyword and no bar: not read */
    LINEA_VERSION,       /* numero: the version */
    LINEA_VERSION_MALA,  /* the keyword without a number */
    LINEA_OCULTO,        /* texto: a path the rule accepts */
    LINEA_BORRAR,        /* texto: a path the rule accepts */
    LINEA_RUTA_MALA,     /* "oculto " or "borrar " with a path the rule refuses */
    LINEA_ENTRADA,       /* texto: the path (largoRuta characters), numero: the size, sha */
    LINEA_SIN_CAMPOS,    /* a bar without a second one */
    LINEA_ENTRADA_MALA   /* three fields; the path, the size or the digest is not acceptable;
                            texto and largoRuta: the path */
};

struct LineaManifiesto {
    int clase;
    const char *texto;
    int largoRuta;
    ULONGLONG numero;
    const char *sha;
};

/* Takes the signature line off a manifest of `largo` bytes: the signature's bytes, the length
   of the signed text, and the text cut there. NULL, or why the manifest has no signature to
   check ("manifiesto con bytes nulos", "manifiesto sin firma"). */
const char *SepararFirma(char *texto, DWORD largo, BYTE firma[64], DWORD *firmado);
/* The next line, cut at its line feed and at a carriage return; *resto moves past it. */
char *SiguienteLinea(char **resto);
/* The first line: 1 for CABECERA_MANIFIESTO; 0 for "BRMM " and another format, with *formato
   on what follows; -1 for a text that is no manifest. */
int LeerCabecera(const char *linea, const char **formato);
/* Classifies a line after the header; the line is left as it is. */
void ClasificarLinea(char *linea, LineaManifiesto *l);
/* 1 when an entry of this path would be read as a line that begins with a keyword. */
int EmpiezaConPalabra(const char *ruta);
/* The signature line of `firma`, terminated: LARGO_LINEA_FIRMA characters and a 0. */
void EscribirLineaFirma(char *destino, const BYTE firma[64]);

/* ---- tables of entries ---- */
/* The first entry of `tabla` (n entries) that lies inside the folder `p` (relative, any letter
   case) or, with `igual`, names `p` itself; -1 when none. */
int EntradaEn(const Entrada *tabla, int n, const char *p, int igual);
/* The first other entry of `tabla` that names the same file as tabla[i], in any letter case,
   looked up in `x`, an index of the table by path; -1 when none. Chains keep table order, so
   for the later one of two this is the earlier. */
int OtraConRuta(const Indice *x, const Entrada *tabla, int i);

#endif
