#!/usr/bin/env bash
# Puts the demo suite's local files into a data folder:
#
#   install-demo-data.sh <data folder> <suite folder>
#
# <data folder> is where ZOR looks for its files ($ProgramData followed by
# "/Velmor Dezidizu/zpel/"); <suite folder> replaces @SUITE_DIR@ in the
# settings (the raw-data and grid roots lie below it). Writes zpel.db (the
# token database), PELTokens.json, SurveyInfo.ini and gui.ini, replacing
# files of those names, and log4cplus_configureZOR.ini when it is here.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 2 ] || { sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
data="$1"
suite="$2"
mkdir -p "$data"
rm -f "$data/zpel.db"
"$here/make-zpel-db.sh" "$data"
cp "$here/PELTokens.json" "$here/gui.ini" "$data/"
[ -f "$here/log4cplus_configureZOR.ini" ] && cp "$here/log4cplus_configureZOR.ini" "$data/"
escaped="$(printf '%s' "$suite" | sed -e 's/[\\&|]/\\&/g')"
sed -e "s|@SUITE_DIR@|$escaped|g" "$here/SurveyInfo.ini" > "$data/SurveyInfo.ini"
echo "install-demo-data: demo files written to $data"
