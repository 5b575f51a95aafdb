# bash completion for sentrel: its options, then configuration files.
_sentrel() {
  local cur=${COMP_WORDS[COMP_CWORD]} i
  local options_ended=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == -- ]] && options_ended=1
  done
  # The file after --log is any file.
  if ((!options_ended)) && ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == --log ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  if ((!options_ended)) && [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-h --help --version --check --explain --timestamps --once --ignore-window --no-reload --dry-run --strict --log
      --service --install-service --remove-service --pause-service --resume-service --' -- "$cur")
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -X '!*.mon' -- "$cur"; compgen -d -- "$cur")
}
complete -F _sentrel sentrel
