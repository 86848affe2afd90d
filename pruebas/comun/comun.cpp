#include "comun.h"

#include <stdarg.h>
#include <stdio.h>
#include <tlhelp32.h>

std::vector<std::string> lineas;
std::vector<Evento> eventos;

void AnotarPrueba(const char *formato, ...)
{
    char texto[2048];
    va_list args;
    va_start(args, formato);
    wvsprintfA(texto, formato, args);
    va_end(args);
    lineas.push_back(texto);
}

void ProgresoPrueba(void *, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total)
{
    eventos.push_back({texto, hecho, total});
}

void NuevoRegistro(Actualizacion *a, const std::string &carpeta)
{
    ZeroMemory(a, sizeof *a);
    lstrcpynA(a->carpeta, carpeta.c_str(), sizeof a->carpeta);
    a->anotar = AnotarPrueba;
    a->progreso = ProgresoPrueba;
    lineas.clear();
    eventos.clear();
}

bool HayLinea(const std::string &linea)
{
    for (const std::string &l : lineas)
        if (l == linea)
            return true;
    return false;
}

static std::vector<DWORD> *pausasActuales;
static DWORD ahora;

// A pause is recorded and moves the test's clock by its length at once.
static void WINAPI DormirGrabado(DWORD ms)
{
    pausasActuales->push_back(ms);
    ahora += ms;
}

static DWORD WINAPI RelojDePrueba(void)
{
    return ahora;
}

PausasGrabadas::PausasGrabadas()
{
    pausasActuales = &ms;
    ahora = 0xFFFFF000;  // close to the wrap of the tick count, which must do no harm
    dormir = DormirGrabado;
    reloj = RelojDePrueba;
}

PausasGrabadas::~PausasGrabadas()
{
    dormir = Sleep;
    reloj = GetTickCount;
    pausasActuales = NULL;
}

CarpetaTemporal::CarpetaTemporal()
{
    static int cuenta;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    // Process ids repeat under Wine, and a folder an earlier run left may hold a dangling link
    // that nothing on the Windows side can see or remove: every test gets a folder it made new.
    char nombre[MAX_PATH];
    for (int intento = 0; intento < 1000; intento++) {
        snprintf(nombre, sizeof nombre, "%sbrm-%lu-%d", tmp, GetCurrentProcessId(), ++cuenta);
        ruta = nombre;
        BorrarTodo(ruta);
        if (CreateDirectoryA(ruta.c_str(), NULL))
            return;
    }
    ADD_FAILURE() << "no fresh temporary folder under " << tmp;
}

CarpetaTemporal::~CarpetaTemporal()
{
    BorrarTodo(ruta);
}

