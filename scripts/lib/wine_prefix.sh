# Private Wine prefixes for the scripts that run Windows programs under Wine (the scenarios, the
# MSI test, the demo, scripts/wine-process-starts), sourced by bash after wine_address_space.sh:
#   wine_prefix_make DIR   makes DIR (absent, or an empty folder such as mktemp -d gives) a booted
#                          prefix and exports WINEPREFIX=DIR, with the quiet defaults below;
#   wine_prefix_remove     stops the prefix's wineserver, waits for it, and removes the prefix;
#   wine_prefix_runs NAME  true while a process of this prefix runs the program NAME (Wine's
#                          tasklist lists nothing; its processes are Linux processes that carry
#                          their prefix in their environment).
# Booting a prefix (wineboot -i) takes about five seconds; copying a booted one about one. So the
# first call boots a template, $QWUS_WINE_TEMPLATE or build/wine-template beside this script's
# project, and every prefix is a copy of it. The template is made again when Wine's version
# changes; a lock keeps scripts that start at once from making it twice.

wine_prefix_template=${QWUS_WINE_TEMPLATE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wine-template}

export WINEDLLOVERRIDES="mscoree,mshtml="
# Quiet, but for the line Wine leaves when it cannot lay out a new process's address space.
export WINEDEBUG=-all,err+virtual

# Boots the template unless one of this Wine's version is there.
wine_prefix_ensure_template() {
  local version
  version=$(wine --version 2>/dev/null)
  mkdir -p "$(dirname "$wine_prefix_template")"
  (
    flock 9
    [[ -f $wine_prefix_template/wine-version &&
       $(<"$wine_prefix_template/wine-version") == "$version" ]] && exit 0
    local booting=$wine_prefix_template.booting
    rm -rf "$booting" "$wine_prefix_template"
    mkdir -p "$booting"
    WINEPREFIX=$booting wineserver -p </dev/null >/dev/null 2>&1
    WINEPREFIX=$booting wine wineboot -i </dev/null >/dev/null 2>&1
    # The wineserver writes the registry to the prefix's files when it ends.
    WINEPREFIX=$booting wineserver -k 2>/dev/null
    WINEPREFIX=$booting wineserver -w
    printf '%s\n' "$version" >"$booting/wine-version"
    mv "$booting" "$wine_prefix_template"
  ) 9>"$wine_prefix_template.lock"
}

wine_prefix_make() {  # wine_prefix_make DIR
  wine_prefix_ensure_template || return 1
  rmdir "$1" 2>/dev/null
  cp -a "$wine_prefix_template" "$1" || return 1
  export WINEPREFIX=$1
}

wine_prefix_runs() {  # wine_prefix_runs NAME.exe
  local pid
  for pid in $(pgrep -f "${1//./\\.}"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

wine_prefix_remove() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$WINEPREFIX"
}
