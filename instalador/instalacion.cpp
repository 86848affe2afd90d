// The install flow: one click runs the engine on a worker thread, its progress becomes the
// bar's target, and its result either finishes the installation or explains the failure.
#include "instalador.h"

#include <shellapi.h>
#include <strsafe.h>

Actualizacion est;
int resultado, instalando, terminado, mostrado;
// The worker writes it only by atomic exchange; the UI thread reads it on every tick.
volatile LONG objetivo;

static void Anotar(const char *, ...)
{
}

void Progreso(void *, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total)
{
    if (total == 0)
        return;
    LONG valor;
    if (wcsncmp(texto, L"Descargando", 11) == 0)
        valor = (LONG)(DWORD)(hecho * 900 / total);
    else if (wcsncmp(texto, L"Instalando", 10) == 0)
        valor = (LONG)(DWORD)(hecho * 100 / total) + 900;
    else
        return;
    // Only the worker writes while it runs, so reading first and exchanging after is safe;
    // the bar never moves back during a run.
    if (objetivo < valor)
        InterlockedExchange(&objetivo, valor);
}

DWORD WINAPI Trabajo(LPVOID)
{
    ZeroMemory(&est, sizeof est);
    StringCchCopyA(est.carpeta, sizeof est.carpeta, destino);
    est.modoInstalacion = 1;
    est.progreso = Progreso;
    est.anotar = Anotar;
    CreateDirectoryA(destino, NULL);
    resultado = Actualizar(&est);
    if ((unsigned)resultado < 2) {
        Registrar();
        AccesoDirecto();
        InterlockedExchange(&objetivo, ESCALA);
    }
    PostMessageW(ventana, WM_TERMINADO, 0, 0);
    return 0;
}

void Instalar(void)
{
    if (instalando)
        return;
    instalando = 1;
    terminado = 0;
    objetivo = 0;
    mostrado = 0;
    apretado = 0;
    hover = 0;
    InvalidateRect(ventana, NULL, FALSE);
    HANDLE hilo = CreateThread(NULL, 0, Trabajo, NULL, 0, NULL);
    if (!hilo) {
        instalando = 0;
        MessageBoxW(ventana, L"No se pudo iniciar la instalación.", L"Brumaria", MB_ICONERROR | MB_OK);
        return;
    }
    CloseHandle(hilo);
}

void TextoError(int codigo, const char *archivo, wchar_t *texto)
{
    const wchar_t *fijo;
    switch (codigo) {
    case ACT_SIN_SERVIDOR:
        fijo = L"No se pudo conectar con el servidor de descargas.\n\nRevisá tu conexión a internet y volvé a intentar.";
        break;
    case ACT_MANIFIESTO:
        fijo = L"La descarga recibida no es válida.\n\nVolvé a intentar en unos minutos.";
        break;
    case ACT_JUEGO_ABIERTO:
        fijo = L"El juego está abierto.\n\nCerralo y volvé a intentar.";
        break;
    case ACT_ARCHIVO: {
        wchar_t nombre[MAX_PATH];
        if (!MultiByteToWideChar(CP_ACP, 0, archivo, -1, nombre, MAX_PATH))
            nombre[0] = 0;
        // The buffer holds the text with a name of 259 characters; the count bounds it anyway.
        StringCchPrintfW(texto, TEXTO_ERROR,
                   L"El antivirus bloqueó un archivo del juego:\n\n%ls\n\nAgregá la carpeta del juego a las "
                   L"excepciones del antivirus y volvé a intentar.",
                   nombre);
        return;
    }
    default:
        fijo = L"No se pudo instalar el juego.\n\nRevisá que haya espacio libre en el disco y volvé a intentar.";
        break;
    }
    StringCchCopyW(texto, TEXTO_ERROR, fijo);
}

static int Error(void)
{
    wchar_t texto[TEXTO_ERROR];
    TextoError(resultado, est.archivoFallido, texto);
    return MessageBoxW(ventana, texto, L"Brumaria", MB_ICONEXCLAMATION | MB_RETRYCANCEL) == IDRETRY;
}

static void AbrirJuego(void)
{
    char lanzador[MAX_PATH];
    if (SUCCEEDED(StringCchPrintfA(lanzador, MAX_PATH, "%s\\Brumaria.exe", destino)))
        ShellExecuteA(NULL, "open", lanzador, NULL, destino, SW_SHOWNORMAL);
}

void Terminar(void)
{
    if ((unsigned)resultado < 2) {
        AbrirJuego();
        DestroyWindow(ventana);
        return;
    }
    instalando = 0;
    objetivo = 0;
    mostrado = 0;
    InvalidateRect(ventana, NULL, FALSE);
    if (Error())
        Instalar();
}
