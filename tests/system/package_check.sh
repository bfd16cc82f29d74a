#!/usr/bin/env bash
# Builds the .deb from a build directory with cpack into a scratch directory and checks it as
# dpkg sees it: name, version and dependencies in the control file (among them a package for
# every library the program loads), the files it installs, a changelog whose latest entry is
# this version, and a maintainer script that gives the program the capability to listen on
# port 123 and does not fail the installation when that cannot be done. The desktop entry and
# the software centres' description inside must pass their validators with nothing to say, and
# lintian must find no error and no warning in the package. Also checks that the program inside,
# and the Windows resource file, carry the same version as the package.
#
# usage: package_check.sh CPACK BUILD_DIR VERSION WINDOWS_RESOURCE_FILE
# Exits 77 (skipped) where dpkg-deb is missing; lintian missing is a failure, since the test
# set-up (scripts/deps.sh --tests) installs it. A missing desktop-file-validate or appstreamcli
# leaves its own check out, with a note.
set -uo pipefail

cpack=$1
build=$2
version=$3
resource_file=$4

# shellcheck source=../support/system_check.sh
source "$(dirname "$0")/../support/system_check.sh"
# shellcheck source=../support/desktop_metadata.sh
source "$(dirname "$0")/../support/desktop_metadata.sh"
command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
command -v lintian >/dev/null ||
    fail "lintian is not installed (scripts/deps.sh --tests installs it)"

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single .deb"
deb=${debs[0]}
echo "built $(basename "$deb")"

control() { dpkg-deb -f "$deb" "$1"; }
[[ $(control Package) == skarnet ]] || flunk "Package is '$(control Package)'"
[[ $(control Version) == "$version" ]] || flunk "Version is '$(control Version)', not '$version'"
[[ $(control Architecture) == "$(dpkg --print-architecture)" ]] ||
    flunk "Architecture is '$(control Architecture)'"
[[ -n $(control Maintainer) && -n $(control Description) ]] || flunk "no Maintainer or Description"

