// Signs manifest texts with the test private key, as the publisher's tool does, so that tests
// write manifests as text.
#ifndef PRUEBAS_FIRMA_H
#define PRUEBAS_FIRMA_H

#include <string>

// The 128 hex digits of the signature (r then s) over the SHA-256 of the text.
std::string FirmaHex(const std::string &texto);
// The text followed by its signature line "firma <128 digits>\n".
std::string Firmado(const std::string &texto);
// The manifest's entry line for a file of this path and content: "ruta|size|digest\n".
std::string LineaEntrada(const std::string &ruta, const std::string &contenido);
// A signed manifest of the given version holding the given entry lines ("path|size|digest").
std::string Manifiesto(unsigned long version, const std::string &entradas);

#endif
