#!/usr/bin/env bash
# The installer as a person uses it: a release made with publicar and served by nginx on
# 127.0.0.1, the installer's window under Xvfb, driven with xdotool and checked by pixels of
# screenshots against the pictures the program carries.
#   prueba_ventana.sh BUILD   (BUILD: the win64 build folder)
set -euo pipefail
raiz=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
# A Wine session of its own, with the display it starts.
export WINEPREFIX=$build/wine-ventana
capturas=$build/capturas
tmp=$(mktemp -d)
source "$raiz/scripts/ventana-comun.sh"

fallos=0
bien() { echo "ok: $*"; }
mal() { echo "FALLO: $*"; fallos=$((fallos + 1)); }

puerto=$((20000 + RANDOM % 20000))
limpiar() {
  "$raiz/scripts/servir" --parar "$tmp/nginx" || true
  cerrarSesionGrafica
  rm -rf "$tmp"
}
trap limpiar EXIT
sesionGrafica

# ---- a release of about 3 MB, served slowly enough to watch the bar move ----
juego=$tmp/juego
mkdir -p "$juego/Recursos/Mapas"
cp "$build/demo/Brumaria.exe" "$build/demo/Uninstall.exe" "$juego/"
head -c 3000000 /dev/urandom >"$juego/Recursos/datos.pak"
for i in 1 2 3 4 5; do echo "mapa $i" >"$juego/Recursos/Mapas/mapa$i.map"; done
"$wine" "$build/herramientas/publicar/publicar.exe" release "$(ventanaWin "$juego")" "$(ventanaWin "$tmp/salida")" \
  --version 1 --clave "$(ventanaWin "$raiz/pruebas/clave/prueba.priv")" >/dev/null
"$raiz/scripts/servir" "$tmp/salida" "$puerto" "$tmp/nginx" 600k

programas=$WINEPREFIX/drive_c/Program\ Files
instalado=$programas/Brumaria
# The installer puts its shortcut on the desktop of all users.
escritorio=$WINEPREFIX/drive_c/users/Public/Desktop
preparar() {
  rm -rf "$instalado" "$escritorio/Brumaria.lnk"
  "$wine" reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\BRM' /f >/dev/null 2>&1 || true
  mkdir -p "$instalado/Recursos/Avanzado"
  echo "http://127.0.0.1:$1/" >"$instalado/Recursos/Avanzado/ServidorDescargas.txt"
}

# Runs a command until it succeeds or SECONDS seconds have passed: hasta SECONDS COMMAND...
hasta() {
  local fin=$(($(date +%s%N) + $1 * 1000000000))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt "$fin" ] || return 1
    sleep 0.1
  done
}
# Colour of one pixel, as #RRGGBB.
pixel() { convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1; }
# The window's pixel (x, y) in a screenshot shows the picture's pixel (px, py). A busy machine
# may paint late, so a mismatch is looked at again in fresh screenshots for up to 5 seconds.
igual() {
  local nombre=$1 x=$2 y=$3 imagen=$4 px=$5 py=$6
  local visto esperado
  esperado=$(pixel "$raiz/res/$imagen" "$px" "$py")
  mismoPixel() {
    visto=$(pixel "$capturas/$nombre.png" $((vx + x)) $((vy + y)))
    [ "$visto" = "$esperado" ] && return 0
    captura "$nombre"
    return 1
  }
  hasta 5 mismoPixel || visto=$(pixel "$capturas/$nombre.png" $((vx + x)) $((vy + y)))
  if [ "$visto" = "$esperado" ]; then bien "$nombre: ($x,$y) shows $imagen"; else mal "$nombre: ($x,$y) is $visto, $imagen has $esperado"; fi
}
# A point of a button whose three images all differ there.
distinto() {
  local base=$1 x y
  for x in $(seq 10 76); do
    for y in 8 12 15 18 21; do
      local a b c
      a=$(pixel "$raiz/res/${base}0.bmp" "$x" "$y")
      b=$(pixel "$raiz/res/${base}1.bmp" "$x" "$y")
      c=$(pixel "$raiz/res/${base}2.bmp" "$x" "$y")
      if [ "$a" != "$b" ] && [ "$b" != "$c" ] && [ "$a" != "$c" ]; then echo "$x $y"; return; fi
    done
  done
}
read -r ix iy <<<"$(distinto instalar)"
read -r sx sy <<<"$(distinto salir)"

# ---- the idle window ----
preparar "$puerto"
instalador="$build/instalador/Instalar Brumaria.exe"
arrancar "$instalador"
if [ "$WIDTH" = 400 ] && [ "$HEIGHT" = 150 ] && [ "$vx" = 312 ] && [ "$vy" = 309 ]; then
  bien "window 400 x 150 at (312, 309), centred"
else
  mal "window ${WIDTH} x ${HEIGHT} at ($vx, $vy)"
fi
xdotool mousemove $((vx + 200)) $((vy + 30)); sleep 0.5
captura inicial
recorte inicial
igual inicial 200 10 fondo.bmp 200 10
igual inicial 5 75 fondo.bmp 5 75
igual inicial 100 78 fondo.bmp 100 78            # the empty track
igual inicial 200 60 fondo.bmp 200 60
igual inicial $((292 + ix)) $((106 + iy)) instalar0.bmp "$ix" "$iy"
igual inicial $((24 + sx)) $((106 + sy)) salir0.bmp "$sx" "$sy"

