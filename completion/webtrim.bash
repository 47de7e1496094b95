# bash completion for webtrim(1)

_webtrim()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local kinds="comments scripts styles forms internet meta pictures modules frames companion-files all"

    # --option=value and --option value. Bash splits "--remove=sc" at the
    # '=' (it is in COMP_WORDBREAKS): the words are "--remove", "=" and
    # "sc", and a reply takes the place of "sc" alone. Where '=' does not
    # split words, the reply takes the whole word's place: it starts with
    # "--option=".
    local option= value=$cur whole=
    if [[ $cur == = ]]; then
        option=$prev
        value=
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        option=${COMP_WORDS[COMP_CWORD-2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=${cur#*=}
        whole=$option=
    elif [[ $prev == -* && $prev != --*=* ]]; then
        option=$prev
    fi
    case $option in
        --remove|--keep)
            # One name after the last comma of the list.
            local head=$whole last=$value
            if [[ $value == *,* ]]; then
                head=$whole${value%,*},
                last=${value##*,}
            fi
            local IFS=$'\n'
            COMPREPLY=($(compgen -P "$head" -W "${kinds// /$'\n'}" -- "$last"))
            compopt -o nospace 2>/dev/null
            return ;;
        --move-to|--files-from|-o|--output)
            local what=-f
            [[ $option == --move-to ]] && what=-d
            if [[ -z $whole ]]; then
                COMPREPLY=($(compgen $what -- "$value"))
                compopt -o filenames 2>/dev/null
                return
            fi
            # The reply holds "--option=": the shell cannot tell a folder
            # by it, so a folder gets its '/' here.
            local f
            COMPREPLY=()
            while IFS= read -r f; do
                [[ -d $f ]] && f+=/
                COMPREPLY+=("$whole$f")
            done < <(compgen $what -- "$value")
            [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} != */ ]] || compopt -o nospace 2>/dev/null
            return ;;
        -j|--jobs)
            COMPREPLY=($(compgen -P "$whole" -W "1 2 3 4 6 8 12 16" -- "$value"))
            return ;;
    esac

    if [[ $cur == -* ]]; then
        local options="-h --help --version -q --quiet -v --verbose -n --dry-run
            -r --recursive -j --jobs= -o --output= --files-from= -0 --null --json --warc --warc-keep-originals --warc-response --record-limit= --warc-level=
            --remove= --keep= --extract --no-extract --cut-tables --no-cut-tables
            --extract-first --extract-last --any-layout --table-layout
            --avoid-bad-colors --no-avoid-bad-colors --defaults
            --trash --move-to= -p --preserve-time --no-preserve-time --save --settings"
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
