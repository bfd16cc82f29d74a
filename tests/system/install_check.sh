#!/usr/bin/env bash
# Installs a build into a scratch staging tree (DESTDIR) and checks that everything lands where
# Linux desktops look: the program in bin, a valid desktop entry that starts it under its icon's
# name and opens skarnet: links, and that icon as PNG files of the sizes their folders name in
# the hicolor theme; beside the entry, a valid description for software centres that bears the
# same id, launches that entry, provides the program and has this version as its latest release.
# Also checks the documents beside it: a manual page that man reads without warnings and that
# describes the options the program's --help lists, no more and no fewer, and the copyright file
# and changelog.
#
# usage: install_check.sh BUILD_DIR VERSION
set -uo pipefail

build=$1
version=$2

# shellcheck source=../support/system_check.sh
source "$(dirname "$0")/../support/system_check.sh"
# shellcheck source=../support/desktop_metadata.sh
source "$(dirname "$0")/../support/desktop_metadata.sh"
root=$work/root

DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }

program=$root/usr/bin/skarnet
[[ -x $program ]] || flunk "no executable usr/bin/skarnet"
if [[ -x $program ]]; then
    installed_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version 2>&1)
    [[ $installed_version == "$version" ]] ||
        flunk "the installed program says '$installed_version' for --version"
fi

