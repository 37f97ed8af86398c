# SPDX-License-Identifier: BSD-3-Clause
# bash completion for nubo: the commands, their options (read from
# `nubo COMMAND --help`, so that the list follows the program), and file
# arguments of the kind each command takes: .NAB files for upgrade, decode,
# test and info, WAVE and FLAC files for encode, a .NAB then a WAVE or FLAC
# file for verify; directories everywhere, as every command takes them.

_nubo_commands() {
  # The names under "Subcommands:" in `nubo --help`.
  "$1" --help 2>/dev/null | awk '/^Subcommands:/ { inside = 1; next } inside && /^  [a-z]/ { print $1 }'
}

_nubo() {
  local cur prev words cword split
  _init_completion -s || return

  # The command: the first word after nubo that is not an option.
  local i command="" command_at=0
  for ((i = 1; i < cword; i++)); do
    if [[ ${words[i]} != -* ]]; then
      command=${words[i]} command_at=$i
      break
    fi
  done

  case $prev in
    -o | --output)
      # A file, a directory/ or a name* / name! form: files and directories.
      _filedir
      return
      ;;
    --files-from | --report)
      _filedir
      return
      ;;
    -j | --jobs)
      COMPREPLY=($(compgen -W "$(seq 1 "$(nproc 2>/dev/null || echo 4)")" -- "$cur"))
      return
      ;;
    --flac-level)
      COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7 8' -- "$cur"))
      return
      ;;
  esac
  $split && return

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
    else
      COMPREPLY=($(compgen -W '$(_nubo_commands "$1")' -- "$cur"))
    fi
    return
  fi

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '$(_parse_help "$1" "$command --help")' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    return
  fi

  case $command in
    upgrade | decode | test | info)
      _filedir nab
      ;;
    encode)
      _filedir '@(wav|flac)'
      ;;
    verify)
      # nubo verify NAB WAV: count the file arguments before this one.
      local files=0
      for ((i = command_at + 1; i < cword; i++)); do
        [[ ${words[i]} != -* ]] && ((files++))
      done
      if ((files == 0)); then
        _filedir nab
      else
        _filedir '@(wav|flac)'
      fi
      ;;
    *)
      _filedir
      ;;
  esac
} &&
  complete -F _nubo nubo
