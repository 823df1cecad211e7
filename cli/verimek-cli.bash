# bash completion for verimek-cli: the sub-commands as its --help lists them, then file names.
_verimek_cli() {
  local cur="${COMP_WORDS[COMP_CWORD]}"
  if [ "$COMP_CWORD" -eq 1 ]; then
    local commands
    commands="$("${COMP_WORDS[0]}" --help 2>/dev/null | sed -n '/^commands:/,$s/^  \([a-z][a-z]*\) .*/\1/p')"
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _verimek_cli verimek-cli
