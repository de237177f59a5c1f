# Bash completion for velmarsh: its options, the commands export and import,
# the layers, world files (*.wld), bitmaps (*.bmp) and PNG files (*.png), in
# any case, and folders. Installed as share/bash-completion/completions/velmarsh; needs
# nothing but bash.

# Names that start with $2 and are folders or end in one of the extensions
# of $1 ("bmp png"), in any case.
_velmarsh_files() {
    local exts=($1)
    local IFS=$'\n' name ext
    compopt -o filenames 2>/dev/null
    for name in $(compgen -f -- "$2"); do
        if [[ -d $name ]]; then
            COMPREPLY+=("$name")
        else
            local lower=${name,,}
            for ext in "${exts[@]}"; do
                [[ $lower == *."$ext" ]] && COMPREPLY+=("$name") && break
            done
        fi
    done
}

_velmarsh() {
    COMPREPLY=()
    local cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}

    # LAYER=FILE: readline splits the word at '=', so the file is completed
    # on its own. Exports write and imports read BMP and PNG.
    if [[ $cur == = ]] || [[ $cword -gt 1 && ${COMP_WORDS[cword - 1]} == = ]]; then
        [[ $cur == = ]] && cur=""
        _velmarsh_files "bmp png" "$cur"
        return
    fi

    # The words before the cursor, LAYER=FILE put together again.
    local words=() i w joining=0
    for ((i = 1; i < cword; i++)); do
        w=${COMP_WORDS[i]}
        if [[ $w == = && ${#words[@]} -gt 0 ]]; then
            words[${#words[@]} - 1]+="="
            joining=1
        elif ((joining)); then
            words[${#words[@]} - 1]+=$w
            joining=0
        else
            words+=("$w")
        fi
    done

    local plain=() ended=0
    for w in "${words[@]}"; do
        if ((!ended)) && [[ $w == -- ]]; then
            ended=1
        elif ((ended)) || [[ $w != -?* ]]; then
            plain+=("$w")
        fi
    done
    local command=""
    [[ ${plain[0]} == export || ${plain[0]} == import ]] && command=${plain[0]}

    if ((!ended)) && [[ $cur == -* ]]; then
        local options="--"
        ((${#plain[@]} == 0)) && options="--help -h --version --"
        [[ $command == export ]] && options="--replace --"
        [[ $command == import ]] && options="--force --"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case ${#plain[@]} in
        0)
            COMPREPLY=($(compgen -W "export import" -- "$cur"))
            _velmarsh_files wld "$cur"
            ;;
        1)
            [[ -n $command ]] && _velmarsh_files wld "$cur"
            ;;
        *)
            [[ -n $command ]] || return
            local layer named=" "
            for w in "${plain[@]:2}"; do
                w=${w%%=*}
                named+="${w,,} "
            done
            for layer in smallmap landtype landheight largemap; do
                [[ $named == *" $layer "* || $layer != "${cur,,}"* ]] && continue
                if [[ $command == import ]]; then
                    COMPREPLY+=("$layer=")
                else
                    COMPREPLY+=("$layer")
                fi
            done
            [[ $command == import ]] && compopt -o nospace 2>/dev/null
            ;;
    esac
}

complete -F _velmarsh velmarsh
