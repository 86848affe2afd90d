// Stand-in uninstaller "Uninstall.exe" of a demo release: it undoes what the installer did
// (the uninstall entry, the desktop shortcut, the installed files) and asks before it removes
// the player's own data in Recursos\Local.
//   Uninstall.exe                    asks first, then whether to keep the player's data
//   Uninstall.exe /silencioso        asks nothing and keeps the player's data
//   Uninstall.exe /silencioso /todo  asks nothing and removes everything
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <strsafe.h>

static char carpeta[MAX_PATH], local[MAX_PATH], propio[MAX_PATH];

// Removes a tree, links as links, keeping Recursos\Local unless told otherwise and the running
// program itself, which goes after the process ends.
static void Borrar(const char *ruta, int conDatos)
{
    char patron[MAX_PATH], hijo[MAX_PATH];
    if (FAILED(StringCchPrintfA(patron, MAX_PATH, "%s\\*", ruta)))
        return;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(patron, &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, "..") ||
                FAILED(StringCchPrintfA(hijo, MAX_PATH, "%s\\%s", ruta, d.cFileName)))
                continue;
            if (!lstrcmpiA(hijo, propio) || (!conDatos && !lstrcmpiA(hijo, local)))
                continue;
            SetFileAttributesA(hijo, FILE_ATTRIBUTE_NORMAL);
            if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                Borrar(hijo, conDatos);
            else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(hijo);
            else
                DeleteFileA(hijo);
        } while (FindNextFileA(h, &d));
        FindClose(h);
    }
    RemoveDirectoryA(ruta);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR linea, int)
{
    int silencioso = strstr(linea, "/silencioso") != NULL;
    int conDatos = strstr(linea, "/todo") != NULL;
    DWORD largo = GetModuleFileNameA(NULL, propio, MAX_PATH);
    if (largo == 0 || largo >= MAX_PATH)
        return 1;
    StringCchCopyA(carpeta, MAX_PATH, propio);
    *strrchr(carpeta, '\\') = 0;
    if (FAILED(StringCchPrintfA(local, MAX_PATH, "%s\\Recursos\\Local", carpeta)))
        return 1;

    if (!silencioso) {
        if (MessageBoxW(NULL, L"¿Desinstalar Brumaria?", L"Brumaria", MB_ICONQUESTION | MB_YESNO) != IDYES)
            return 0;
        conDatos = MessageBoxW(NULL,
                               L"¿Borrar también tus partidas y tu configuración?\n\n"
                               L"Si elegís No, quedan en la carpeta del juego, en Recursos\\Local.",
                               L"Brumaria", MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) == IDYES;
    }

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BRM");
    // The installer puts the shortcut on the desktop of all users.
    char escritorio[MAX_PATH], enlace[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_COMMON_DESKTOPDIRECTORY, NULL, 0, escritorio)) &&
        SUCCEEDED(StringCchPrintfA(enlace, MAX_PATH, "%s\\Brumaria.lnk", escritorio)))
        DeleteFileA(enlace);
    Borrar(carpeta, conDatos);
    // A running program cannot delete itself; it goes at the next restart.
    MoveFileExA(propio, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}
