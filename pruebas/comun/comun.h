// What the engine's tests share: a record wired to capturing callbacks, temporary folders,
// files written and read in one call, pauses recorded instead of slept, and helper processes.
#ifndef PRUEBAS_COMUN_H
#define PRUEBAS_COMUN_H

#include "interno.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

struct Evento {
    std::wstring texto;
    ULONGLONG hecho, total;
};

// Log lines formatted as a host would, and progress events, of the runs since the last
// NuevoRegistro.
extern std::vector<std::string> lineas;
extern std::vector<Evento> eventos;

// Zero-fills the record, wires both callbacks and sets the folder.
void NuevoRegistro(Actualizacion *a, const std::string &carpeta);
void AnotarPrueba(const char *formato, ...) CON_FORMATO(1, 2);
void ProgresoPrueba(void *dato, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total);
bool HayLinea(const std::string &linea);

// Pauses the engine asks for, in milliseconds, instead of sleeping; each moves the engine's
// clock by its length. Undone by the destructor.
struct PausasGrabadas {
    std::vector<DWORD> ms;
    PausasGrabadas();
    ~PausasGrabadas();
};

// A new empty folder under the temporary folder, removed with all it holds at the end.
struct CarpetaTemporal {
    std::string ruta;
    CarpetaTemporal();
    ~CarpetaTemporal();
    std::string operator/(const std::string &relativa) const { return ruta + "\\" + relativa; }
};

void BorrarTodo(const std::string &ruta);
// Writes a file whole, creating its folders.
void EscribirArchivo(const std::string &ruta, const std::string &contenido);
std::string LeerArchivo(const std::string &ruta);
void CrearCarpeta(const std::string &ruta);

// SHA-256 of some bytes, as raw bytes and as 64 lowercase hex digits.
void Sha256(const void *datos, size_t largo, unsigned char resumen[32]);
std::string ShaHex(const std::string &datos);

// The engine connected as a run leaves it after start-up (SHA-256 provider, HTTP session,
// base URL from an override file naming `url`), on a record wired to the capturing callbacks,
// with recorded pauses. The destructor tears it down as a run does.
struct MotorConectado {
    CarpetaTemporal carpeta;
    Actualizacion a;
    PausasGrabadas pausas;
    explicit MotorConectado(const std::string &url);
    ~MotorConectado();
};

// Parses a signed manifest into the engine's tables as a run does, after every earlier table
// and count was released (SoltarTablas); returns the check's result.
int CargarManifiesto(const std::string &firmado);

// The Linux path Wine gives a Windows path (wine_get_unix_file_name); "" when it cannot.
std::string RutaUnix(const std::string &ruta);
// The Windows path Wine gives a Linux path (wine_get_dos_file_name); "" when it cannot.
std::string RutaWindows(const std::string &ruta);

// Makes `enlace` a folder link to `destino` (both inside the test's own tree), as a Linux
// symbolic link, which Wine reports as a folder with a reparse point. False when it cannot.
bool EnlaceCarpeta(const std::string &enlace, const std::string &destino);

// Full path of a program that sits beside the running test program.
std::string ProgramaVecino(const char *nombre);

// Starts a program with the given arguments; its standard output goes to the file `salida`
// when one is named. Returns the process handle.
HANDLE Lanzar(const std::string &programa, const std::string &argumentos, const std::string &salida = "");
// What a program that ran to its end left: its exit code and what it wrote on each stream.
struct Resultado {
    DWORD codigo;
    std::string salida, errores;
};
// Runs a program (in the folder `en`, when one is named) with stdout and stderr caught apart,
// so that stderr is no console and progress comes as plain lines.
Resultado Ejecutar(const std::string &programa, const std::string &argumentos, const std::string &en = "");
// Full path of a program of the build, given relative to the test program's folder.
std::string Herramienta(const char *relativa);
// The same for the helper program beside the tests.
HANDLE Ayudante(const std::string &argumentos, const std::string &salida = "");
// Waits for a process and returns its exit code, closing the handle.
DWORD EsperarProceso(HANDLE proceso);
// Polls `condicion` until it holds or `plazoMs` have passed; whether it held. A loaded machine
// then only makes a test slower, never lets it pass without the condition.
bool Hasta(const std::function<bool()> &condicion, DWORD plazoMs = 10000);
// Whether the process of this handle shows in a process snapshot (where the engine looks).
bool EnFoto(HANDLE proceso);

#endif
