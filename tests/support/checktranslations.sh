#!/bin/sh
# Fails when a text the program shows has no finished English translation:
# lupdate reads the sources into a copy of translations/tenvo_en.ts, where a
# new text arrives unfinished, and every entry must hold a translation.
#
#   checktranslations.sh LUPDATE SOURCE_DIR
set -eu
lupdate=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$source/translations/tenvo_en.ts" "$work/tenvo_en.ts"
"$lupdate" -silent -locations none -no-obsolete "$source/src" -ts "$work/tenvo_en.ts"

# Each message's source (its first line) when its translation is unfinished
# or empty.
awk '
    /<source>/ { text = $0; sub(/.*<source>/, "", text); sub(/<\/source>.*/, "", text) }
    /<translation/ && (/type="unfinished"/ || /<translation><\/translation>/ || /<translation\/>/) {
        print "untranslated: " text; bad++
    }
    END { exit bad > 0 }
' "$work/tenvo_en.ts" || {
    echo "Add the English to translations/tenvo_en.ts (cmake --build build --target tenvo_lupdate adds the new texts)." >&2
    exit 1
}
count=$(grep -c '<message' "$work/tenvo_en.ts")
echo "All $count texts have their English translation."
