#!/usr/bin/env bash
# Writes the manual page of verimek-cli from its --help text, so that the two never disagree.
#   tools/make-manpage.sh VERIMEK-CLI VERSION OUTPUT
set -euo pipefail
cli="$1" version="$2" out="$3"
help="$("$cli" --help)"
# roff: a leading dot or quote would be a request; backslashes and hyphens are escaped.
esc() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/"; }
{
  echo ".TH VERIMEK-CLI 1 \"\" \"verimek-cli $version\" \"User Commands\""
  echo ".SH NAME"
  echo "verimek-cli \\- check Telebib2 EDIFACT messages from a terminal or a batch"
  echo ".SH SYNOPSIS"
  printf '%s\n' "$help" | sed -n 's/^\(usage:\)\{0,1\} *\(verimek-cli .*\)/\2/p' | esc | sed 's/^/.B /; a .br'
  echo ".SH COMMANDS"
  # Each command line of --help ("  NAME ARGS   text") opens an entry; deeper lines continue it.
  printf '%s\n' "$help" | sed -n '/^commands:/,$p' | sed 1d | esc | awk '
    /^  [a-z]/ {
      line = substr($0, 3)
      n = match(line, /   +/)
      if (n) { print ".TP"; print ".B " substr(line, 1, n - 1); print substr(line, n + RLENGTH) }
      else   { print ".TP"; print ".B " line }
      next
    }
    { sub(/^ +/, ""); if ($0 != "") print }'
  echo ".SH EXIT STATUS"
  echo "0 when the command succeeded and found nothing wrong, 1 when it found errors in the"
  echo "messages, 2 when it failed."
  echo ".SH FILES"
  echo ".TP"
  echo ".I /etc/tarnholt/machine.reg"
  echo "machine hive: the class registry and the engine's database settings"
  echo ".TP"
  echo ".I /usr/share/verimek"
  echo "the sample referential and engine database"
} >"$out"
