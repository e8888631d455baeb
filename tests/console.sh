#!/bin/sh
# korvum.exe writes its messages to a Windows console in Unicode, so that
# they read right whatever the console's code page: through script(1),
# Wine's cmd owns a console on a terminal, which shows what the console
# holds in UTF-8. Under code page 1252, the OEM bytes of code page 850
# would show "séparateur" as "s‚parateur".
#   console.sh WINE KORVUM_EXE WORK_DIR
set -eu
wine=$1 exe=$2 dir=$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
cp "$exe" korvum.exe
printf 'sans s\351parateur\r\n' >liste.txt

echecs=0
for cp in 850 1252 65001; do
	for commande in korvum.exe 'korvum.exe liste.txt liste.xml ;'; do
		script -qec "$wine cmd /c 'chcp $cp >nul & $commande'" \
			/dev/null </dev/null 2>&1 || :
	done >console-$cp.txt
	for texte in 'Le séparateur est un caractère blanc par défaut.' \
		'Pas de séparateur ligne 1.'; do
		grep -q "$texte" console-$cp.txt || {
			echo "code page $cp: the console does not show \"$texte\":"
			cat -v console-$cp.txt
			echecs=$((echecs + 1))
		}
	done
done
echo "$echecs messages shown wrong"
[ "$echecs" -eq 0 ]
