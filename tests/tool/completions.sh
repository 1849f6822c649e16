#!/bin/bash
# completions.sh SOURCE-DIR BUILD-DIR
# Completes command lines with the bash completions of zelsmbus, zelsim and
# zelsmbus-mkimage, as bash-completion loads them, and compares the words
# offered with what a user expects (the programs of BUILD-DIR on PATH; the
# resource names come from a simulated world, never from the machine).
set -u
source=$1 build=$2
source /usr/share/bash-completion/bash_completion
source "$source/tools/zelsmbus/zelsmbus.bash-completion"
source "$source/sim/launcher/zelsim.bash-completion"
source "$source/tools/zelsmbus-mkimage/zelsmbus-mkimage.bash-completion"
export PATH=$build/tools/zelsmbus:$build/sim:$build/tools/zelsmbus-mkimage:$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch firmware.bin world.toml

# The words offered for a command line (completing its last word), one line.
offered() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local registration function
    registration=$(complete -p "${COMP_WORDS[0]}") || return
    function=${registration#*-F }
    function=${function%% *}
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "${COMPREPLY[*]}"
}

failures=0
expect() {  # command line, words expected (in this order)
    local got
    got=$(offered "$1")
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' offered '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}

# The command run under zelsim is completed as that command, its resources
# from the simulated world.
expect "zelsim -- zelsmbus det" "detect"
expect "zelsim -- zelsmbus detect ZELSMBUS" \
    "ZELSMBUS::SYSTEM::0::0 ZELSMBUS::SYSTEM::0::1 ZELSMBUS::REMOTE::0::0"
expect "zelsim --world world.toml -- zelsmbus get --un" "--unrestricted"
expect "zelsim --in-process -- zelsmbus-mkimage --pinout-v" "--pinout-ver"
# zelsim's own words.
expect "zelsim st" "start stop status"
expect "zelsim fault " "nack corrupt errno status lock clear --help"
expect "zelsim --w" "--world"
expect "zelsim --world wor" "world.toml"
expect "zelsim start --" "--world --help"
# zelsmbus-mkimage: its options, and files for the input and the output.
expect "zelsmbus-mkimage --header-version " "1 2"
expect "zelsmbus-mkimage -o firm" "firmware.bin"
expect "zelsmbus-mkimage --firm" "--firmware-version"
expect "zelsmbus-mkimage --subsystem-id 0x7A51 fir" "firmware.bin"
# zelsmbus alone asks the machine, which has no driver: no resource.
expect "zelsmbus detect ZELSMBUS" ""
exit $((failures > 0))