// Folder links are removed as links, never entered.
void BorrarTodo(const std::string &ruta)
{
    DWORD a = GetFileAttributesA(ruta.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((ruta + "\\*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string n = d.cFileName;
                if (n != "." && n != "..")
                    BorrarTodo(ruta + "\\" + n);
            } while (FindNextFileA(h, &d));
            FindClose(h);
        }
    }
    SetFileAttributesA(ruta.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (a & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(ruta.c_str());
    else
        DeleteFileA(ruta.c_str());
}

void CrearCarpeta(const std::string &ruta)
{
    CrearCarpetas((ruta + "\\x").c_str());
}

void EscribirArchivo(const std::string &ruta, const std::string &contenido)
{
    CrearCarpetas(ruta.c_str());
    HANDLE f = CreateFileA(ruta.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create " << ruta;
        return;
    }
    DWORD escritos = 0;
    if (!contenido.empty())
        WriteFile(f, contenido.data(), (DWORD)contenido.size(), &escritos, NULL);
    CloseHandle(f);
}

std::string LeerArchivo(const std::string &ruta)
{
    std::string texto;
    HANDLE f = CreateFileA(ruta.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return texto;
    char bloque[65536];
    DWORD leidos;
    while (ReadFile(f, bloque, sizeof bloque, &leidos, NULL) && leidos > 0)
        texto.append(bloque, leidos);
    CloseHandle(f);
    return texto;
}

std::string ProgramaVecino(const char *nombre)
{
    char ruta[MAX_PATH];
    GetModuleFileNameA(NULL, ruta, sizeof ruta);
    std::string r = ruta;
    return r.substr(0, r.find_last_of('\\') + 1) + nombre;
}

HANDLE Ayudante(const std::string &argumentos, const std::string &salida)
{
    return Lanzar(ProgramaVecino("ayudante.exe"), argumentos, salida);
}

HANDLE Lanzar(const std::string &programa, const std::string &argumentos, const std::string &salida)
{
    std::string linea = "\"" + programa + "\" " + argumentos;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    HANDLE archivo = INVALID_HANDLE_VALUE;
    if (!salida.empty()) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
        archivo = CreateFileA(salida.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = archivo;
        si.hStdError = archivo;
    }
    PROCESS_INFORMATION pi;
    std::vector<char> orden(linea.begin(), linea.end());
    orden.push_back(0);
    BOOL ok = CreateProcessA(NULL, orden.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    if (archivo != INVALID_HANDLE_VALUE)
        CloseHandle(archivo);
    if (!ok) {
        ADD_FAILURE() << "cannot start " << linea;
        return NULL;
    }
    // Wine starts a Linux program with no process handle and leaves stray bytes where the thread
    // handle goes: closing that value could close any handle of this process.
    if (pi.hProcess)
        CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD EsperarProceso(HANDLE proceso)
{
    DWORD codigo = 999;
    if (!proceso)
        return codigo;
    WaitForSingleObject(proceso, 60000);
    GetExitCodeProcess(proceso, &codigo);
    CloseHandle(proceso);
    return codigo;
}

bool Hasta(const std::function<bool()> &condicion, DWORD plazoMs)
{
    ULONGLONG fin = GetTickCount64() + plazoMs;
    for (;;) {
        if (condicion())
            return true;
        if (GetTickCount64() >= fin)
            return false;
        Sleep(20);
    }
}

bool EnFoto(HANDLE proceso)
{
    DWORD id = GetProcessId(proceso);
    HANDLE foto = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (foto == INVALID_HANDLE_VALUE)
        return false;
    bool hay = false;
    PROCESSENTRY32 p;
    p.dwSize = sizeof p;
    for (BOOL sigue = Process32First(foto, &p); sigue && !hay; sigue = Process32Next(foto, &p))
        hay = p.th32ProcessID == id;
    CloseHandle(foto);
    return hay;
}

void Sha256(const void *datos, size_t largo, unsigned char resumen[32])
{
    BCRYPT_ALG_HANDLE alg = NULL;
    BCRYPT_HASH_HANDLE h = NULL;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, NULL, 0);
    BCryptCreateHash(alg, &h, NULL, 0, NULL, 0, 0);
    BCryptHashData(h, (PUCHAR)datos, (ULONG)largo, 0);
    BCryptFinishHash(h, resumen, 32, 0);
    BCryptDestroyHash(h);
    BCryptCloseAlgorithmProvider(alg, 0);
}

std::string ShaHex(const std::string &datos)
{
    unsigned char r[32];
    Sha256(datos.data(), datos.size(), r);
    char hex[65];
    AHex(r, 32, hex);
    return hex;
}

MotorConectado::MotorConectado(const std::string &url)
{
    EscribirArchivo(carpeta / RUTA_SERVIDOR, url + "\n");
    CrearCarpeta(carpeta / RUTA_ESTADO);
    NuevoRegistro(&a, carpeta.ruta);
    E = &a;
    EXPECT_EQ(Conectar(), 0);
    lineas.clear();
}

MotorConectado::~MotorConectado()
{
    Liberar();
}

int CargarManifiesto(const std::string &firmado)
{
    SoltarTablas();
    std::vector<char> texto(firmado.begin(), firmado.end());
    texto.push_back(0);
    return ComprobarManifiesto(texto.data(), (DWORD)firmado.size());
}

typedef char *(CDECL *RutaUnixFn)(LPCWSTR);

std::string RutaUnix(const std::string &ruta)
{
    RutaUnixFn unix_ =
        (RutaUnixFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!unix_)
        return "";
    std::wstring w(ruta.begin(), ruta.end());
    char *u = unix_(w.c_str());
    std::string r = u ? u : "";
    HeapFree(GetProcessHeap(), 0, u);
    return r;
}

typedef WCHAR *(CDECL *RutaWindowsFn)(const char *);

std::string RutaWindows(const std::string &ruta)
{
    RutaWindowsFn dos =
        (RutaWindowsFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    if (!dos)
        return "";
    WCHAR *w = dos(ruta.c_str());
    char r[MAX_PATH];
    if (!w || !WideCharToMultiByte(CP_ACP, 0, w, -1, r, sizeof r, NULL, NULL))
        r[0] = 0;
    HeapFree(GetProcessHeap(), 0, w);
    return r;
}

bool EnlaceCarpeta(const std::string &enlace, const std::string &destino)
{
    std::string desde = RutaUnix(destino), hacia = RutaUnix(enlace);
    if (desde.empty() || hacia.empty())
        return false;
    // Wine starts a Linux program like a Windows one; its handle does not wait, so poll.
    HANDLE p = Lanzar("/bin/ln", "-s \"" + desde + "\" \"" + hacia + "\"");
    if (p)
        CloseHandle(p);
    for (int i = 0; i < 250 && GetFileAttributesA(enlace.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
    DWORD a = GetFileAttributesA(enlace.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string Herramienta(const char *relativa)
{
    char ruta[MAX_PATH];
    GetFullPathNameA(ProgramaVecino(relativa).c_str(), sizeof ruta, ruta, NULL);
    return ruta;
}

Resultado Ejecutar(const std::string &programa, const std::string &argumentos, const std::string &en)
{
    CarpetaTemporal t;
    std::string rutaSalida = t / "salida.txt", rutaErrores = t / "errores.txt";
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE salida = CreateFileA(rutaSalida.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE errores = CreateFileA(rutaErrores.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = salida;
    si.hStdError = errores;
    std::string linea = "\"" + programa + "\" " + argumentos;
    std::vector<char> orden(linea.begin(), linea.end());
    orden.push_back(0);
    PROCESS_INFORMATION pi;
    Resultado r = {999, "", ""};
    if (CreateProcessA(NULL, orden.data(), NULL, NULL, TRUE, 0, NULL, en.empty() ? NULL : en.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        r.codigo = EsperarProceso(pi.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << linea;
    }
    CloseHandle(salida);
    CloseHandle(errores);
    r.salida = LeerArchivo(rutaSalida);
    r.errores = LeerArchivo(rutaErrores);
    return r;
}

