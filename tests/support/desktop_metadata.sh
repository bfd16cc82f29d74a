# shellcheck shell=bash
# Sourced by the checks of installed files, after system_check.sh.
#
#   validate_desktop_metadata ENTRY METAINFO
#       the desktop entry and the software centres' description each pass their validator with
#       nothing to say, not even a hint; where a validator is missing, a note says so.
validate_desktop_metadata() {
    local entry=$1 metainfo=$2 output status
    if command -v desktop-file-validate >/dev/null; then
        output=$(desktop-file-validate "$entry" 2>&1)
        status=$?
        [[ $status -eq 0 && -z $output ]] ||
            flunk "desktop-file-validate on $(basename "$entry") (status $status): $output"
    else
        echo "note: desktop-file-validate is not installed; $(basename "$entry") is not validated"
    fi
    if command -v appstreamcli >/dev/null; then
        # The web addresses in it are not fetched: checks stay off the network.
        output=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1)
        status=$?
        if [[ $status -ne 0 ]] || grep -q '^[EWIP]: ' <<<"$output"; then
            flunk "appstreamcli validate on $(basename "$metainfo") (status $status): $output"
        fi
    else
        echo "note: appstreamcli is not installed; $(basename "$metainfo") is not validated"
    fi
}
