#!/bin/sh
# korvum.exe writes its messages to a Windows console in Unicode, so that
# they read right whatever the console's code page: through script(1),
# Wine's cmd owns a console on a terminal, which shows what the console
# holds in UTF-8. Under code page 1252, the OEM bytes of code page 850
# would show "séparateur" as "s‚parateur".
# Started from cmd, korvum.exe shares cmd's console and adds nothing to
# its messages; alone in a console, as Explorer starts it, it says where
# it is used from and waits for a key (below).
#   console.sh WINE KORVUM_EXE WORK_DIR
set -eu
wine=$1 exe=$2 dir=$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
cp "$exe" korvum.exe
printf 'sans s\351parateur\r\n' >liste.txt
touche='Appuyez sur une touche pour fermer cette fenêtre.'

echecs=0
for cp in 850 1252 65001; do
	# (a bound, should korvum.exe wait for a key that never comes)
	for commande in korvum.exe 'korvum.exe liste.txt liste.xml ;'; do
		timeout 120 script -qec \
			"$wine cmd /c 'chcp $cp >nul & $commande'" \
			/dev/null </dev/null 2>&1 || :
	done >console-$cp.txt
	grep -q "$touche" console-$cp.txt && {
		echo "code page $cp: from cmd, korvum.exe asked for a key"
		echecs=$((echecs + 1))
	}
	for texte in 'Le séparateur est un caractère blanc par défaut.' \
		'Pas de séparateur ligne 1.'; do
		grep -q "$texte" console-$cp.txt || {
			echo "code page $cp: the console does not show \"$texte\":"
			cat -v console-$cp.txt
			echecs=$((echecs + 1))
		}
	done
done

# A double click. Wine gives a program started from a terminal a console
# of its own, as Explorer does: there korvum.exe, however it ends, must
# show its message, then the lines below, and wait for a key. Once they
# show, k is typed; once korvum.exe and its console are gone, a line z.
# Wine's console takes keys from the terminal only for a program that
# asks for one, so the shell that runs next reads z alone if korvum.exe
# read k, and kz if it did not wait.
cat >seule.sh <<FIN
$wine korvum.exe "\$@"
s=\$?
while ps -t "\$(tty)" -o stat=,comm= | grep -q '^[^Z]* *conhost'; do
	sleep 0.1
done
echo "[statut \$s]"
read r
echo "[lu \$r]"
FIN
attend() { # attend TEXT: wait until the console shows TEXT, a minute at most
	i=0
	until grep -qF "$1" ecran.txt 2>/dev/null; do
		[ $i -lt 600 ] || return 1
		sleep 0.1 && i=$((i + 1))
	done
}
seule() { # seule STATUS MESSAGE ARGS: korvum.exe ARGS alone in a console
	rm -f entree ecran.txt && mkfifo entree && exec 3<>entree
	timeout 300 script -qfec "sh seule.sh $3" ecran.txt <&3 >/dev/null 2>&1 &
	attend "$touche" && printf k >&3
	attend '[statut' || :
	printf 'z\n' >&3 && wait $! || :
	exec 3>&-
	manque=
	for t in "$2" \
		"korvum s'utilise dans une fenêtre de commandes (cmd ou PowerShell)." \
		"Le fichier LISEZMOI.txt, à côté de korvum.exe, explique comment." \
		"$touche" "[statut $1]" "[lu z]"; do
		grep -qF "$t" ecran.txt || manque="$manque \"$t\""
	done
	[ -z "$manque" ] || {
		echo "korvum.exe${3:+ $3} alone in a console: no$manque in:"
		cat -v ecran.txt
		echecs=$((echecs + 1))
	}
}
seule 0 'Syntaxe : "korvum <fichier_source>' ''
seule 1 "Impossible d'ouvrir le fichier d'entrée!" 'absente.txt a.xml'
seule 0 'Pas de séparateur ligne 1.' "liste.txt liste.xml ';'"
echo "$echecs console checks failed"
[ "$echecs" -eq 0 ]
