/* Resource ids and window geometry, shared by the resource script, the installer's code, the
   picture program (hacer_imagenes.py) and the window test, which read the numbers below. */
#ifndef RECURSOS_H
#define RECURSOS_H

#define IDB_FONDO 101
#define IDB_BARRA 102
/* Each button's three images are consecutive ids: normal, hover, pressed. */
#define IDB_INSTALAR 103
#define IDB_INSTALAR_NORMAL IDB_INSTALAR
#define IDB_INSTALAR_ENCIMA (IDB_INSTALAR + 1)
#define IDB_INSTALAR_APRETADO (IDB_INSTALAR + 2)
#define IDB_SALIR 106
#define IDB_SALIR_NORMAL IDB_SALIR
#define IDB_SALIR_ENCIMA (IDB_SALIR + 1)
#define IDB_SALIR_APRETADO (IDB_SALIR + 2)
#define IDC_MANO 201
#define IDI_BRUMARIA 1

#define ANCHO_VENTANA 400
#define ALTO_VENTANA 150
#define BARRA_X 25
#define BARRA_Y 69
/* The bar picture's size, for the picture program and the test; the installer reads the
   picture's own size. */
#define BARRA_ANCHO 351
#define BARRA_ALTO 19
#define BOTON_ANCHO 87
#define BOTON_ALTO 30
#define BOTON_Y 106
#define INSTALAR_X 292
#define SALIR_X 24

#endif
