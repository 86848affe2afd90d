// The signed manifest: its signature against the built-in key, its lines, and the rule every
// path in it must meet.
#include "interno.h"
#include "ajustes.h"

#include <string.h>

static const BYTE clavePublica[64] = {CLAVE_PUBLICA_BYTES};

static int Permitido(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '(' || c == ')' || c == '-' || c == '.' || c == '_' || c == '\\';
}

// True for "Recursos\Local" itself and anything inside it, in any letter case.
static int DentroDe(const char *ruta, int largo, const char *carpeta, int n)
{
    if (largo < n || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ruta, n, carpeta, n) != CSTR_EQUAL)
        return 0;
    return ruta[n] == 0 || ruta[n] == '\\';
}

static int EsDispositivo(const char *nombre, int largo)
{
    // Windows drops an extension and trailing spaces from a device name: "nul .txt" is NUL.
    int base = 0;
    while (base < largo && nombre[base] != '.')
        base++;
    while (base > 0 && nombre[base - 1] == ' ')
        base--;
    static const char *const reservados[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *r : reservados)
        if (base == 3 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, r, 3) == CSTR_EQUAL)
            return 1;
    if (base == 4 && nombre[3] >= '1' && nombre[3] <= '9' &&
        (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, "COM", 3) == CSTR_EQUAL ||
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, nombre, 3, "LPT", 3) == CSTR_EQUAL))
        return 1;
    return 0;
}

// Windows resolves some spellings to another file than the one they name: it drops a
// component ".", trailing dots and spaces, and empty components, and opens a device for a
// reserved name. Any of them could lead a path into the player's folder or to a device.
static int ComponentesLimpios(const char *ruta)
{
    const char *inicio = ruta;
    for (const char *p = ruta;; p++) {
        if (*p != '\\' && *p != 0)
            continue;
        int largo = (int)(p - inicio);
        if (largo == 0 || inicio[largo - 1] == '.' || inicio[largo - 1] == ' ' || EsDispositivo(inicio, largo))
            return 0;
        if (*p == 0)
            return 1;
        inicio = p + 1;
    }
}

int RutaValida(const char *ruta)
{
    if (!ruta[0] || ruta[0] == '\\' || strstr(ruta, ".."))
        return 0;
    int largo = 0;
    for (; ruta[largo]; largo++)
        if (!Permitido(ruta[largo]))
            return 0;
    if (largo > 180)
        return 0;
    if (DentroDe(ruta, largo, "Recursos\\Local", 14) || DentroDe(ruta, largo, "Recursos\\Avanzado", 17))
        return 0;
    return ComponentesLimpios(ruta);
}

static int FirmaValida(const char *texto, DWORD largo, const BYTE firma[64])
{
    BYTE resumen[32];
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = BCRYPT_SUCCESS(BCryptCreateHash(algSha, &hash, NULL, 0, NULL, 0, 0)) &&
             BCRYPT_SUCCESS(BCryptHashData(hash, (PUCHAR)texto, largo, 0)) &&
             BCRYPT_SUCCESS(BCryptFinishHash(hash, resumen, sizeof resumen, 0));
    if (hash)
        BCryptDestroyHash(hash);
    if (!ok)
        return 0;

    BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB *cabecera = (BCRYPT_ECCKEY_BLOB *)blob;
    cabecera->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    cabecera->cbKey = 32;
    CopyMemory(blob + sizeof(BCRYPT_ECCKEY_BLOB), clavePublica, 64);
    BCRYPT_ALG_HANDLE ecdsa = NULL;
    BCRYPT_KEY_HANDLE clave = NULL;
    ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)) &&
         BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa, NULL, BCRYPT_ECCPUBLIC_BLOB, &clave, blob, sizeof blob, 0)) &&
         BCRYPT_SUCCESS(BCryptVerifySignature(clave, NULL, resumen, sizeof resumen, (PUCHAR)firma, 64, 0));
    if (clave)
        BCryptDestroyKey(clave);
    if (ecdsa)
        BCryptCloseAlgorithmProvider(ecdsa, 0);
    return ok;
}

