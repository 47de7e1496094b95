# bash completion for webtrim(1)

_webtrim()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local kinds="comments scripts styles forms internet meta pictures modules frames all"

    # --option=value and --option value
    local option= value=$cur
    if [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=${cur#*=}
    elif [[ $prev == -* && $prev != --*=* ]]; then
        option=$prev
    fi
    case $option in
        --remove|--keep)
            # One name after the last comma of the list.
            local head= last=$value
            if [[ $value == *,* ]]; then
                head=${value%,*},
                last=${value##*,}
            fi
            local IFS=$'\n'
            COMPREPLY=($(compgen -P "$head" -W "${kinds// /$'\n'}" -- "$last"))
            compopt -o nospace 2>/dev/null
            return ;;
        --move-to)
            COMPREPLY=($(compgen -d -- "$value"))
            compopt -o filenames 2>/dev/null
            return ;;
        --files-from|-o|--output)
            COMPREPLY=($(compgen -f -- "$value"))
            compopt -o filenames 2>/dev/null
            return ;;
        -j|--jobs)
            COMPREPLY=($(compgen -W "1 2 3 4 6 8 12 16" -- "$value"))
            return ;;
    esac

    if [[ $cur == -* ]]; then
        local options="-h --help --version -q --quiet -v --verbose -n --dry-run
            -r --recursive -j --jobs= -o --output= --files-from= -0 --null
            --remove= --keep= --extract --no-extract --cut-tables --no-cut-tables
            --extract-first --extract-last --any-layout --table-layout
            --avoid-bad-colors --no-avoid-bad-colors --defaults
            --trash --move-to= --save --settings"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi

    # Pages: web pages and folders to go into.
    local f
    COMPREPLY=()
    while IFS= read -r f; do
        if [[ -d $f ]]; then
            COMPREPLY+=("$f")
        else
            case ${f,,} in *.htm|*.html|*.plg) COMPREPLY+=("$f") ;; esac
        fi
    done < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
}
complete -F _webtrim webtrim
