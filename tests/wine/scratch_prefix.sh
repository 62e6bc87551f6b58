# Sourced by the scripts that run under a Wine prefix of their own, made fresh for one run:
#
#   scratch_prefix NAME   makes $work (a scratch folder) and exports QUENVAR_WINEPREFIX, a prefix
#                         inside it that wine-run.sh creates on first use; at exit the prefix's
#                         server is stopped and the folder removed
#   settle                waits for the prefix's server to end: Wine writes its registry files
#                         only then
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

scratch_prefix() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-$1.XXXXXX") || exit 2
  export QUENVAR_WINEPREFIX="$work/prefix"
  trap 'WINEPREFIX="$QUENVAR_WINEPREFIX" "$wineserver" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
  trap 'exit 130' INT TERM
}

settle() { WINEPREFIX="$QUENVAR_WINEPREFIX" "$wineserver" -w >/dev/null 2>&1 </dev/null; }
