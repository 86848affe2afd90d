// Times the change decision on a folder of N files that the hash cache vouches for, and the
// finishing pass with its sweep of Recursos over the same files, for N = 5,000 and 20,000.
// Linear growth shows as a ratio near 4; a quadratic lookup as near 16.
//   scripts/wine build/win64/rendimiento/banco_cambios.exe
#include "interno.h"

#include <stdio.h>
#include <string.h>

static double Segundos(LARGE_INTEGER desde)
{
    LARGE_INTEGER ahora, frecuencia;
    QueryPerformanceCounter(&ahora);
    QueryPerformanceFrequency(&frecuencia);
    return (double)(ahora.QuadPart - desde.QuadPart) / (double)frecuencia.QuadPart;
}

static void BorrarCarpeta(const char *ruta)
{
    char patron[MAX_PATH], hijo[MAX_PATH];
    Formar(patron, sizeof patron, "%s\\*", ruta);
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(patron, &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, ".."))
                continue;
            Formar(hijo, sizeof hijo, "%s\\%s", ruta, d.cFileName);
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                BorrarCarpeta(hijo);
            else
                DeleteFileA(hijo);
        } while (FindNextFileA(h, &d));
        FindClose(h);
    }
    RemoveDirectoryA(ruta);
}

// Builds the folder, its manifest table and its cache; returns the best of three runs of
// reading the cache and deciding, and the best time of the attribute queries alone.
static double Medir(int n, double *consultas, double *final)
{
    static Actualizacion a;
    ZeroMemory(&a, sizeof a);
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    Formar(a.carpeta, sizeof a.carpeta, "%sbrm-banco-%d", tmp, n);
    E = &a;
    BorrarCarpeta(a.carpeta);

    ent = (Entrada *)Pedir((SIZE_T)n * sizeof(Entrada));
    nEnt = n;
    char ruta[MAX_PATH], texto[64];
    for (int i = 0; i < n; i++) {
        Entrada *e = &ent[i];
        Formar(e->ruta, sizeof e->ruta, "Recursos\\Datos%03d\\Archivo%05d.dat", i / 100, i);
        Unir(ruta, a.carpeta, e->ruta);
        CrearCarpetas(ruta);
        int largo = Formar(texto, sizeof texto, "contenido del archivo %d", i) ? lstrlenA(texto) : 0;
        HANDLE f = CreateFileA(ruta, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD escritos;
        WriteFile(f, texto, largo, &escritos, NULL);
        CloseHandle(f);
        e->tam = largo;
        ShaArchivo(ruta, e->sha, NULL, NULL, 0);
    }
    Unir(ruta, a.carpeta, RUTA_HASHES);
    CrearCarpetas(ruta);
    GuardarRecordados(nEnt);

    double mejor = 1e9;
    *consultas = 1e9;
    for (int vuelta = 0; vuelta < 3; vuelta++) {
        LARGE_INTEGER inicio;
        QueryPerformanceCounter(&inicio);
        for (int i = 0; i < n; i++) {
            ULONGLONG tam, fecha;
            Unir(ruta, a.carpeta, ent[i].ruta);
            TamFecha(ruta, &tam, &fecha);
        }
        double t = Segundos(inicio);
        if (t < *consultas)
            *consultas = t;

        QueryPerformanceCounter(&inicio);
        LeerRecordados();
        int pendientes = DecidirCambios();
        t = Segundos(inicio);
        if (pendientes != 0)
            printf("unexpected: %d pending\n", pendientes);
        if (t < mejor)
            mejor = t;
        Soltar(rec);
        rec = NULL;
        nRec = capRec = 0;
    }
    // Every file is listed, so the sweep looks each one up and deletes nothing.
    LARGE_INTEGER inicio;
    QueryPerformanceCounter(&inicio);
    Finalizar(0);
    *final = Segundos(inicio);
    Soltar(ent);
    ent = NULL;
    nEnt = 0;
    BorrarCarpeta(a.carpeta);
    return mejor;
}

int main()
{
    BCryptOpenAlgorithmProvider(&algSha, BCRYPT_SHA256_ALGORITHM, NULL, 0);
    double consultas5, consultas20, final5, final20;
    double t5 = Medir(5000, &consultas5, &final5);
    double t20 = Medir(20000, &consultas20, &final20);
    printf("decision, N =  5000: %8.1f ms (attribute queries alone %.1f ms)\n", t5 * 1000, consultas5 * 1000);
    printf("decision, N = 20000: %8.1f ms (attribute queries alone %.1f ms)\n", t20 * 1000, consultas20 * 1000);
    printf("decision ratio 20000/5000: %.2f (linear: 4)\n", t20 / t5);
    printf("finishing pass, N =  5000: %8.1f ms\n", final5 * 1000);
    printf("finishing pass, N = 20000: %8.1f ms\n", final20 * 1000);
    printf("finishing ratio 20000/5000: %.2f (linear: 4)\n", final20 / final5);
    BCryptCloseAlgorithmProvider(algSha, 0);
    return 0;
}
