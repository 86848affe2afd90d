// What the floor programs share.
#ifndef BANCO_COMUN_H
#define BANCO_COMUN_H

// A whole file (under 1 GiB) in a zero-filled block from Pedir, so it ends in a terminator;
// NULL when it cannot be read. Released with Soltar.
char *LeerTodo(const char *ruta);
// The next line of a list that is not empty, cut at its line feed; NULL at the end (or with no
// list at all). *resto moves past it.
char *SiguienteLinea(char **resto);

#endif
