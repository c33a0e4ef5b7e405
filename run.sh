#!/usr/bin/env bash
# Builds Tagora (installing what it needs) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "run.sh: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Start Tagora from a desktop session, or under Xvfb: xvfb-run ./run.sh" >&2
  exit 1
fi
exec build/bin/tagora
