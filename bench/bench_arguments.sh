# shellcheck shell=bash
# Shared by the benchmark scripts: sourced, not run. Reads "POSITIONAL... [--markdown FILE]"
# from the script's arguments into $positional and $markdown, and calls the script's own
# `usage` when they do not fit.
#
#   bench_arguments MIN MAX "$@"

bench_arguments() {
    local min=$1 max=$2
    shift 2
    positional=()
    markdown=""
    while (($#)); do
        case $1 in
        --markdown)
            (($# >= 2)) || usage
            markdown=$2
            shift 2
            ;;
        -h | --help) usage ;;
        *)
            positional+=("$1")
            shift
            ;;
        esac
    done
    ((${#positional[@]} >= min && ${#positional[@]} <= max)) || usage
}