# Depends: every one of these, each as a package name of its own.
depends=$(control Depends)
IFS=',' read -r -a relations <<<"$depends"
names=()
for relation in "${relations[@]}"; do
    relation=${relation#"${relation%%[![:space:]]*}"}
    names+=("${relation%% *}")
done
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 qt6-qpa-plugins \
    fonts-liberation fonts-comic-neue fonts-dejavu-core libcap2-bin; do
    [[ " ${names[*]} " == *" $needed "* ]] || flunk "Depends lacks $needed: '$depends'"
done
twice=$(printf '%s\n' "${names[@]}" | sort | uniq -d | paste -sd ' ')
[[ -z $twice ]] || flunk "Depends names $twice more than once: '$depends'"

# The files, as dpkg would unpack them.
dpkg-deb -c "$deb" >"$work/contents"
app_id=io.github.skarnetduel.skarnet
for path in ./usr/bin/skarnet ./usr/share/applications/$app_id.desktop \
    ./usr/share/metainfo/$app_id.metainfo.xml ./usr/share/icons/hicolor/48x48/apps/skarnet.png; do
    grep -q " $path\$" "$work/contents" || flunk "the package does not install $path"
done
grep -q '^-rwxr-xr-x .* \./usr/bin/skarnet$' "$work/contents" ||
    flunk "usr/bin/skarnet is not installed as an executable: $(grep usr/bin/skarnet "$work/contents")"
dpkg-deb -x "$deb" "$work/root"
validate_desktop_metadata "$work/root/usr/share/applications/$app_id.desktop" \
    "$work/root/usr/share/metainfo/$app_id.metainfo.xml"
packaged_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/skarnet" --version 2>&1)
[[ $packaged_version == "$version" ]] || flunk "the packaged program says '$packaged_version'"
# Every library the program loads directly comes from a package it depends on.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for library in $(readelf -d "$work/root/usr/bin/skarnet" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    owner=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | grep -v "^diversion" | head -n 1)
    owner=${owner%%:*}
    if [[ -z $owner ]]; then
        flunk "no installed package holds $library, which the program loads"
    elif [[ " ${names[*]} " != *" $owner "* ]]; then
        flunk "the program loads $library from $owner, which Depends lacks"
    fi
done

# The documents: the manual page, Debian's copyright file, and a changelog whose latest entry
# is this version.
for path in ./usr/share/doc/skarnet/copyright ./usr/share/doc/skarnet/changelog.gz \
    ./usr/share/man/man1/skarnet.1.gz; do
    grep -q " $path\$" "$work/contents" || flunk "the package does not install $path"
done
latest=$(gzip -dc "$work/root/usr/share/doc/skarnet/changelog.gz" 2>/dev/null | head -n 1)
[[ $latest == "skarnet ($version) "* ]] || flunk "the changelog's latest entry is '$latest'"

# The maintainer script.
dpkg-deb -I "$deb" >"$work/info"
grep -q ' postinst ' "$work/info" || flunk "dpkg-deb -I lists no postinst"
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
if [[ ! -f $postinst ]]; then
    flunk "the package has no postinst"
else
    [[ -x $postinst ]] || flunk "postinst is not executable"
    grep -Eq '^[[:space:]]*(if ! )?setcap cap_net_bind_service=\+ep /usr/bin/skarnet' "$postinst" ||
        flunk "postinst does not run setcap cap_net_bind_service=+ep /usr/bin/skarnet"
    sh -n "$postinst" || flunk "postinst is not valid sh"
    # Run it with stand-ins for setcap that record their arguments, one that works and one that
    # fails as on a file system without capabilities: the installation goes on either way.
    mkdir -p "$work/works" "$work/fails"
    printf '#!/bin/sh\necho "$@" >>"%s"\n' "$work/calls" >"$work/works/setcap"
    printf '#!/bin/sh\necho "$@" >>"%s"\nexit 1\n' "$work/calls" >"$work/fails/setcap"
    chmod +x "$work/works/setcap" "$work/fails/setcap"
    for kind in works fails; do
        : >"$work/calls"
        PATH=$work/$kind:$PATH sh "$postinst" configure 2>"$work/postinst.err" ||
            flunk "postinst configure exits $? when setcap $kind"
        [[ $(cat "$work/calls") == "cap_net_bind_service=+ep /usr/bin/skarnet" ]] ||
            flunk "postinst called setcap with '$(cat "$work/calls")' when setcap $kind"
    done
    [[ -s $work/postinst.err ]] || flunk "postinst says nothing when setcap fails"
    : >"$work/calls"
    PATH=$work/works:$PATH sh "$postinst" abort-upgrade 2>/dev/null || flunk "postinst abort-upgrade failed"
    [[ ! -s $work/calls ]] || flunk "postinst ran setcap for abort-upgrade"
fi

# The Windows build's version resource carries the same version.
commas=${version//./,}
for key in FILEVERSION PRODUCTVERSION; do
    grep -Eq "^[[:space:]]*${key}[[:space:]]+${commas}[[:space:]]*$" "$resource_file" ||
        flunk "$(basename "$resource_file") has no '$key $commas'"
done
for key in FileVersion ProductVersion; do
    grep -q "VALUE \"$key\", \"$version\"" "$resource_file" ||
        flunk "$(basename "$resource_file") has no $key \"$version\""
done

# What Debian's own checks say of the package: informational notes are shown, but an error or
# a warning fails.
lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>"$work/lintian.err"
lintian_status=$?
cat "$work/lintian.log"
if ((lintian_status != 0)) || grep -q '^[EW]: ' "$work/lintian.log"; then
    grep -v 'running with root privileges' "$work/lintian.err"
    flunk "lintian finds errors or warnings (exit status $lintian_status)"
fi

finish
