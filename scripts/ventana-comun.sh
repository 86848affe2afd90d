# Shared by the window test and the demo (sourced): a display and a Wine session of their own,
# the installer's window found and driven with xdotool, and screenshots.
# Needs: raiz (the repository), WINEPREFIX, capturas (folder for screenshots), and optionally
# wine: how Windows programs are run, scripts/wine (64-bit build, the default) or scripts/win32.

wine=${wine:-$raiz/scripts/wine}
ventanaWin() { echo "Z:${1//\//\\}"; }

# Starts Xvfb on a free display and a Wine session that belongs to it: a session started
# without a display cannot open windows.
sesionGrafica() {
  local n
  for n in $(seq 50 99); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
  export DISPLAY=":$n"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  mkdir -p "$WINEPREFIX" "$capturas"
  "$wine" --servidor
}
cerrarSesionGrafica() {
  "$wine" --parar || true
  kill "$xvfb" 2>/dev/null || true
}

# Where a Windows program of the build installs and registers: a 32-bit program on 64-bit
# Windows gets "Program Files (x86)" and the 32-bit registry view. Sets programas and vistaReg
# (the reg.exe switch that reads that view) from the program's PE machine field.
segunBuild() {
  local pe maquina
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  maquina=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$maquina" = 014c ]; then
    programas="$WINEPREFIX/drive_c/Program Files (x86)" vistaReg=/reg:32
  else
    programas="$WINEPREFIX/drive_c/Program Files" vistaReg=/reg:64
  fi
}
existe() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
# Starts the installer and sets ventana, vx, vy, WIDTH and HEIGHT.
arrancar() {
  ( cd /tmp && "$wine" "$1" ) >/dev/null 2>&1 &
  ventana=$(timeout 60 xdotool search --sync --onlyvisible --name '^Instalar Brumaria$' | head -1)
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$ventana")"
  vx=$X vy=$Y
}
esperarFin() {
  local _
  for _ in $(seq "${1:-600}"); do existe '^Instalar Brumaria$' || return 0; sleep 0.1; done
  return 1
}
captura() { import -window root "$capturas/$1.png"; }
# The window alone, cut from a screenshot.
recorte() { convert "$capturas/$1.png" -crop "${WIDTH}x${HEIGHT}+$vx+$vy" +repage "$capturas/$1-ventana.png"; }
