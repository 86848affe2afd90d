// Files of the tool: paths, whole reads, safe writes, hashing with progress, body checks.
#include "publicar.h"

#include <stdio.h>

int RutaAbsoluta(const char *ruta, char absoluta[MAX_PATH])
{
    DWORD n = GetFullPathNameA(ruta, MAX_PATH, absoluta, NULL);
    if (n == 0 || n >= MAX_PATH)
        return 0;
    // "C:\" keeps its backslash: "C:" alone names the drive's current folder.
    while (n > 3 && absoluta[n - 1] == '\\')
        absoluta[--n] = 0;
    return 1;
}

int LeerEntero(const char *ruta, char *bloque, DWORD capacidad, DWORD *largo)
{
    *largo = 0;
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER tam;
    int ok = GetFileSizeEx(f, &tam) != 0;
    if (ok && (ULONGLONG)tam.QuadPart >= capacidad) {
        *largo = tam.QuadPart > 0x7FFFFFFF ? 0x7FFFFFFF : (DWORD)tam.QuadPart;
        ok = 0;
    }
    DWORD leidos = 0, total = 0;
    while (ok && total < (DWORD)tam.QuadPart) {
        ok = ReadFile(f, bloque + total, (DWORD)tam.QuadPart - total, &leidos, NULL) && leidos > 0;
        total += leidos;
    }
    CloseHandle(f);
    if (!ok)
        return 0;
    bloque[total] = 0;
    *largo = total;
    return 1;
}

// Writes all the bytes or says it did not: WriteFile may write fewer on a full disk.
static int EscribirTodo(HANDLE f, const void *datos, DWORD largo)
{
    const BYTE *p = (const BYTE *)datos;
    DWORD escritos;
    while (largo > 0) {
        if (!WriteFile(f, p, largo, &escritos, NULL) || escritos == 0)
            return 0;
        p += escritos;
        largo -= escritos;
    }
    return 1;
}

int EscribirNuevo(const char *ruta, const void *datos, DWORD largo)
{
    HANDLE f = CreateFileA(ruta, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    int ok = EscribirTodo(f, datos, largo) && FlushFileBuffers(f);
    DWORD error = GetLastError();
    CloseHandle(f);
    if (!ok) {
        DeleteFileA(ruta);
        SetLastError(error);
    }
    return ok;
}

int EscribirSeguro(const char *ruta, const void *datos, DWORD largo)
{
    char temporal[MAX_PATH];
    if (!Formar(temporal, sizeof temporal, "%s.tmp", ruta)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HANDLE f = CreateFileA(temporal, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER tam;
    int ok = EscribirTodo(f, datos, largo) && FlushFileBuffers(f) && GetFileSizeEx(f, &tam) &&
             (ULONGLONG)tam.QuadPart == largo;
    DWORD error = ok ? 0 : GetLastError();
    CloseHandle(f);
    if (ok && !MoveFileExA(temporal, ruta, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = 0;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileA(temporal);
        SetLastError(error);
    }
    return ok;
}

// ---- hashing ----

static BCRYPT_ALG_HANDLE sha256;
// One block for every file of the run: a fresh megabyte per file costs more than hashing a
// small file (under Wine about 10 ms a file).
static BYTE *bloque;

int AbrirSha(void)
{
    bloque = (BYTE *)Pedir(BLOQUE_SHA);
    if (!bloque || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, NULL, 0))) {
        sha256 = NULL;
        return 0;
    }
    return 1;
}

void CerrarSha(void)
{
    if (sha256)
        BCryptCloseAlgorithmProvider(sha256, 0);
    sha256 = NULL;
    Soltar(bloque);
    bloque = NULL;
}

int Resumir(const void *datos, DWORD largo, BYTE resumen[32])
{
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = BCRYPT_SUCCESS(BCryptCreateHash(sha256, &hash, NULL, 0, NULL, 0, 0)) &&
             BCRYPT_SUCCESS(BCryptHashData(hash, (PUCHAR)datos, largo, 0)) &&
             BCRYPT_SUCCESS(BCryptFinishHash(hash, resumen, 32, 0));
    if (hash)
        BCryptDestroyHash(hash);
    return ok;
}

// ---- the task under way, shown as "[file/files] bytes/all bytes" ----

static const wchar_t *tarea;
static int archivos, actual;
static ULONGLONG bytesTarea, hechos;

static void Mostrar(void)
{
    wchar_t detalle[96];
    int n = _snwprintf(detalle, 95, L"[%d/%d] %I64u/%I64u bytes", actual, archivos, hechos, bytesTarea);
    detalle[n < 0 || n > 95 ? 95 : n] = 0;
    Progreso(tarea, detalle, hechos, bytesTarea);
}

void EmpezarTarea(const wchar_t *texto, int nArchivos, ULONGLONG bytes)
{
    tarea = texto;
    archivos = nArchivos;
    actual = 0;
    bytesTarea = bytes;
    hechos = 0;
}

void AvanzarTarea(int archivo)
{
    actual = archivo;
    Mostrar();
}

void SumarBytes(ULONGLONG bytes)
{
    hechos += bytes;
    Mostrar();
}

ULONGLONG BytesHechos(void)
{
    return hechos;
}

void FijarBytes(ULONGLONG bytes)
{
    hechos = bytes;
}

void TerminarTarea(void)
{
    CerrarProgreso();
}

int Pasar(HANDLE de, HANDLE hacia, ULONGLONG *cuenta, char sha[65])
{
    BCRYPT_HASH_HANDLE hash = NULL;
    int ok = BCRYPT_SUCCESS(BCryptCreateHash(sha256, &hash, NULL, 0, NULL, 0, 0));
    DWORD leidos, escritos;
    *cuenta = 0;
    while (ok && (ok = ReadFile(de, bloque, BLOQUE_SHA, &leidos, NULL)) != 0 && leidos > 0) {
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, bloque, leidos, 0));
        for (DWORD hecho = 0; ok && hacia && hecho < leidos; hecho += escritos)
            ok = WriteFile(hacia, bloque + hecho, leidos - hecho, &escritos, NULL) && escritos > 0;
        *cuenta += leidos;
        SumarBytes(leidos);
    }
    BYTE resumen[32];
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, resumen, sizeof resumen, 0));
    if (hash)
        BCryptDestroyHash(hash);
    if (ok)
        AHex(resumen, 32, sha);
    return ok;
}

int Sha(const char *ruta, ULONGLONG tam, char sha[65])
{
    HANDLE f = CreateFileA(ruta, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    ULONGLONG cuenta;
    int ok = Pasar(f, NULL, &cuenta, sha) && cuenta == tam;
    CloseHandle(f);
    return ok;
}

int ComprobarCuerpo(const char *ruta, ULONGLONG tam, const char *sha, ULONGLONG *tamVisto)
{
    char visto[65];
    if (!TamFecha(ruta, tamVisto, NULL))
        return CUERPO_FALTA;
    if (*tamVisto != tam)
        return CUERPO_TAMANO;
    if (!Sha(ruta, tam, visto) || lstrcmpA(visto, sha) != 0)
        return CUERPO_DIGEST;
    return CUERPO_BIEN;
}
