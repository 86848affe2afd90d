// A hash index over a table of records keyed by a path or digest, so that looking a key up
// costs constant work instead of a pass over the table. Chains keep the table's order, so the
// first record that matches is still the first one in the table.
#include "ayudas.h"

// FNV-1a over the key with ASCII letters folded, so that keys equal without regard to case
// land in one chain; callers compare the records of a chain as they need.
static DWORD Dispersion(const char *clave)
{
    DWORD h = 2166136261u;
    for (; *clave; clave++) {
        char c = *clave;
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        h = (h ^ (BYTE)c) * 16777619u;
    }
    return h;
}

int CrearIndice(Indice *x, const char *claves, int n, SIZE_T paso)
{
    x->mascara = 15;
    while (x->mascara < (DWORD)n * 2)
        x->mascara = x->mascara * 2 + 1;
    x->cubeta = (int *)Pedir((x->mascara + 1) * sizeof(int));
    x->siguiente = (int *)Pedir(((SIZE_T)n + 1) * sizeof(int));
    if (!x->cubeta || !x->siguiente) {
        SoltarIndice(x);
        return 0;
    }
    // Inserting from the last record to the first leaves every chain in table order.
    for (int i = n - 1; i >= 0; i--) {
        DWORD h = Dispersion(claves + (SIZE_T)i * paso) & x->mascara;
        x->siguiente[i] = x->cubeta[h];
        x->cubeta[h] = i + 1;
    }
    return 1;
}

int PrimeroEnIndice(const Indice *x, const char *clave)
{
    return x->cubeta[Dispersion(clave) & x->mascara] - 1;
}

int SiguienteEnIndice(const Indice *x, int i)
{
    return x->siguiente[i] - 1;
}

void SoltarIndice(Indice *x)
{
    Soltar(x->cubeta);
    Soltar(x->siguiente);
    x->cubeta = NULL;
    x->siguiente = NULL;
}
