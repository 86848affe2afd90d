/* The installer's version and the language of its version block, written once. The resource
   script's version block, the application manifest (made from instalador.manifest.in when CMake
   configures, which reads the three numbers below) and the uninstall entry's DisplayVersion all
   come from here. */
#ifndef VERSION_H
#define VERSION_H

#define VERSION_MAYOR 1
#define VERSION_MENOR 0
#define VERSION_ARREGLO 0

#define VERSION_TEXTO_(n) #n
#define VERSION_TEXTO(n) VERSION_TEXTO_(n)
/* "1.0": the version block's FileVersion and ProductVersion. */
#define VERSION_CORTA VERSION_TEXTO(VERSION_MAYOR) "." VERSION_TEXTO(VERSION_MENOR)
/* "1.0.0": the uninstall entry's DisplayVersion. */
#define VERSION_REGISTRO VERSION_CORTA "." VERSION_TEXTO(VERSION_ARREGLO)

/* The strings are Spanish in UTF-16: the string block's name is the language and the code page
   in hex, and the Translation entry names the same pair. */
#define VERSION_IDIOMA 0x040A
#define VERSION_PAGINA 1200
#define VERSION_BLOQUE "040A04B0"

#endif
