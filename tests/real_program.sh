# shellcheck shell=bash
# bench/keystroke_bench.sh sources the system checks' library by this path; it now lives in
# support/.
# shellcheck source=SCRIPTDIR/support/real_program.sh
source "$(dirname "${BASH_SOURCE[0]}")/support/real_program.sh"
