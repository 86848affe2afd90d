// The hashing floor: SHA-256 of every file of a list with BCrypt, a megabyte at a time.
//   banco_sha.exe CARPETA LISTA
// LISTA has one path under CARPETA per line; prints "digest  path" for each.
#include "ayudas.h"
#include "banco_comun.h"

#include <windows.h>
#include <bcrypt.h>

#include <stdio.h>

static int Resumir(BCRYPT_ALG_HANDLE alg, const char *ruta, BYTE *bloque, char hex[65])
{
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                           NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, NULL, 0, NULL, 0, 0));
    DWORD leidos;
    while (ok && ReadFile(f, bloque, BLOQUE_SHA, &leidos, NULL) && leidos > 0)
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, bloque, leidos, 0));
    BYTE resumen[32];
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, resumen, sizeof resumen, 0));
    if (hash)
        BCryptDestroyHash(hash);
    CloseHandle(f);
    if (ok)
        AHex(resumen, 32, hex);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "uso: banco_sha CARPETA LISTA\n");
        return 2;
    }
    char *lista = LeerTodo(argv[2]);
    BYTE *bloque = (BYTE *)Pedir(BLOQUE_SHA);
    BCRYPT_ALG_HANDLE alg = NULL;
    int fallos = 0;
    if (!lista || !bloque || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, NULL, 0))) {
        alg = NULL;
        fallos = 1;
    }
    char *resto = lista, *linea;
    while (!fallos && (linea = SiguienteLinea(&resto)) != NULL) {
        char ruta[MAX_PATH], hex[65];
        Unir(ruta, argv[1], linea);
        if (!ruta[0] || !Resumir(alg, ruta, bloque, hex)) {
            fprintf(stderr, "no se pudo leer %s\n", linea);
            fallos++;
        } else {
            printf("%s  %s\n", hex, linea);
        }
    }
    if (alg)
        BCryptCloseAlgorithmProvider(alg, 0);
    Soltar(bloque);
    Soltar(lista);
    return fallos ? 1 : 0;
}
