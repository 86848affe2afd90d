// The installer without its window: the bar's mapping and easing, the buttons, the failure
// texts, the registration with Windows, and the resources the program carries.
#include "comun.h"
#include "instalador.h"

#include <objbase.h>
#include <shlobj.h>
#include <winver.h>

TEST(Instalador, ProgressEventsBecomeTheBarsTarget)
{
    struct {
        const wchar_t *texto;
        ULONGLONG hecho, total;
        LONG antes, despues;
    } casos[] = {
        {L"Descargando actualización", 5, 0, 0, 0},        // no measure
        {L"Instalando actualización", 0, 0, 0, 0},
        {L"Descargando actualización", 50, 100, 0, 450},
        {L"Descargando", 100, 100, 0, 900},
        {L"Descargando actualización", 0, 100, 0, 0},
        {L"Descargando actualización", 10, 100, 450, 450},  // never back
        {L"Instalando actualización", 0, 10, 0, 900},
        {L"Instalando actualización", 10, 10, 900, 1000},
        {L"Instalando actualización", 4, 10, 0, 940},
        {L"descargando actualización", 50, 100, 0, 0},      // letter case counts
        {L"Descargand", 50, 100, 0, 0},                     // shorter than the word
        {L"Instalan", 5, 10, 0, 0},
        {L"Verificando archivos", 50, 100, 0, 0},
        {L"Terminando", 1, 1, 0, 0},
        {L"Descargando actualización", 6000000000ull, 12000000000ull, 0, 450},
    };
    for (const auto &c : casos) {
        objetivo = c.antes;
        Progreso(NULL, c.texto, c.hecho, c.total);
        EXPECT_EQ(objetivo, c.despues) << c.texto << " " << c.hecho << "/" << c.total;
    }
}

TEST(Instalador, ButtonsAndTheirImages)
{
    struct {
        int x, y, boton;
    } puntos[] = {
        {292, 106, 1}, {378, 135, 1}, {291, 120, 0}, {379, 120, 0}, {300, 105, 0}, {300, 136, 0},
        {24, 106, 2},  {110, 135, 2}, {111, 120, 0}, {23, 120, 0},  {-5, 120, 0},  {300, -1, 0},
    };
    for (const auto &p : puntos)
        EXPECT_EQ(BotonEn(p.x, p.y), p.boton) << p.x << "," << p.y;

    struct {
        int hover, apretado, estado1, estado2;
    } estados[] = {
        {0, 0, 0, 0}, {1, 0, 1, 0}, {2, 0, 0, 1}, {1, 1, 2, 0},
        {0, 1, 0, 0},  // held, mouse off it: normal
        {2, 1, 0, 0},  // held, the other one never lights up
    };
    for (const auto &e : estados) {
        hover = e.hover;
        apretado = e.apretado;
        EXPECT_EQ(Estado(1), e.estado1) << e.hover << e.apretado;
        EXPECT_EQ(Estado(2), e.estado2) << e.hover << e.apretado;
    }
    hover = apretado = 0;
}

TEST(Instalador, EasingReachesTheTargetExactly)
{
    std::vector<int> pasos;
    for (int m = 0; m < 1000; m = Acercar(m, 1000))
        pasos.push_back(Acercar(m, 1000));
    ASSERT_EQ(pasos.size(), 50u);
    EXPECT_EQ((std::vector<int>(pasos.begin(), pasos.begin() + 5)), (std::vector<int>{100, 190, 271, 344, 410}));
    EXPECT_EQ((std::vector<int>(pasos.end() - 3, pasos.end())), (std::vector<int>{998, 999, 1000}));
    int ticks = 0;
    for (int m = 900; m < 1000; m = Acercar(m, 1000))
        ticks++;
    EXPECT_EQ(ticks, 28);
}

