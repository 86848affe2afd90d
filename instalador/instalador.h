// State and functions shared by the installer's window, install flow and system registration,
// and by their tests. Only WinMain is the program's entry.
#ifndef INSTALADOR_H
#define INSTALADOR_H

#include "actualizador.h"

// Completion message the worker posts when a run has ended.
#define WM_TERMINADO (WM_APP + 1)

// Progress scale of the bar: downloading owns 0 to 900, installing 900 to 1000.
#define ESCALA 1000

// ---- window ----
extern HINSTANCE inst;
extern HWND ventana;
extern char destino[MAX_PATH];
extern int hover, apretado;

// Sets destino: Brumaria in the Program Files folder.
void ElegirDestino(void);

LRESULT CALLBACK Proc(HWND v, UINT mensaje, WPARAM w, LPARAM l);
int BotonEn(int x, int y);
int Estado(int boton);
// One step of the bar toward its target: a tenth of the gap, rounded up.
int Acercar(int actual, int meta);

// ---- install flow ----
extern Actualizacion est;
extern int resultado, instalando, terminado, mostrado;
extern volatile LONG objetivo;

void Instalar(void);
DWORD WINAPI Trabajo(LPVOID);
void Progreso(void *dato, const wchar_t *texto, ULONGLONG hecho, ULONGLONG total);
void Terminar(void);
// The failure dialog's text for a result code; `texto` holds TEXTO_ERROR characters.
#define TEXTO_ERROR 512
void TextoError(int codigo, const char *archivo, wchar_t *texto);

// ---- system registration ----
LONG Registrar(void);
LONG Escribir(HKEY clave, const char *nombre, const char *texto);
ULONGLONG Peso(const char *carpeta);
void AccesoDirecto(void);

#endif
