// The manifest's lines: the signature split, the header, and one classifier of the others,
// which the engine, the publisher's release and its check share.
#include "formato.h"

#include <string.h>

#define LARGO(palabra) ((int)sizeof palabra - 1)

static const struct {
    const char *palabra;
    int largo;
    int clase;
} palabras[] = {
    {PALABRA_VERSION, LARGO(PALABRA_VERSION), LINEA_VERSION},
    {PALABRA_OCULTO, LARGO(PALABRA_OCULTO), LINEA_OCULTO},
    {PALABRA_BORRAR, LARGO(PALABRA_BORRAR), LINEA_BORRAR},
};

// The class of the keyword the line begins with, and the keyword's length; LINEA_NADA for none.
static int Palabra(const char *linea, int *largo)
{
    for (const auto &p : palabras)
        if (strncmp(linea, p.palabra, p.largo) == 0) {
            *largo = p.largo;
            return p.clase;
        }
    return LINEA_NADA;
}

int EmpiezaConPalabra(const char *ruta)
{
    int largo;
    return Palabra(ruta, &largo) != LINEA_NADA;
}

// The signature line is the last line that begins with the keyword; the signed text is all
// that comes before it.
static char *LineaDeFirma(char *texto, DWORD largo)
{
    for (char *p = texto + largo - 1; p > texto; p--)
        if (p[-1] == '\n' && strncmp(p, PALABRA_FIRMA, LARGO(PALABRA_FIRMA)) == 0)
            return EsHex(p + LARGO(PALABRA_FIRMA), 128) ? p : NULL;
    return NULL;
}

const char *SepararFirma(char *texto, DWORD largo, BYTE firma[64], DWORD *firmado)
{
    if (strlen(texto) != largo)
        return "manifiesto con bytes nulos";
    char *linea = LineaDeFirma(texto, largo);
    if (!linea)
        return "manifiesto sin firma";
    DeHex(linea + LARGO(PALABRA_FIRMA), firma, 64);
    *firmado = (DWORD)(linea - texto);
    *linea = 0;
    return NULL;
}

void EscribirLineaFirma(char *destino, const BYTE firma[64])
{
    lstrcpyA(destino, PALABRA_FIRMA);
    AHex(firma, 64, destino + LARGO(PALABRA_FIRMA));
    lstrcatA(destino, "\n");
}

char *SiguienteLinea(char **resto)
{
    char *linea = CortarLinea(resto);
    char *cr = strchr(linea, '\r');
    if (cr)
        *cr = 0;
    return linea;
}

int LeerCabecera(const char *linea, const char **formato)
{
    // "BRMM " is the mark of every format; the number after it says which.
    const int marca = LARGO(CABECERA_MANIFIESTO) - 1;
    if (strncmp(linea, CABECERA_MANIFIESTO, marca) != 0)
        return -1;
    *formato = linea + marca;
    return strcmp(linea, CABECERA_MANIFIESTO) == 0;
}

// An entry's three fields: the path before the first bar, the size, the digest after the
// second bar (everything up to the end of the line).
static void ClasificarEntrada(char *linea, LineaManifiesto *l)
{
    char *barra1 = strchr(linea, '|');
    if (!barra1) {
        l->clase = LINEA_NADA;
        return;
    }
    char *barra2 = strchr(barra1 + 1, '|');
    if (!barra2) {
        l->clase = LINEA_SIN_CAMPOS;
        return;
    }
    l->texto = linea;
    l->largoRuta = (int)(barra1 - linea);
    l->sha = barra2 + 1;
    // The path rule reads a terminated path: the bar is put back at once.
    *barra1 = 0;
    int valida = RutaValida(linea);
    *barra1 = '|';
    int bien = valida && LeerNumero(barra1 + 1, &l->numero) && strlen(l->sha) == 64 && EsHex(l->sha, 64);
    l->clase = bien ? LINEA_ENTRADA : LINEA_ENTRADA_MALA;
}

// The byte at p's length is tested first, so that most entries cost one comparison.
int EntradaEn(const Entrada *tabla, int n, const char *p, int igual)
{
    int largo = lstrlenA(p);
    if (largo >= (int)sizeof tabla->ruta)
        return -1;
    for (int i = 0; i < n; i++) {
        char c = tabla[i].ruta[largo];
        if ((c == '\\' || (igual && c == 0)) && EnCarpeta(tabla[i].ruta, p))
            return i;
    }
    return -1;
}

int OtraConRuta(const Indice *x, const Entrada *tabla, int i)
{
    for (int j = PrimeroEnIndice(x, tabla[i].ruta); j >= 0; j = SiguienteEnIndice(x, j))
        if (j != i && lstrcmpiA(tabla[j].ruta, tabla[i].ruta) == 0)
            return j;
    return -1;
}

void ClasificarLinea(char *linea, LineaManifiesto *l)
{
    ZeroMemory(l, sizeof *l);
    int largo = 0;
    int clase = Palabra(linea, &largo);
    l->texto = linea + largo;
    if (clase == LINEA_VERSION)
        l->clase = LeerNumero(l->texto, &l->numero) ? LINEA_VERSION : LINEA_VERSION_MALA;
    else if (clase != LINEA_NADA)
        l->clase = RutaValida(l->texto) ? clase : LINEA_RUTA_MALA;
    else
        ClasificarEntrada(linea, l);
}