# ---- hover and press ----
xdotool mousemove $((vx + 335)) $((vy + 120)); sleep 0.5
captura hover
recorte hover
igual hover $((292 + ix)) $((106 + iy)) instalar1.bmp "$ix" "$iy"
igual hover $((24 + sx)) $((106 + sy)) salir0.bmp "$sx" "$sy"
xdotool mousemove $((vx + 60)) $((vy + 120)); sleep 0.5
captura hover-salir
igual hover-salir $((24 + sx)) $((106 + sy)) salir1.bmp "$sx" "$sy"
igual hover-salir $((292 + ix)) $((106 + iy)) instalar0.bmp "$ix" "$iy"

xdotool mousemove $((vx + 335)) $((vy + 120)) mousedown 1; sleep 0.5
captura apretado
igual apretado $((292 + ix)) $((106 + iy)) instalar2.bmp "$ix" "$iy"
xdotool mousemove $((vx + 200)) $((vy + 120)); sleep 0.5
captura apretado-fuera
igual apretado-fuera $((292 + ix)) $((106 + iy)) instalar0.bmp "$ix" "$iy"
xdotool mousemove $((vx + 335)) $((vy + 120)); sleep 0.5
captura apretado-vuelta
igual apretado-vuelta $((292 + ix)) $((106 + iy)) instalar2.bmp "$ix" "$iy"
xdotool mouseup 1

# ---- installing: the bar moves, a close request is refused, a press elsewhere drags ----
captura instalando
igual instalando 30 78 barra.bmp 5 9
igual instalando $((292 + ix)) $((106 + iy)) instalar0.bmp "$ix" "$iy"
recorte instalando
# Keys go to the focused window through the X server: Wine ignores synthetic key events.
xdotool windowfocus "$ventana" key alt+F4; sleep 0.5
existe '^Instalar Brumaria$' && bien "close request refused while installing" || mal "the window closed while installing"
xdotool mousemove $((vx + 200)) $((vy + 30)) mousedown 1 mousemove $((vx + 260)) $((vy + 70)) mouseup 1
movida() { eval "$(xdotool getwindowgeometry --shell "$ventana")"; [ "$X" != "$vx" ] || [ "$Y" != "$vy" ]; }
hasta 5 movida && bien "dragged to ($X, $Y)" || mal "a press outside the buttons did not drag"

if esperarFin; then bien "the window closed by itself"; else mal "the window did not close"; fi
cmp -s "$juego/Recursos/datos.pak" "$instalado/Recursos/datos.pak" && bien "files installed" || mal "datos.pak differs"
hasta 10 test -f "$instalado/lanzado.txt" && bien "launcher started" || mal "launcher not started"
[ -f "$escritorio/Brumaria.lnk" ] && bien "desktop shortcut" || mal "no desktop shortcut"
"$wine" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\BRM' /v DisplayName 2>/dev/null | grep -q Brumaria &&
  bien "uninstall entry" || mal "no uninstall entry"

# ---- failure: the dialog, Cancel leaves the window idle with an empty bar ----
preparar $((puerto + 1))   # nothing listens there
arrancar "$instalador"
xdotool mousemove $((vx + 335)) $((vy + 120)) click 1
dialogo() {
  for _ in $(seq 200); do
    dialogo=$(xdotool search --onlyvisible --name '^Brumaria$' | head -1)
    [ -n "$dialogo" ] && { sleep 0.5; return 0; }
    sleep 0.1
  done
  return 1
}
if dialogo; then bien "failure dialog shown"; else mal "no failure dialog"; fi
captura error
recorte error
# The box's buttons are clicked where Wine puts them (it draws message boxes the same way every
# time); a slow press, because a press and release in one instant may reach the box as no click.
boton() {
  eval "$(xdotool getwindowgeometry --shell --prefix D "$dialogo")"
  xdotool mousemove $((DX + $1)) $((DY + 68)) sleep 0.3 mousedown 1 sleep 0.3 mouseup 1
  for _ in $(seq 50); do existe '^Brumaria$' || return 0; sleep 0.1; done
  return 1
}
# Retry: a new run, which fails the same way.
boton 133 && dialogo && bien "Retry ran again" || mal "Retry did not run again"
boton 235
existe '^Brumaria$' && mal "the dialog stayed" || bien "Cancel closed the dialog"
captura cancelado
igual cancelado 30 78 fondo.bmp 30 78
igual cancelado $((292 + ix)) $((106 + iy)) instalar0.bmp "$ix" "$iy"
# Both buttons answer again.
xdotool mousemove $((vx + 335)) $((vy + 120)); sleep 0.5
captura cancelado-hover
igual cancelado-hover $((292 + ix)) $((106 + iy)) instalar1.bmp "$ix" "$iy"
# Idle again: the same close request that was refused during the install now closes it.
xdotool windowfocus "$ventana" key alt+F4
esperarFin && bien "a close request closes the idle window" || mal "the idle window ignored a close request"
arrancar "$instalador"
xdotool mousemove $((vx + 60)) $((vy + 120)) click 1
esperarFin && bien "SALIR closes the window" || mal "SALIR did not close the window"

echo "screenshots: $capturas"
[ "$fallos" -eq 0 ] && echo "window checks passed" || { echo "$fallos window checks failed"; exit 1; }
