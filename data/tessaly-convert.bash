# bash completion for tessaly-convert
_tessaly_convert() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --rate)
            COMPREPLY=($(compgen -W '0 8000 11025 22050 44100 48000' -- "$cur"))
            return
            ;;
        --bits)
            COMPREPLY=($(compgen -W '0 16 8' -- "$cur"))
            return
            ;;
        --channels)
            COMPREPLY=($(compgen -W '0 2 1' -- "$cur"))
            return
            ;;
        --dir)
            _filedir -d
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac

    local word
    for word in "${words[@]:1:cword-1}"; do
        [[ $word == -- ]] && { _filedir; return; }
    done
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--rate --no-keep-lower --bits --channels --overwrite --dir
            --null --help --version --' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _tessaly_convert tessaly-convert
