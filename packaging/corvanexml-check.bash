# bash completion for corvanexml-check. Self-contained (no bash-completion helpers), so it
# also works when sourced by hand.

_corvanexml_check() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} prefix=""
  local IFS=$'\n'
  # "--format=js": bash splits at "=" unless COMP_WORDBREAKS was changed to keep it.
  if [[ $cur == = ]]; then
    cur=""
  elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
    prev=${COMP_WORDS[COMP_CWORD-2]}
  elif [[ $cur == --*=* ]]; then
    prev=${cur%%=*} prefix=${cur%%=*}=
    cur=${cur#*=}
  fi

  case $prev in
    --format)
      COMPREPLY=($(compgen -P "$prefix" -W $'text\nlist\njson\nsarif\ngithub' -- "$cur"))
      return ;;
    --tree)
      # The trees of the user's own connections file, as the checker reads it.
      COMPREPLY=($(compgen -P "$prefix" -W "$("$1" --list-trees 2>/dev/null)" -- "$cur"))
      return ;;
    --ignore)
      COMPREPLY=($(compgen -P "$prefix" -W \
        $'Msg001\nMsg002\nMsg003\nMsg004\nMsg006\nMsg007\nMsg008\nMsg009\nMsg010\nMsg100' -- "$cur"))
      return ;;
    --exclude | --jobs)
      return ;;
    --schema | --baseline | --write-baseline | --output | --stdin-filename)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -P "$prefix" -f -- "$cur"))
      return ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W $'--schema\n--tree\n--list-trees\n--show-tree\n--format\n--version
--exit-zero\n--quiet\n--exclude\n--ignore\n--report-unused-directives\n--stdin-filename
--write-baseline\n--baseline\n--output\n--fix\n--diff\n--jobs\n--lsp\n--help' -- "$cur"))
    return
  fi
  # Files to check: XML files and the folders that may hold them.
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.[xX][mM][lL]' -- "$cur"))
}
complete -F _corvanexml_check corvanexml-check
