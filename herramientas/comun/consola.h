/* Console output of the tools: formatted texts on the standard handles and one progress line
   on stderr. */
#ifndef HERRAMIENTAS_CONSOLA_H
#define HERRAMIENTAS_CONSOLA_H

#include "ayudas.h"

#include <stdarg.h>

/* A formatted text (msvcrt conventions) on STD_OUTPUT_HANDLE or STD_ERROR_HANDLE; a text
   longer than 4095 characters is cut there. A progress line on the console is wiped first. */
void Escribir(DWORD estandar, const char *formato, ...) CON_FORMATO(2, 3);
void EscribirV(DWORD estandar, const char *formato, va_list args) CON_FORMATO(2, 0);

/* Progress of a task on stderr. On a console one line is redrawn in place; otherwise a plain
   line is written when the task of that text passes another tenth of its total, and a task
   without a total (0) is written once. `detalle` may be null. */
void Progreso(const wchar_t *texto, const wchar_t *detalle, ULONGLONG hecho, ULONGLONG total);
/* Leaves the progress line on the console as it stands and moves to the next line. */
void CerrarProgreso(void);

#endif
