#!/usr/bin/env bash
# The bash completion: options, their values, and the devices `kestrix -list`
# names. Usage: completion_test.sh COMPLETION_FILE (77: no bash-completion).
framework=/usr/share/bash-completion/bash_completion
[ -r "$framework" ] || exit 77
HOME=$(mktemp -d) && trap 'rm -rf "$HOME"' EXIT # bash-completion reads ~/.bash_completion
. "$framework" && . "$1" || exit 1
kestrix() { printf '/dev/ttyUSB7\tFTDI FT232R\n/dev/ttyS0\t16550A UART\n'; } # -list, no device

failed=0
while IFS='|' read -r line expected; do
    # The words as bash splits them, at blanks and "=", the cursor at the end.
    COMP_LINE=$line COMP_POINT=${#line} COMPREPLY=()
    read -ra COMP_WORDS <<<"${line//=/ = }"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _kestrix kestrix "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort -u | paste -sd ' ')
    [[ $got == "$expected" ]] || { echo "'$line': got '$got', not '$expected'"; failed=1; }
done <<'EOF'
kestrix -f |ascii latex rtf utf8
kestrix --s|--speed
kestrix -er|-erase
kestrix -batch -speed 11|115200
kestrix --format=la|latex
kestrix -fo=u|utf8
kestrix -d /dev/ttyUSB|/dev/ttyUSB7
EOF
exit $failed
