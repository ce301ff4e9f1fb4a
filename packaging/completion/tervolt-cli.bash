# bash completion for tervolt-cli: commands, options, --format values, image files, serial devices
# and COMn names for --port.

_tervolt_cli() {
    local cur prev words cword split
    _init_completion -s || return

    local commands="ping identify program verify blocks ports"
    local options="--port --ports --all --baud --devices --format --start-address --size-header
                   --no-size-header --retries --verify --trace --json --quiet --help --version"

    case $prev in
        --port)
            local devices
            devices=$(compgen -G '/dev/tty[SU]*' ; compgen -G '/dev/ttyACM*' ; compgen -G '/dev/serial/by-id/*')
            COMPREPLY=($(compgen -W "auto $(printf 'COM%s ' {1..16}) $devices" -- "$cur"))
            return
            ;;
        --baud)
            COMPREPLY=($(compgen -W "110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600
                                     115200 128000 256000" -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "auto hex ihex srec elf bin" -- "$cur"))
            return
            ;;
        --devices)
            _filedir
            return
            ;;
        --trace)
            # "-" is standard error
            COMPREPLY=($(compgen -W "-" -- "$cur"))
            _filedir
            return
            ;;
        --ports | --start-address | --retries)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # The first word that is neither an option nor an option's value is the command.
    local i command=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --port | --ports | --baud | --devices | --format | --start-address | --retries | --trace) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    case $command in
        "") COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
        program | verify | blocks) _filedir ;;
    esac
} &&
    complete -F _tervolt_cli tervolt-cli