static int ValorHex(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The signature line is the last line that begins with "firma "; the signed text is all
// that comes before it.
static char *LineaDeFirma(char *texto, DWORD largo)
{
    for (char *p = texto + largo - 1; p > texto; p--)
        if (p[-1] == '\n' && strncmp(p, "firma ", 6) == 0)
            return EsHex(p + 6, 128) ? p : NULL;
    return NULL;
}

static int LeerLineas(char *texto)
{
    int cabecera = 0;
    char *p = texto;
    while (*p) {
        char *linea = CortarLinea(&p);
        char *cr = strchr(linea, '\r');
        if (cr)
            *cr = 0;

        if (!cabecera) {
            if (strncmp(linea, "BRMM ", 5) != 0)
                return Fallar(ACT_MANIFIESTO, "no es un manifiesto");
            if (strcmp(linea + 5, "1") != 0)
                return Fallar(ACT_MANIFIESTO, "formato de manifiesto nuevo (%s): hay que reinstalar", linea + 5);
            cabecera = 1;
        } else if (strncmp(linea, "version ", 8) == 0) {
            ULONGLONG v;
            if (!LeerNumero(linea + 8, &v))
                return Fallar(ACT_MANIFIESTO, "version invalida");
            E->version = (DWORD)v;
        } else if (strncmp(linea, "oculto ", 7) == 0) {
            if (RutaValida(linea + 7))
                lstrcpynA(ocultos[nOcultos++], linea + 7, MAX_PATH);
        } else if (strncmp(linea, "borrar ", 7) == 0) {
            if (RutaValida(linea + 7))
                lstrcpynA(borrar[nBorrar++], linea + 7, MAX_PATH);
        } else {
            char *barra1 = strchr(linea, '|');
            if (!barra1)
                continue;
            char *barra2 = strchr(barra1 + 1, '|');
            if (!barra2)
                return Fallar(ACT_MANIFIESTO, "linea invalida: %s", linea);
            *barra1 = 0;
            *barra2 = 0;
            const char *sha = barra2 + 1;
            Entrada *e = &ent[nEnt];
            if (!RutaValida(linea) || !LeerNumero(barra1 + 1, &e->tam) || strlen(sha) != 64 || !EsHex(sha, 64))
                return Fallar(ACT_MANIFIESTO, "entrada invalida: %s", linea);
            lstrcpynA(e->ruta, linea, sizeof e->ruta);
            lstrcpynA(e->sha, sha, sizeof e->sha);
            nEnt++;
        }
    }
    if (!cabecera || E->version == 0 || nEnt == 0)
        return Fallar(ACT_MANIFIESTO, "manifiesto incompleto");
    return 0;
}

int ComprobarManifiesto(char *texto, DWORD largo)
{
    if (strlen(texto) != largo)
        return Fallar(ACT_MANIFIESTO, "manifiesto con bytes nulos");
    char *firma = LineaDeFirma(texto, largo);
    if (!firma)
        return Fallar(ACT_MANIFIESTO, "manifiesto sin firma");
    BYTE bytes[64];
    for (int i = 0; i < 64; i++)
        bytes[i] = (BYTE)(ValorHex(firma[6 + 2 * i]) << 4 | ValorHex(firma[7 + 2 * i]));
    if (!FirmaValida(texto, (DWORD)(firma - texto), bytes))
        return Fallar(ACT_MANIFIESTO, "firma del manifiesto invalida");
    *firma = 0;

    // One more record than there are line feeds bounds every table.
    int lineas = 1;
    for (const char *p = texto; *p; p++)
        if (*p == '\n')
            lineas++;
    ent = (Entrada *)Pedir((SIZE_T)lineas * sizeof(Entrada));
    ocultos = (char(*)[MAX_PATH])Pedir((SIZE_T)lineas * MAX_PATH);
    borrar = (char(*)[MAX_PATH])Pedir((SIZE_T)lineas * MAX_PATH);
    if (!ent || !ocultos || !borrar)
        return Fallar(ACT_INTERNO, "sin memoria");
    return LeerLineas(texto);
}
