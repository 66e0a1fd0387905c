# Sourced by the tools that build from Debian's source packages. ensure_deb_src PACKAGE adds
# a deb-src entry mirroring the machine's own Debian entry when apt knows no source for
# PACKAGE yet, then updates the package lists.
ensure_deb_src() {
  local sudo="" src_list
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Not through grep -q: apt-cache would die of SIGPIPE, failing the pipeline.
  if apt-cache showsrc "$1" 2>/dev/null | grep '^Version:' >/dev/null; then return 0; fi
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    src_list=/etc/apt/sources.list.d/corvane-debian-src.sources
    echo "==> adding $src_list (deb-src mirror of debian.sources)" >&2
    sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee "$src_list" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    src_list=/etc/apt/sources.list.d/corvane-debian-src.list
    echo "==> adding $src_list (deb-src mirror of sources.list)" >&2
    grep -E '^deb[[:space:]]' /etc/apt/sources.list |
      sed -e 's/^deb[[:space:]]/deb-src /' | $sudo tee "$src_list" >/dev/null
  else
    echo "==> no Debian apt entry to mirror" >&2
    return 1
  fi
  $sudo apt-get update -qq
}
