// The signed manifest: its signature against the built-in key and its lines.
#include "interno.h"
#include "ajustes.h"

#include <string.h>

static const BYTE clavePublica[64] = {CLAVE_PUBLICA_BYTES};

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

// The lines after the signature was taken off, into the tables; the first bad line ends the
// check.
static int LeerLineas(char *texto)
{
    int cabecera = 0;
    char *p = texto;
    while (*p) {
        char *linea = SiguienteLinea(&p);
        if (!cabecera) {
            const char *formato = NULL;
            int leida = LeerCabecera(linea, &formato);
            if (leida < 0)
                return Fallar(ACT_MANIFIESTO, "no es un manifiesto");
            if (leida == 0)
                return Fallar(ACT_MANIFIESTO, "formato de manifiesto nuevo (%s): hay que reinstalar", formato);
            cabecera = 1;
            continue;
        }
        LineaManifiesto l;
        ClasificarLinea(linea, &l);
        switch (l.clase) {
        case LINEA_VERSION:
            E->version = (DWORD)l.numero;
            break;
        case LINEA_VERSION_MALA:
            return Fallar(ACT_MANIFIESTO, "version invalida");
        case LINEA_OCULTO:
            lstrcpynA(ocultos[nOcultos++], l.texto, MAX_PATH);
            break;
        case LINEA_BORRAR:
            lstrcpynA(borrar[nBorrar++], l.texto, MAX_PATH);
            break;
        case LINEA_SIN_CAMPOS:
            return Fallar(ACT_MANIFIESTO, "linea invalida: %s", linea);
        case LINEA_ENTRADA_MALA:
            linea[l.largoRuta] = 0;
            return Fallar(ACT_MANIFIESTO, "entrada invalida: %s", linea);
        case LINEA_ENTRADA: {
            Entrada *e = &ent[nEnt++];
            lstrcpynA(e->ruta, l.texto, l.largoRuta + 1);
            e->tam = l.numero;
            lstrcpynA(e->sha, l.sha, sizeof e->sha);
            break;
        }
        default:
            // A refused path of a hide or delete line, and any other line, are passed over.
            break;
        }
    }
    if (!cabecera || E->version == 0 || nEnt == 0)
        return Fallar(ACT_MANIFIESTO, "manifiesto incompleto");
    return 0;
}

int ComprobarManifiesto(char *texto, DWORD largo)
{
    BYTE firma[64];
    DWORD firmado = 0;
    const char *motivo = SepararFirma(texto, largo, firma, &firmado);
    if (motivo)
        return Fallar(ACT_MANIFIESTO, "%s", motivo);
    if (!FirmaValida(texto, firmado, firma))
        return Fallar(ACT_MANIFIESTO, "firma del manifiesto invalida");
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
