#!/bin/bash
# The printer application's folders include one another one way only (README,
# "Source layout"): each folder below may include itself, the library (base/
# render/ printers/ image/) and the folders named after it; core/main.cpp,
# which wires the parts together, may include web/ as well. PAPPL's and
# libcups's private names (_pappl..., _cups...) appear only in app/pappl/.
# Every include running another way, and every such name, is printed as
# FILE:LINE and fails the check.
#
# Usage: app_layers.sh APP_DIR     check that tree
#        app_layers.sh --self-test check that a sample tree with faults fails with just those
set -u

declare -A MAY=(
    [devices]=""
    [documents]=""
    [pappl]="devices"
    [core]="pappl devices documents"
    [web]="core pappl devices documents"
)
LIBRARY="base render printers image"

# Prints the faults of the tree APP; returns 1 when there are any.
check() {
    local app=$1 bad=0 file line text dir target
    local re='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)"'
    for dir in "$app"/*/; do
        dir=$(basename "$dir")
        [ -n "${MAY[$dir]+set}" ] && continue
        echo "app/$dir/: a folder the check does not know (give it its place in MAY)"
        bad=1
    done
    while IFS=: read -r file line text; do
        file=${file#"$app"/}
        dir=${file%%/*}
        [ -n "${MAY[$dir]+set}" ] || continue
        [[ $text =~ $re ]] || continue
        target=${BASH_REMATCH[1]}
        case " $LIBRARY " in *" ${target%%/*} "*) continue ;; esac
        if [[ $target == app/*/* ]]; then
            target=${target#app/}
            target=${target%%/*}
            [ "$target" = "$dir" ] && continue
            case " ${MAY[$dir]} " in *" $target "*) continue ;; esac
            [ "$file" = core/main.cpp ] && [ "$target" = web ] && continue
            echo "$file:$line: app/$dir/ includes app/$target/: $text"
        else
            echo "$file:$line: include not by its path from the source root: $text"
        fi
        bad=1
    done < <(grep -rn --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$app")
    while IFS= read -r text; do
        echo "${text#"$app"/}: a PAPPL or libcups private name outside app/pappl/"
        bad=1
    done < <(grep -rn --include='*.cpp' --include='*.h' --exclude-dir=pappl -e '_pappl' -e '_cups' "$app")
    return $bad
}

if [ "${1:-}" = --self-test ]; then
    WORK=$(mktemp -d /tmp/dotforge-layers.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
    mkdir -p "$WORK"/{core,devices,pappl,web,misc}
    printf '#include "app/core/job.h"\n#include "app/devices/x.h"\n' > "$WORK/devices/a.cpp"
    printf '#include "app/pappl/y.h"\n\n#include "app/web/webui.h"\n#include "job.h"\n' > "$WORK/core/b.cpp"
    printf '#include "app/web/webui.h"\n' > "$WORK/core/main.cpp"
    printf '#include "app/core/job.h"\n#include "base/log.h"\nvoid _papplOk();\n' > "$WORK/pappl/c.cpp"
    printf '#include "app/core/job.h"\nvoid f() { _cupsSetError(); }\n' > "$WORK/web/d.cpp"
    got=$(check "$WORK") && { echo "FAIL: a tree with faults passed"; exit 1; }
    want=$(printf '%s\n' "app/misc/: a folder the check does not know (give it its place in MAY)" \
        "core/b.cpp:3: app/core/ includes app/web/: #include \"app/web/webui.h\"" \
        "core/b.cpp:4: include not by its path from the source root: #include \"job.h\"" \
        "devices/a.cpp:1: app/devices/ includes app/core/: #include \"app/core/job.h\"" \
        "pappl/c.cpp:1: app/pappl/ includes app/core/: #include \"app/core/job.h\"" \
        "web/d.cpp:2:void f() { _cupsSetError(); }: a PAPPL or libcups private name outside app/pappl/")
    [ "$(sort <<<"$got")" = "$want" ] || { printf 'FAIL: found\n%s\nexpected\n%s\n' "$got" "$want"; exit 1; }
    echo "The check finds the faults of its sample tree."
    exit 0
fi
APP=${1:?usage: app_layers.sh APP_DIR | --self-test}
check "$APP" || { echo "FAIL: see above (README, \"Source layout\", says which way includes run)"; exit 1; }
echo "app/: every include runs the right way."
