# Sourced by Windows end-to-end scripts written before tests/harness/harness.sh, which now holds
# all of this: the harness, with Wine's environment loaded at once as it always was here.
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../harness/harness.sh"
qv_wine_env
