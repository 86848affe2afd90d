// Registration with Windows after a successful run: the uninstall entry and the desktop
// shortcut. Neither reports anything; the install flow ignores their outcome.
#include "instalador.h"
#include "version.h"

#include <objbase.h>
#include <shlobj.h>
#include <strsafe.h>

LONG Escribir(HKEY clave, const char *nombre, const char *texto)
{
    return RegSetValueExA(clave, nombre, 0, REG_SZ, (const BYTE *)texto, lstrlenA(texto) + 1);
}

static void EscribirNumero(HKEY clave, const char *nombre, DWORD valor)
{
    RegSetValueExA(clave, nombre, 0, REG_DWORD, (const BYTE *)&valor, sizeof valor);
}

ULONGLONG Peso(const char *carpeta)
{
    char patron[MAX_PATH];
    if (FAILED(StringCchPrintfA(patron, MAX_PATH, "%s\\*", carpeta)))
        return 0;
    WIN32_FIND_DATAA d;
    HANDLE busqueda = FindFirstFileA(patron, &d);
    if (busqueda == INVALID_HANDLE_VALUE)
        return 0;
    ULONGLONG total = 0;
    do {
        if (!lstrcmpA(d.cFileName, ".") || !lstrcmpA(d.cFileName, ".."))
            continue;
        // A link counts as nothing: one that points back up the tree would never end.
        if (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        char ruta[MAX_PATH];
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (SUCCEEDED(StringCchPrintfA(ruta, MAX_PATH, "%s\\%s", carpeta, d.cFileName)))
                total += Peso(ruta);
        } else {
            total += (ULONGLONG)d.nFileSizeHigh << 32 | d.nFileSizeLow;
        }
    } while (FindNextFileA(busqueda, &d));
    FindClose(busqueda);
    return total;
}

LONG Registrar(void)
{
    HKEY clave;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BRM", 0,
                             NULL, 0, KEY_WRITE, NULL, &clave, NULL);
    if (r != ERROR_SUCCESS)
        return r;
    Escribir(clave, "DisplayName", "Brumaria");
    Escribir(clave, "DisplayVersion", VERSION_REGISTRO);
    Escribir(clave, "Publisher", "BRM");
    Escribir(clave, "InstallLocation", destino);
    // A value whose text does not fit is left out rather than written cut.
    char texto[MAX_PATH];
    if (SUCCEEDED(StringCchPrintfA(texto, MAX_PATH, "\"%s\\Uninstall.exe\"", destino)))
        Escribir(clave, "UninstallString", texto);
    if (SUCCEEDED(StringCchPrintfA(texto, MAX_PATH, "%s\\Brumaria.exe", destino)))
        Escribir(clave, "DisplayIcon", texto);
    EscribirNumero(clave, "EstimatedSize", (DWORD)(Peso(destino) >> 10));
    EscribirNumero(clave, "NoModify", 1);
    EscribirNumero(clave, "NoRepair", 1);
    return RegCloseKey(clave);
}

static void GuardarEnlace(const char *programa, const wchar_t *enlace)
{
    IShellLinkA *vinculo = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&vinculo)))
        return;
    vinculo->SetPath(programa);
    vinculo->SetWorkingDirectory(destino);
    vinculo->SetIconLocation(programa, 0);
    vinculo->SetDescription("Brumaria");
    IPersistFile *archivo = NULL;
    if (SUCCEEDED(vinculo->QueryInterface(IID_IPersistFile, (void **)&archivo))) {
        archivo->Save(enlace, TRUE);
        archivo->Release();
    }
    vinculo->Release();
}

// The shortcut goes on the desktop of all users: the installer runs elevated, and when a
// standard user types an administrator's credentials the account's own desktop would be the
// administrator's, not the player's. The uninstall entry is machine-wide too.
void AccesoDirecto(void)
{
    HRESULT com = CoInitialize(NULL);
    char escritorio[MAX_PATH], programa[MAX_PATH], enlace[MAX_PATH];
    wchar_t enlaceW[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_COMMON_DESKTOPDIRECTORY, NULL, 0, escritorio)) &&
        SUCCEEDED(StringCchPrintfA(programa, MAX_PATH, "%s\\Brumaria.exe", destino)) &&
        SUCCEEDED(StringCchPrintfA(enlace, MAX_PATH, "%s\\Brumaria.lnk", escritorio)) &&
        MultiByteToWideChar(CP_ACP, 0, enlace, -1, enlaceW, MAX_PATH))
        GuardarEnlace(programa, enlaceW);
    if (SUCCEEDED(com))
        CoUninitialize();
}