TEST(Instalador, FailureTexts)
{
    struct {
        int codigo;
        const char *archivo;
        const wchar_t *texto;
    } casos[] = {
        {2, "", L"No se pudo conectar con el servidor de descargas.\n\nRevisá tu conexión a internet y volvé a intentar."},
        {3, "", L"La descarga recibida no es válida.\n\nVolvé a intentar en unos minutos."},
        {4, "Recursos\\BRM.exe",
         L"El antivirus bloqueó un archivo del juego:\n\nRecursos\\BRM.exe\n\nAgregá la carpeta del juego a las "
         L"excepciones del antivirus y volvé a intentar."},
        {4, "",
         L"El antivirus bloqueó un archivo del juego:\n\n\n\nAgregá la carpeta del juego a las excepciones del "
         L"antivirus y volvé a intentar."},
        {5, "", L"El juego está abierto.\n\nCerralo y volvé a intentar."},
    };
    wchar_t texto[TEXTO_ERROR];
    for (const auto &c : casos) {
        TextoError(c.codigo, c.archivo, texto);
        EXPECT_STREQ(texto, c.texto) << c.codigo;
    }
    const wchar_t *disco = L"No se pudo instalar el juego.\n\nRevisá que haya espacio libre en el disco y volvé a intentar.";
    for (int codigo : {6, 7, 8, -1, 100}) {
        TextoError(codigo, "", texto);
        EXPECT_STREQ(texto, disco) << codigo;
    }
    // The longest name a path can have fits whole.
    std::string largo(259, 'n');
    TextoError(4, largo.c_str(), texto);
    EXPECT_NE(wcsstr(texto, std::wstring(largo.begin(), largo.end()).c_str()), nullptr);
    EXPECT_NE(wcsstr(texto, L"volvé a intentar."), nullptr);
}

TEST(Instalador, PesoCountsEveryFileBelowTheFolder)
{
    CarpetaTemporal t;
    EXPECT_EQ(Peso(t.ruta.c_str()), 0u);
    EscribirArchivo(t / "a.bin", std::string(1023, 'a'));
    EXPECT_EQ(Peso(t.ruta.c_str()) >> 10, 0u);
    EscribirArchivo(t / "uno\\dos\\tres\\b.bin", "b");
    EXPECT_EQ(Peso(t.ruta.c_str()), 1024u);
    EscribirArchivo(t / "uno\\oculto.bin", std::string(512, 'o'));
    SetFileAttributesA((t / "uno\\oculto.bin").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Peso(t.ruta.c_str()) >> 10, 1u);  // 1.5 KiB rounds down
    EXPECT_EQ(Peso((t / "no existe").c_str()), 0u);

    // A link back up the tree counts as nothing and is never entered.
    if (EnlaceCarpeta(t / "uno\\arriba", t.ruta)) {
        EXPECT_EQ(Peso(t.ruta.c_str()), 1536u);
    }

    HANDLE f = CreateFileA((t / "grande.bin").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    LARGE_INTEGER tam;
    tam.QuadPart = 5ll << 30;
    bool disperso = SetFilePointerEx(f, tam, NULL, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    if (disperso) {
        EXPECT_EQ(Peso(t.ruta.c_str()), (5ull << 30) + 1536u);
    }
}

static std::string Texto(HKEY clave, const char *nombre, DWORD *tipo)
{
    char datos[1024];
    DWORD tam = sizeof datos;
    if (RegQueryValueExA(clave, nombre, NULL, tipo, (BYTE *)datos, &tam) != ERROR_SUCCESS)
        return "(none)";
    EXPECT_EQ(tam, strlen(datos) + 1) << nombre;  // the stored size counts the NUL
    return datos;
}

static DWORD Numero(HKEY clave, const char *nombre, DWORD *tipo)
{
    DWORD valor = 0xFFFFFFFF, tam = sizeof valor;
    RegQueryValueExA(clave, nombre, NULL, tipo, (BYTE *)&valor, &tam);
    return valor;
}

TEST(Instalador, UninstallEntry)
{
    CarpetaTemporal t;
    EscribirArchivo(t / "Recursos\\datos.pak", std::string(3000, 'd'));
    lstrcpyA(destino, t.ruta.c_str());
    const char *ruta = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BRM";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ruta);
    HKEY clave;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ruta, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &clave, NULL), ERROR_SUCCESS);
    RegSetValueExA(clave, "Otro", 0, REG_SZ, (const BYTE *)"queda", 6);
    RegCloseKey(clave);

    EXPECT_EQ(Registrar(), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ruta, 0, KEY_READ, &clave), ERROR_SUCCESS);
    struct {
        const char *nombre;
        std::string datos;
    } textos[] = {
        {"DisplayName", "Brumaria"},
        {"DisplayVersion", "1.0.0"},
        {"Publisher", "BRM"},
        {"InstallLocation", t.ruta},
        {"UninstallString", "\"" + t.ruta + "\\Uninstall.exe\""},
        {"DisplayIcon", t.ruta + "\\Brumaria.exe"},
        {"Otro", "queda"},
    };
    for (const auto &v : textos) {
        DWORD tipo = 0;
        EXPECT_EQ(Texto(clave, v.nombre, &tipo), v.datos) << v.nombre;
        EXPECT_EQ(tipo, (DWORD)REG_SZ) << v.nombre;
    }
    struct {
        const char *nombre;
        DWORD valor;
    } numeros[] = {{"EstimatedSize", 2}, {"NoModify", 1}, {"NoRepair", 1}};
    for (const auto &v : numeros) {
        DWORD tipo = 0;
        EXPECT_EQ(Numero(clave, v.nombre, &tipo), v.valor) << v.nombre;
        EXPECT_EQ(tipo, (DWORD)REG_DWORD) << v.nombre;
    }
    RegCloseKey(clave);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ruta);
}

