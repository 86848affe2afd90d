/* Resource ids and window geometry, shared by the resource script and the installer's code. */
#ifndef RECURSOS_H
#define RECURSOS_H

#define IDB_FONDO 101
#define IDB_BARRA 102
#define IDB_INSTALAR 103 /* 103, 104, 105: normal, hover, pressed */
#define IDB_SALIR 106    /* 106, 107, 108 */
#define IDC_MANO 201
#define IDI_BRUMARIA 1

#define ANCHO_VENTANA 400
#define ALTO_VENTANA 150
#define BARRA_X 25
#define BARRA_Y 69
#define BOTON_ANCHO 87
#define BOTON_ALTO 30
#define BOTON_Y 106
#define INSTALAR_X 292
#define SALIR_X 24

#endif
