// The first phase of a run: fetch the manifest with its attempts, check it, and refuse one
// older than the version last applied.
#include "interno.h"

static int Bajar(char *bloque, Sumidero *s)
{
    char url[LARGO_URL];
    Formar(url, sizeof url, "%smanifiesto.txt", urlBase);
    int intentos = E->plazoMs ? 1 : 4;
    DWORD estado = 0;
    for (int intento = 1;; intento++) {
        if (intento > 1)
            dormir(estado == 429 ? 11000 : (intento - 1) * 1000);
        s->salida = bloque;
        s->lleno = 0;
        estado = HttpBajar(url, 0, AMemoria, s);
        // A body cut short is a broken transfer, not a bad manifest: it is fetched again.
        if (estado == 200 && s->corto)
            estado = 0;
        if (estado == 200)
            return 0;
        if (E->anotar)
            E->anotar("  manifiesto: HTTP %lu (intento %d)", estado, intento);
        if (intento == intentos)
            return Fallar(ACT_SIN_SERVIDOR, "no se pudo bajar %s (HTTP %lu)", url, estado);
    }
}

int ObtenerManifiesto(void)
{
    char *bloque = (char *)Pedir(LIMITE_MANIFIESTO + 1);
    if (!bloque)
        return Fallar(ACT_INTERNO, "sin memoria");
    Sumidero s;
    ZeroMemory(&s, sizeof s);
    int resultado = Bajar(bloque, &s);
    if (resultado) {
        Soltar(bloque);
        return resultado;
    }
    if (s.lleno < 16 || s.lleno > LIMITE_MANIFIESTO - 1) {
        resultado = Fallar(ACT_MANIFIESTO, "manifiesto de %lu bytes", s.lleno);
    } else {
        bloque[s.lleno] = 0;
        resultado = ComprobarManifiesto(bloque, s.lleno);
    }
    Soltar(bloque);
    // A quick check is over once the manifest is in; the downloads get the patient time-outs.
    if (E->plazoMs)
        PonerPlazos(0);
    if (resultado)
        return resultado;

    DWORD previa = VersionVista();
    if (E->version < previa)
        return Fallar(ACT_MANIFIESTO, "manifiesto version %lu, mas viejo que el ultimo aplicado (%lu)", E->version,
                      previa);
    if (E->anotar)
        E->anotar("  manifiesto version %lu: %d archivos", E->version, nEnt);
    return 0;
}