entries=("$root"/usr/share/applications/*.desktop)
[[ ${#entries[@]} -eq 1 && -f ${entries[0]} ]] || flunk "expected one desktop entry, found: ${entries[*]}"
entry=${entries[0]}
field() { sed -n "s/^$1=//p" "$entry" 2>/dev/null | head -n 1; }
[[ $(field Type) == Application ]] || flunk "desktop entry Type is '$(field Type)'"
[[ $(field Name) == Skarnet ]] || flunk "desktop entry Name is '$(field Name)'"
[[ $(field Categories) == *"Game;"*"CardGame;"* ]] ||
    flunk "desktop entry Categories is '$(field Categories)'"
# The handler of skarnet: links, which the desktop starts with the link clicked.
[[ $(field MimeType) == *"x-scheme-handler/skarnet;"* ]] ||
    flunk "desktop entry MimeType is '$(field MimeType)', not the handler of skarnet: links"
[[ $(field Exec) == *" %u" ]] || flunk "desktop entry Exec '$(field Exec)' is not given the link"
exec_command=$(field Exec)
exec_command=${exec_command%% *}
[[ -x $root/usr/bin/$exec_command ]] ||
    flunk "desktop entry Exec starts '$exec_command', which is not an installed program"
icon=$(field Icon)
[[ -n $icon ]] || flunk "desktop entry has no Icon"

# The description software centres read, named like the entry by the program's reverse-DNS id.
metainfos=("$root"/usr/share/metainfo/*.metainfo.xml)
if [[ ${#metainfos[@]} -eq 1 && -f ${metainfos[0]} ]]; then
    metainfo=${metainfos[0]}
    app_id=$(basename "$metainfo" .metainfo.xml)
    element() { sed -n "s:.*<$1>\(.*\)</${1%% *}>.*:\1:p" "$metainfo" | head -n 1; }
    latest_release=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -n 1)
    while IFS='|' read -r what found expected; do
        [[ $found == "$expected" ]] || flunk "the description's $what is '$found', not '$expected'"
    done <<EOF
id|$(element id)|$app_id
desktop entry|$(basename "$entry")|$app_id.desktop
launchable|$(element 'launchable type="desktop-id"')|$app_id.desktop
binary|$(element binary)|$exec_command
latest release|$latest_release|$version
EOF
    validate_desktop_metadata "$entry" "$metainfo"
else
    flunk "expected one AppStream description in usr/share/metainfo, found: ${metainfos[*]}"
fi

# png_size FILE: the width and height recorded in a PNG file's header, as "WxH".
png_size() {
    local signature
    signature=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
    [[ $signature == 89504e470d0a1a0a ]] || return 1
    local -a words
    read -r -a words < <(od -An -tu1 -j16 -N8 "$1")
    echo "$(((words[0] << 24) | (words[1] << 16) | (words[2] << 8) | words[3]))x$(((words[4] << 24) | (words[5] << 16) | (words[6] << 8) | words[7]))"
}
theme=$root/usr/share/icons/hicolor
# The theme's fallback size must be there; the others are checked for what they hold.
[[ -f $theme/48x48/apps/$icon.png ]] || flunk "no 48x48 icon named '$icon' in the hicolor theme"
count=0
for file in "$theme"/*/apps/"$icon".png; do
    [[ -f $file ]] || continue
    count=$((count + 1))
    folder=$(basename "$(dirname "$(dirname "$file")")")
    size=$(png_size "$file") || { flunk "${file#"$root"} is not a PNG file"; continue; }
    [[ $size == "$folder" ]] || flunk "${file#"$root"} is $size, not $folder"
done
((count >= 4)) || flunk "only $count icon sizes installed"

# The manual page, against the program's own list of options.
page=$root/usr/share/man/man1/skarnet.1.gz
if [[ ! -f $page ]]; then
    flunk "no manual page usr/share/man/man1/skarnet.1.gz"
else
    gzip -t "$page" 2>/dev/null || flunk "skarnet.1.gz is not gzip data"
    heading=$(gzip -dc "$page" | head -n 1)
    [[ $heading == ".TH SKARNET 1 "*" \"Skarnet $version\" "* ]] ||
        flunk "the manual page's heading does not name version $version: $heading"
    if command -v man >/dev/null; then
        man --warnings -l "$page" >/dev/null 2>"$work/man.err" ||
            flunk "man cannot show skarnet.1.gz"
        [[ ! -s $work/man.err ]] || flunk "man warns about skarnet.1.gz: $(cat "$work/man.err")"
    else
        echo "note: man is not installed; the manual page is not rendered"
    fi
    # options: the option names (-x, --name) at the start of each line of a list.
    options() { grep -oE -- '(^|[ ,])-(-[a-z][a-z-]*|[a-z?])' | tr -d ' ,' | sort -u; }
    if [[ -x $program ]]; then
        env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help 2>&1 |
            sed -n -E 's/^  (-.*[^ ])  .*/\1/p' | options >"$work/help_options"
        # The tags of the paragraphs under OPTIONS in the page's source.
        gzip -dc "$page" | awk '/^\.SH / { listed = ($2 == "OPTIONS") } listed && tag { print }
                               { tag = ($0 == ".TP") }' | sed 's/\\-/-/g' | options \
            >"$work/page_options"
        [[ -s $work/help_options ]] || flunk "found no options in the program's --help"
        missing=$(comm -23 "$work/help_options" "$work/page_options" | paste -sd ' ')
        [[ -z $missing ]] || flunk "the manual page does not describe $missing"
        stale=$(comm -13 "$work/help_options" "$work/page_options" | paste -sd ' ')
        [[ -z $stale ]] || flunk "the manual page describes $stale, which --help does not list"
    fi
fi
for document in copyright changelog.gz; do
    [[ -f $root/usr/share/doc/skarnet/$document ]] ||
        flunk "no usr/share/doc/skarnet/$document"
done

unexpected=$(cd "$root" && find . -type f | grep -v -e '^\./usr/bin/skarnet$' \
    -e '^\./usr/share/applications/[^/]*\.desktop$' -e '^\./usr/share/icons/hicolor/[^/]*/apps/' \
    -e '^\./usr/share/metainfo/[^/]*\.metainfo\.xml$' -e '^\./usr/share/doc/' \
    -e '^\./usr/share/man/')
[[ -z $unexpected ]] || flunk "installed files nobody asked for: $unexpected"

pass "$count icon sizes installed"
finish
