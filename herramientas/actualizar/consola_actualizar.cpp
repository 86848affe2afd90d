// actualizar: one run of the engine from a console, for operators and testers. Log lines go
// to stdout, progress and the failure to stderr; the exit status is the engine's result code.
#include "actualizador.h"
#include "consola.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#define USO_INCORRECTO 100

static void Anotar(const char *formato, ...) CON_FORMATO(1, 2);

static void Anotar(const char *formato, ...)
{
    // wvsprintfA writes at most 1024 characters and a terminator.
    char texto[1025];
    va_list args;
    va_start(args, formato);
    wvsprintfA(texto, formato, args);
    va_end(args);
    Escribir(STD_OUTPUT_HANDLE, "%s\n", texto);
}

static void Progresar(void *, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total)
{
    Progreso(texto, NULL, hecho, total);
}

static int Uso(const char *motivo)
{
    if (motivo)
        Escribir(STD_ERROR_HANDLE, "actualizar: %s\n", motivo);
    Escribir(STD_ERROR_HANDLE,
             "uso: actualizar CARPETA [--instalar] [--verificar] [--plazo MS] [--ejecutable RUTA]\n"
             "  CARPETA         carpeta del juego\n"
             "  --instalar      la carpeta puede estar vacia (primera instalacion)\n"
             "  --verificar     calcula el digest de cada archivo sin fiarse de hashes.txt y repara lo distinto\n"
             "  --plazo MS      comprobacion rapida con este plazo de red\n"
             "  --ejecutable R  el programa que llama, si la actualizacion puede reemplazarlo\n"
             "sale con el codigo del actualizador: 0 listo, 1 listo y hay que reabrir el programa,\n"
             "2 sin servidor, 3 manifiesto, 4 archivo, 5 juego abierto, 6 no es el juego, 7 interno\n");
    return USO_INCORRECTO;
}

// Absolute, without a trailing backslash, as the record asks.
static int Absoluta(const char *ruta, char destino[MAX_PATH])
{
    DWORD n = GetFullPathNameA(ruta, MAX_PATH, destino, NULL);
    if (n == 0 || n >= MAX_PATH)
        return 0;
    while (n > 0 && destino[n - 1] == '\\')
        destino[--n] = 0;
    return n > 0;
}

static int LeerPlazo(const char *texto, int *ms)
{
    ULONGLONG v;
    int n = lstrlenA(texto);
    if (n == 0 || n > 10 || !LeerNumero(texto, &v) || v > 0x7FFFFFFF)
        return 0;
    for (int i = 0; i < n; i++)
        if (texto[i] < '0' || texto[i] > '9')
            return 0;
    *ms = (int)v;
    return 1;
}

int main(int argc, char **argv)
{
    static Actualizacion a;
    const char *carpeta = NULL;
    for (int i = 1; i < argc; i++) {
        const char *valor = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(argv[i], "--instalar")) {
            a.modoInstalacion = 1;
        } else if (!strcmp(argv[i], "--verificar")) {
            a.verificarTodo = 1;
        } else if (!strcmp(argv[i], "--plazo")) {
            if (!valor || !LeerPlazo(valor, &a.plazoMs))
                return Uso("--plazo necesita milisegundos");
            i++;
        } else if (!strcmp(argv[i], "--ejecutable")) {
            if (!valor || !Absoluta(valor, a.ejecutable))
                return Uso("--ejecutable necesita una ruta de menos de 260 caracteres");
            i++;
        } else if (argv[i][0] == '-' || carpeta) {
            return Uso(NULL);
        } else {
            carpeta = argv[i];
        }
    }
    if (!carpeta)
        return Uso(NULL);
    if (!Absoluta(carpeta, a.carpeta))
        return Uso("CARPETA necesita una ruta de menos de 260 caracteres");
    a.anotar = Anotar;
    a.progreso = Progresar;

    int resultado = Actualizar(&a);
    CerrarProgreso();
    if (resultado != ACT_LISTO && resultado != ACT_RELANZAR) {
        Escribir(STD_ERROR_HANDLE, "error: %s\n", a.error);
        if (a.archivoFallido[0])
            Escribir(STD_ERROR_HANDLE, "archivo: %s\n", a.archivoFallido);
    }
    return resultado;
}