// A 32-bit process on 64-bit Windows (the product) runs under WOW64.
static bool EnWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

TEST(Instalador, InstallFolderIsTheProgramFilesItsBuildIsGiven)
{
    ElegirDestino();
    EXPECT_STREQ(destino, EnWow64() ? "C:\\Program Files (x86)\\Brumaria" : "C:\\Program Files\\Brumaria");
}

// Programs and Features is a 64-bit program on 64-bit Windows and lists both registry views; the
// 32-bit view is what it sees under WOW6432Node. The product's entry must be found there, and its
// own 32-bit view must read it back where it wrote it.
TEST(Instalador, UninstallEntryInTheViewOfItsBuild)
{
    const char *ruta = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BRM";
    const char *ruta32 = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BRM";
    const REGSAM propia = EnWow64() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const REGSAM otra = EnWow64() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    lstrcpyA(destino, "C:\\Program Files (x86)\\Brumaria");
    ASSERT_EQ(Registrar(), ERROR_SUCCESS);
    struct {
        const char *ruta;
        REGSAM vista;
        bool esta;
    } lectores[] = {
        {ruta, propia, true},
        {EnWow64() ? ruta32 : ruta, KEY_WOW64_64KEY, true},
        {ruta, otra, false},
    };
    for (const auto &l : lectores) {
        HKEY clave;
        LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, l.ruta, 0, KEY_READ | l.vista, &clave);
        EXPECT_EQ(r == ERROR_SUCCESS, l.esta) << l.ruta << " view " << l.vista;
        if (r == ERROR_SUCCESS) {
            DWORD tipo = 0;
            EXPECT_EQ(Texto(clave, "DisplayName", &tipo), "Brumaria") << l.ruta;
            RegCloseKey(clave);
        }
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ruta);
}

// Where the shell puts the desktop of this folder id, read back as the installer asks for it.
static std::string EnlaceEn(int carpeta)
{
    char escritorio[MAX_PATH];
    if (FAILED(SHGetFolderPathA(NULL, carpeta, NULL, 0, escritorio)))
        return "";
    return std::string(escritorio) + "\\Brumaria.lnk";
}

TEST(Instalador, DesktopShortcut)
{
    lstrcpyA(destino, "C:\\Program Files\\Brumaria");
    // The installer runs elevated, maybe under an administrator's account: the shortcut goes
    // on the desktop of every user, not on the one of the account that runs it.
    std::string enlace = EnlaceEn(CSIDL_COMMON_DESKTOPDIRECTORY), propio = EnlaceEn(CSIDL_DESKTOPDIRECTORY);
    ASSERT_FALSE(enlace.empty() || propio.empty());
    ASSERT_NE(enlace, propio);
    DeleteFileA(enlace.c_str());
    DeleteFileA(propio.c_str());
    AccesoDirecto();
    ASSERT_TRUE(Existe(enlace.c_str()));
    EXPECT_FALSE(Existe(propio.c_str()));

    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    IShellLinkA *vinculo = NULL;
    IPersistFile *archivo = NULL;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&vinculo)));
    ASSERT_TRUE(SUCCEEDED(vinculo->QueryInterface(IID_IPersistFile, (void **)&archivo)));
    std::wstring w(enlace.begin(), enlace.end());
    ASSERT_TRUE(SUCCEEDED(archivo->Load(w.c_str(), STGM_READ)));
    char texto[MAX_PATH];
    int indice = -1;
    vinculo->GetPath(texto, MAX_PATH, NULL, SLGP_RAWPATH);
    EXPECT_STREQ(texto, "C:\\Program Files\\Brumaria\\Brumaria.exe");
    vinculo->GetWorkingDirectory(texto, MAX_PATH);
    EXPECT_STREQ(texto, "C:\\Program Files\\Brumaria");
    vinculo->GetIconLocation(texto, MAX_PATH, &indice);
    EXPECT_STREQ(texto, "C:\\Program Files\\Brumaria\\Brumaria.exe");
    EXPECT_EQ(indice, 0);
    vinculo->GetDescription(texto, MAX_PATH);
    EXPECT_STREQ(texto, "Brumaria");
    archivo->Release();
    vinculo->Release();
    CoUninitialize();
    DeleteFileA(enlace.c_str());
}

