// No game file changes while the game runs from the folder: wait for its processes to exit.
#include "interno.h"

#include <tlhelp32.h>

static const char *const juegos[] = {"BRM.exe", "Corvalis.exe", "BRMCarga.exe", NULL};

typedef BOOL(WINAPI *NombreImagenFn)(HANDLE, DWORD, LPSTR, PDWORD);

// The image lies in the game folder or below: its path is the folder's path and a backslash.
static int DesdeLaCarpeta(HANDLE proceso, NombreImagenFn nombreImagen)
{
    char imagen[MAX_PATH];
    DWORD largo = sizeof imagen;
    if (!nombreImagen(proceso, 0, imagen, &largo))
        return 1;
    return EnCarpeta(imagen, E->carpeta) && imagen[lstrlenA(E->carpeta)] == '\\';
}

int ProcesoVivo(const char *nombre)
{
    HANDLE foto = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (foto == INVALID_HANDLE_VALUE)
        return 0;
    // Looked up at run time: older systems lack it, and then any process of the name counts.
    NombreImagenFn nombreImagen =
        (NombreImagenFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA");
    int vivo = 0;
    PROCESSENTRY32 p;
    p.dwSize = sizeof p;
    for (BOOL hay = Process32First(foto, &p); hay && !vivo; hay = Process32Next(foto, &p)) {
        if (lstrcmpiA(p.szExeFile, nombre) != 0)
            continue;
        HANDLE proceso = nombreImagen ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.th32ProcessID) : NULL;
        if (!proceso) {
            vivo = 1;
            break;
        }
        vivo = DesdeLaCarpeta(proceso, nombreImagen);
        CloseHandle(proceso);
    }
    CloseHandle(foto);
    return vivo;
}

static int AlgunoVivo(void)
{
    int vivo = 0;
    for (int i = 0; juegos[i]; i++)
        vivo |= ProcesoVivo(juegos[i]);
    return vivo;
}

int EsperarJuegoCerrado(void)
{
    DWORD inicio = reloj();
    AvisarRelanzo();
    for (;;) {
        if (!AlgunoVivo())
            return 1;
        Avisar(L"Esperando que se cierre el juego", 0, 0);
        dormir(500);
        if (reloj() - inicio >= 30000)
            return 0;
    }
}
