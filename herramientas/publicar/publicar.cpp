// publicar: the publisher's tool. Makes key pairs, writes signed releases the engine accepts,
// and checks a release before it goes to the server.
#include "publicar.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int Fracaso(const char *formato, ...)
{
    va_list args;
    va_start(args, formato);
    Escribir(STD_ERROR_HANDLE, "publicar: ");
    EscribirV(STD_ERROR_HANDLE, formato, args);
    Escribir(STD_ERROR_HANDLE, "\n");
    va_end(args);
    return 1;
}

void Uso(void)
{
    Escribir(STD_ERROR_HANDLE,
             "uso:\n"
             "  publicar clave NOMBRE\n"
             "      nuevo par de claves P-256: NOMBRE.pub y NOMBRE.priv\n"
             "  publicar release JUEGO SALIDA --version N --clave NOMBRE.priv [--oculto RUTA]... [--borrar RUTA]...\n"
             "      SALIDA\\manifiesto.txt firmado y SALIDA\\a\\<digest>.bin por contenido\n"
             "  publicar verificar SALIDA --clave NOMBRE.pub\n"
             "      comprueba la firma y cada cuerpo; 0 solo si todo esta bien\n");
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        Uso();
        return 2;
    }
    if (!AbrirSha()) {
        CerrarSha();
        return Fracaso("SHA-256 no disponible");
    }

    int codigo;
    if (strcmp(argv[1], "clave") == 0) {
        codigo = ComandoClave(argc - 2, argv + 2);
    } else if (strcmp(argv[1], "release") == 0) {
        codigo = ComandoRelease(argc - 2, argv + 2);
    } else if (strcmp(argv[1], "verificar") == 0) {
        codigo = ComandoVerificar(argc - 2, argv + 2);
    } else {
        Uso();
        codigo = 2;
    }
    CerrarSha();
    return codigo;
}
