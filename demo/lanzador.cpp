// Stand-in for the game's launcher "Brumaria.exe" in a demo release: it records that it was
// started, and when, in "lanzado.txt" beside itself, then ends.
#include <windows.h>
#include <strsafe.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char ruta[MAX_PATH];
    DWORD largo = GetModuleFileNameA(NULL, ruta, MAX_PATH);
    if (largo == 0 || largo >= MAX_PATH)
        return 1;
    char *barra = ruta + largo;
    while (barra > ruta && *barra != '\\')
        barra--;
    *barra = 0;
    if (FAILED(StringCchCatA(ruta, MAX_PATH, "\\lanzado.txt")))
        return 1;
    HANDLE f = CreateFileA(ruta, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    SYSTEMTIME t;
    GetLocalTime(&t);
    char linea[64];
    StringCchPrintfA(linea, sizeof linea, "lanzado %04u-%02u-%02u %02u:%02u:%02u\r\n", t.wYear, t.wMonth, t.wDay,
                     t.wHour, t.wMinute, t.wSecond);
    DWORD escritos;
    WriteFile(f, linea, lstrlenA(linea), &escritos, NULL);
    CloseHandle(f);
    return 0;
}
