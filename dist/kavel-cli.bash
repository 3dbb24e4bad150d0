# bash completion for kavel-cli
_kavel_cli() {
    local cur prev words cword
    _init_completion || return

    local global_options="--home --styles --version --help"
    local parse_options="--server --home --styles --now --hosts --summary --top --format --save --grep --regex --ignore-case --help"
    local watch_options="--home --styles --demo --for --count --quiet-popups --format --demo-errors --demo-pause --grep --regex --ignore-case --help"
    case $prev in
        --home)
            _filedir -d
            return
            ;;
        --styles | --hosts)
            _filedir
            return
            ;;
        --format)
            if [[ " ${words[*]} " == *" parse "* ]]; then
                COMPREPLY=($(compgen -W 'text json' -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'table tsv json' -- "$cur"))
            fi
            return
            ;;
        --server | --now | --for | --count | --top | --grep)
            return
            ;;
    esac

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            parse | watch)
                command=${words[i]}
                break
                ;;
            --home | --styles)
                ((i++))
                ;;
        esac
    done

    case $command in
        parse)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$parse_options" -- "$cur"))
            else
                _filedir
            fi
            ;;
        watch)
            COMPREPLY=($(compgen -W "$watch_options" -- "$cur"))
            ;;
        *)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$global_options" -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'parse watch' -- "$cur"))
            fi
            ;;
    esac
} &&
    complete -F _kavel_cli kavel-cli
