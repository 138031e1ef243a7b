# fish completion for kestrane(1)

# The first mode on the line decides what may follow it.
function __kestrane_mode
    for word in (commandline -opc)[2..-1]
        switch $word
            case --probe --status --services --stop --preview --help --version
                echo $word
                return 0
        end
    end
    return 1
end

function __kestrane_mode_is
    set -l mode (__kestrane_mode)
    and test "$mode" = $argv[1]
end

complete -c kestrane -f
complete -c kestrane -n 'not __kestrane_mode' -l probe -d 'Разово запросить лимиты у провайдеров'
complete -c kestrane -n 'not __kestrane_mode' -l status -d 'Последнее состояние запущенного приложения'
complete -c kestrane -n 'not __kestrane_mode' -l services -d 'Список локальных служб разработки'
complete -c kestrane -n 'not __kestrane_mode' -l stop -x -a '(__fish_complete_pids)' -d 'Остановить локальную службу по PID'
complete -c kestrane -n 'not __kestrane_mode' -l preview -d 'Запустить приложение и сразу открыть панель'
complete -c kestrane -n 'not __kestrane_mode' -l help -d 'Показать справку'
complete -c kestrane -n 'not __kestrane_mode' -l version -d 'Показать версию'

complete -c kestrane -n '__kestrane_mode_is --probe' -l json -d 'Один документ JSON'
complete -c kestrane -n '__kestrane_mode_is --status' -l json -d 'Подробно, в JSON'
complete -c kestrane -n '__kestrane_mode_is --status' -l format -x -a 'waybar' -d 'Формат вывода для панели'
complete -c kestrane -n '__kestrane_mode_is --services' -l json -d 'Список в JSON'

for provider in codex cursor claude kimi antigravity copilot gemini zai minimax openrouter
    complete -c kestrane -n '__kestrane_mode_is --probe; or __kestrane_mode_is --status' -a $provider
end
