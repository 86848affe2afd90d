#include "firma.h"
#include "comun.h"
#include "clave_prueba.h"

std::string FirmaHex(const std::string &texto)
{
    static const unsigned char privada[96] = {CLAVE_PRIVADA_PRUEBA_BYTES};
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    BCRYPT_ECCKEY_BLOB *cabecera = (BCRYPT_ECCKEY_BLOB *)blob;
    cabecera->dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    cabecera->cbKey = 32;
    memcpy(blob + sizeof(BCRYPT_ECCKEY_BLOB), privada, 96);

    unsigned char resumen[32], firma[64];
    Sha256(texto.data(), texto.size(), resumen);
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_KEY_HANDLE clave = NULL;
    ULONG largo = 0;
    bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)) &&
              BCRYPT_SUCCESS(BCryptImportKeyPair(alg, NULL, BCRYPT_ECCPRIVATE_BLOB, &clave, blob, sizeof blob, 0)) &&
              BCRYPT_SUCCESS(BCryptSignHash(clave, NULL, resumen, 32, firma, 64, &largo, 0)) && largo == 64;
    if (clave)
        BCryptDestroyKey(clave);
    if (alg)
        BCryptCloseAlgorithmProvider(alg, 0);
    if (!ok) {
        ADD_FAILURE() << "cannot sign with the test key";
        return std::string(128, '0');
    }
    char hex[129];
    AHex(firma, 64, hex);
    return hex;
}

std::string Firmado(const std::string &texto)
{
    return texto + PALABRA_FIRMA + FirmaHex(texto) + "\n";
}

std::string Manifiesto(unsigned long version, const std::string &entradas)
{
    return Firmado(CABECERA_MANIFIESTO "\n" PALABRA_VERSION + std::to_string(version) + "\n" + entradas);
}

std::string LineaEntrada(const std::string &ruta, const std::string &contenido)
{
    return ruta + "|" + std::to_string(contenido.size()) + "|" + ShaHex(contenido) + "\n";
}