// The built program's resources as Windows reads them. The expected values are written here
// rather than taken from the headers the build uses, so that a slip there shows.
TEST(Instalador, ResourcesOfTheProgram)
{
    std::string programa = Herramienta("..\\instalador\\Instalar Brumaria.exe");
    HMODULE m = LoadLibraryExA(programa.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(m, nullptr) << programa;
    const WORD ingles = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    struct {
        LPCSTR tipo;
        int id;
    } recursos[] = {
        {RT_BITMAP, 101}, {RT_BITMAP, 102}, {RT_BITMAP, 103},       {RT_BITMAP, 104},    {RT_BITMAP, 105},
        {RT_BITMAP, 106}, {RT_BITMAP, 107}, {RT_BITMAP, 108},       {RT_GROUP_CURSOR, 201},
        {RT_GROUP_ICON, 1}, {RT_VERSION, 1}, {RT_MANIFEST, 1},
    };
    for (const auto &r : recursos)
        EXPECT_NE(FindResourceExA(m, r.tipo, MAKEINTRESOURCEA(r.id), ingles), nullptr)
            << (ULONG_PTR)r.tipo << " " << r.id;
    std::string manifiesto;
    HRSRC h = FindResourceExA(m, RT_MANIFEST, MAKEINTRESOURCEA(1), ingles);
    if (h)
        manifiesto.assign((const char *)LockResource(LoadResource(m, h)), SizeofResource(m, h));
    FreeLibrary(m);
    EXPECT_NE(manifiesto.find("name=\"Brumaria.Instalador\" version=\"1.0.0.0\""), std::string::npos) << manifiesto;
    EXPECT_NE(manifiesto.find("level=\"requireAdministrator\""), std::string::npos) << manifiesto;

    DWORD tam = GetFileVersionInfoSizeA(programa.c_str(), NULL);
    ASSERT_GT(tam, 0u);
    std::string bloque(tam, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(programa.c_str(), 0, tam, &bloque[0]));
    VS_FIXEDFILEINFO *fija = NULL;
    UINT n = 0;
    ASSERT_TRUE(VerQueryValueA(bloque.data(), "\\", (void **)&fija, &n));
    EXPECT_EQ(fija->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fija->dwFileVersionLS, 0u);
    EXPECT_EQ(fija->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fija->dwProductVersionLS, 0u);
    WORD *traduccion = NULL;
    ASSERT_TRUE(VerQueryValueA(bloque.data(), "\\VarFileInfo\\Translation", (void **)&traduccion, &n));
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(traduccion[0], 0x040A);
    EXPECT_EQ(traduccion[1], 1200);
    // A reader finds the texts through the Translation entry, so it must name the string block.
    struct {
        const char *nombre, *texto;
    } textos[] = {
        {"FileDescription", "Instalador de Brumaria"},
        {"ProductName", "Brumaria"},
        {"OriginalFilename", "Instalar Brumaria.exe"},
        {"FileVersion", "1.0"},
        {"ProductVersion", "1.0"},
    };
    for (const auto &t : textos) {
        char ruta[80];
        snprintf(ruta, sizeof ruta, "\\StringFileInfo\\%04x%04x\\%s", traduccion[0], traduccion[1], t.nombre);
        char *texto = NULL;
        EXPECT_TRUE(VerQueryValueA(bloque.data(), ruta, (void **)&texto, &n) && texto) << ruta;
        EXPECT_STREQ(texto ? texto : "", t.texto) << ruta;
    }
}

TEST(Instalador, StandInUninstallerRemovesTheShortcut)
{
    lstrcpyA(destino, "C:\\Program Files\\Brumaria");
    std::string enlace = EnlaceEn(CSIDL_COMMON_DESKTOPDIRECTORY);
    ASSERT_FALSE(enlace.empty());
    AccesoDirecto();
    ASSERT_TRUE(Existe(enlace.c_str()));
    // The uninstaller removes the folder it runs from: a copy in a folder of its own.
    CarpetaTemporal t;
    std::string desinstalador = t / "Uninstall.exe";
    ASSERT_TRUE(CopyFileA(Herramienta("..\\demo\\Uninstall.exe").c_str(), desinstalador.c_str(), FALSE));
    EXPECT_EQ(EsperarProceso(Lanzar(desinstalador, "/silencioso")), 0u);
    EXPECT_FALSE(Existe(enlace.c_str()));
}
