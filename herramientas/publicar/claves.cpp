// Key pairs and signatures through CNG, and the key files.
#include "publicar.h"

#include <string.h>

void EtiquetaClave(const BYTE publica[LARGO_PUBLICA], char etiqueta[26])
{
    BYTE resumen[32];
    lstrcpynA(etiqueta, "BRMCLAVE-", 26);
    if (Resumir(publica, LARGO_PUBLICA, resumen))
        AHex(resumen, 8, etiqueta + 9);
}

int LeerClave(const char *ruta, BYTE *clave, int largo)
{
    char texto[2 * LARGO_PRIVADA + 8];
    DWORD leidos;
    int digitos = 2 * largo;
    if (!LeerEntero(ruta, texto, sizeof texto, &leidos) && leidos == 0) {
        Fracaso("no se puede leer la clave %s (error %lu)", ruta, GetLastError());
        return 0;
    }
    int fin = (int)leidos == digitos || ((int)leidos == digitos + 1 && texto[digitos] == '\n') ||
              ((int)leidos == digitos + 2 && texto[digitos] == '\r' && texto[digitos + 1] == '\n');
    if (!fin || !EsHex(texto, digitos)) {
        SecureZeroMemory(texto, sizeof texto);
        Fracaso("%s no es una clave %s: se esperan %d digitos hexadecimales en minuscula", ruta,
                largo == LARGO_PRIVADA ? "privada" : "publica", digitos);
        return 0;
    }
    DeHex(texto, clave, largo);
    SecureZeroMemory(texto, sizeof texto);
    return 1;
}

// An ECCKEY blob: its header, then X, Y and, for a private key, d.
static int Importar(BCRYPT_ALG_HANDLE alg, const BYTE *clave, int largo, BCRYPT_KEY_HANDLE *k)
{
    BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + LARGO_PRIVADA];
    BCRYPT_ECCKEY_BLOB *cabecera = (BCRYPT_ECCKEY_BLOB *)blob;
    int privada = largo == LARGO_PRIVADA;
    cabecera->dwMagic = privada ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    cabecera->cbKey = 32;
    CopyMemory(blob + sizeof(BCRYPT_ECCKEY_BLOB), clave, largo);
    int ok = BCRYPT_SUCCESS(BCryptImportKeyPair(alg, NULL, privada ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB,
                                                k, blob, sizeof(BCRYPT_ECCKEY_BLOB) + largo, 0));
    SecureZeroMemory(blob, sizeof blob);
    return ok;
}

int Firmar(const BYTE privada[LARGO_PRIVADA], const BYTE resumen[32], BYTE firma[64])
{
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_KEY_HANDLE clave = NULL;
    ULONG largo = 0;
    int ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)) &&
             Importar(alg, privada, LARGO_PRIVADA, &clave) &&
             BCRYPT_SUCCESS(BCryptSignHash(clave, NULL, (PUCHAR)resumen, 32, firma, 64, &largo, 0)) && largo == 64;
    if (clave)
        BCryptDestroyKey(clave);
    if (alg)
        BCryptCloseAlgorithmProvider(alg, 0);
    return ok;
}

int FirmaCorrecta(const BYTE publica[LARGO_PUBLICA], const BYTE resumen[32], const BYTE firma[64])
{
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_KEY_HANDLE clave = NULL;
    int resultado = -1;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)) &&
        Importar(alg, publica, LARGO_PUBLICA, &clave))
        resultado = BCRYPT_SUCCESS(BCryptVerifySignature(clave, NULL, (PUCHAR)resumen, 32, (PUCHAR)firma, 64, 0));
    if (clave)
        BCryptDestroyKey(clave);
    if (alg)
        BCryptCloseAlgorithmProvider(alg, 0);
    return resultado;
}

// A new pair from CNG, exported whole: X, Y and d, 32 bytes each, big-endian.
static int Generar(BYTE privada[LARGO_PRIVADA])
{
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_KEY_HANDLE clave = NULL;
    BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + LARGO_PRIVADA];
    ULONG largo = 0;
    int ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)) &&
             BCRYPT_SUCCESS(BCryptGenerateKeyPair(alg, &clave, 256, 0)) &&
             BCRYPT_SUCCESS(BCryptFinalizeKeyPair(clave, 0)) &&
             BCRYPT_SUCCESS(BCryptExportKey(clave, NULL, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &largo, 0));
    const BCRYPT_ECCKEY_BLOB *cabecera = (const BCRYPT_ECCKEY_BLOB *)blob;
    ok = ok && largo == sizeof blob && cabecera->dwMagic == BCRYPT_ECDSA_PRIVATE_P256_MAGIC && cabecera->cbKey == 32;
    if (ok)
        CopyMemory(privada, blob + sizeof(BCRYPT_ECCKEY_BLOB), LARGO_PRIVADA);
    SecureZeroMemory(blob, sizeof blob);
    if (clave)
        BCryptDestroyKey(clave);
    if (alg)
        BCryptCloseAlgorithmProvider(alg, 0);
    return ok;
}

int ComandoClave(int argc, char **argv)
{
    if (argc != 1) {
        Uso();
        return 2;
    }
    char publica[MAX_PATH], privada[MAX_PATH];
    if (!Formar(publica, sizeof publica, "%s.pub", argv[0]) || !Formar(privada, sizeof privada, "%s.priv", argv[0]))
        return Fracaso("nombre demasiado largo: %s", argv[0]);
    if (Existe(publica) || Existe(privada))
        return Fracaso("%s ya existe: una clave nunca se sobrescribe", Existe(publica) ? publica : privada);

    BYTE clave[LARGO_PRIVADA];
    if (!Generar(clave))
        return Fracaso("CNG no genero la clave (error %lu)", GetLastError());
    char texto[2 * LARGO_PRIVADA + 2];
    AHex(clave, LARGO_PRIVADA, texto);
    lstrcatA(texto, "\n");
    char textoPublico[2 * LARGO_PUBLICA + 2];
    AHex(clave, LARGO_PUBLICA, textoPublico);
    lstrcatA(textoPublico, "\n");
    char etiqueta[26];
    EtiquetaClave(clave, etiqueta);
    SecureZeroMemory(clave, sizeof clave);

    // The private half first: a public file without its private one would be useless.
    int ok = EscribirNuevo(privada, texto, 2 * LARGO_PRIVADA + 1);
    SecureZeroMemory(texto, sizeof texto);
    if (!ok)
        return Fracaso("no se pudo escribir %s (error %lu)", privada, GetLastError());
    if (!EscribirNuevo(publica, textoPublico, 2 * LARGO_PUBLICA + 1)) {
        DWORD error = GetLastError();
        DeleteFileA(privada);
        return Fracaso("no se pudo escribir %s (error %lu)", publica, error);
    }
    Escribir(STD_OUTPUT_HANDLE, "clave publica: %s\nclave privada: %s (guardela fuera del repositorio)\n%s\n", publica,
             privada, etiqueta);
    return 0;
}
