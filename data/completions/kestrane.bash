# bash completion for kestrane(1)

_kestrane() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local providers="codex cursor claude kimi antigravity copilot gemini zai minimax openrouter"

    # The first mode on the line decides what may follow it.
    local mode="" word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD - 1}"; do
        case $word in
            --probe | --status | --services | --stop | --preview | --help | --version)
                mode=${mode:-$word}
                ;;
        esac
    done

    case $prev in
        --stop)
            COMPREPLY=($(compgen -W "$(ps -o pid= -u "$(id -u)" 2>/dev/null)" -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "waybar" -- "$cur"))
            return
            ;;
    esac

    local candidates
    case $mode in
        "") candidates="--probe --status --services --stop --preview --help --version" ;;
        --probe) candidates="--json $providers" ;;
        --status) candidates="--json --format $providers" ;;
        --services) candidates="--json" ;;
        *) candidates="" ;;
    esac
    # Words already given are not offered again.
    local offered=() candidate
    for candidate in $candidates; do
        for word in "${COMP_WORDS[@]:1:COMP_CWORD - 1}"; do
            [[ $word == "$candidate" ]] && continue 2
        done
        offered+=("$candidate")
    done
    COMPREPLY=($(compgen -W "${offered[*]}" -- "$cur"))
}

complete -F _kestrane kestrane
