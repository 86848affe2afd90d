// The floor of a run with nothing to do: read the manifest and the hash cache whole, and ask the
// file system for the attributes of every file the manifest lists, once each.
//   banco_atributos.exe CARPETA MANIFIESTO CACHE
// Prints how many files were found and how many cache lines were read.
#include "ayudas.h"
#include "banco_comun.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "uso: banco_atributos CARPETA MANIFIESTO CACHE\n");
        return 2;
    }
    char *manifiesto = LeerTodo(argv[2]);
    char *cache = LeerTodo(argv[3]);
    if (!manifiesto || !cache) {
        fprintf(stderr, "no se pudo leer el manifiesto o la cache\n");
        Soltar(manifiesto);
        Soltar(cache);
        return 1;
    }
    int lineas = 0;
    for (char *resto = cache; *resto;)
        lineas += CortarLinea(&resto)[0] != 0;
    int vistos = 0, faltan = 0;
    for (char *resto = manifiesto; *resto;) {
        char *linea = CortarLinea(&resto);
        char *barra = strchr(linea, '|');
        if (!barra)
            continue;
        *barra = 0;
        char ruta[MAX_PATH];
        WIN32_FILE_ATTRIBUTE_DATA datos;
        Unir(ruta, argv[1], linea);
        if (ruta[0] && GetFileAttributesExA(ruta, GetFileExInfoStandard, &datos))
            vistos++;
        else
            faltan++;
    }
    printf("%d archivos vistos, %d faltan, %d lineas de cache\n", vistos, faltan, lineas);
    Soltar(manifiesto);
    Soltar(cache);
    return faltan ? 1 : 0;
}
