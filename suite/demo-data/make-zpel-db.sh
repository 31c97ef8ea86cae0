#!/usr/bin/env bash
# Builds the demo token database: make-zpel-db.sh <data folder>
# writes <data folder>/zpel.db from zpel-tokens.sql (replacing its tables).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
folder="${1:?usage: make-zpel-db.sh <data folder>}"
mkdir -p "$folder"
sqlite3 "$folder/zpel.db" < "$here/zpel-tokens.sql"
