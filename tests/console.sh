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
bienvenue="Chaque liste devient un document XML"

echecs=0
for cp in 850 1252 65001; do
	# (a bound, should korvum.exe wait for a key that never comes)
	for commande in korvum.exe 'korvum.exe liste.txt' \
		'korvum.exe liste.txt liste.xml ;'; do
		timeout 120 script -qec \
			"$wine cmd /c 'chcp $cp >nul & $commande'" \
			/dev/null </dev/null 2>&1 || :
	done >console-$cp.txt
	grep -q -e "$touche" -e "$bienvenue" console-$cp.txt && {
		echo "code page $cp: from cmd, korvum.exe asked something:"
		cat -v console-$cp.txt
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

# Alone in a console, as Explorer starts it (a double click, lists
# dropped on it), korvum.exe asks which lists to convert and how, then
# waits for a key. Wine gives a program started from a terminal a console
# of its own, as Explorer does. Each answer is typed once its question
# shows; after the key prompt, k; once korvum.exe and its console are
# gone, a line z. Wine's console takes keys from the terminal only for a
# program that asks for one, so the shell that runs next reads z alone if
# korvum.exe read k, and kz if it did not wait.
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
# attend TEXT: wait, a minute at most, until the console shows TEXT past
# what was seen (vu, in bytes); it is then seen up to TEXT's end.
attend() {
	i=0
	until o=$(tail -c +$((vu + 1)) ecran.txt 2>/dev/null |
		grep -aboF -m1 "$1"); do
		[ $i -lt 600 ] || return 1
		sleep 0.1 && i=$((i + 1))
	done
	vu=$((vu + ${o%%:*} + $(printf %s "$1" | wc -c)))
}
faute() { # faute WHAT: this case failed; what the console showed
	echo "korvum.exe $args alone in a console: $*; the console showed:"
	cat -v ecran.txt
	echecs=$((echecs + 1))
}
# parle STATUS ARGS [QUESTION ANSWER]...: korvum.exe ARGS alone in a
# console, each ANSWER and Enter typed once its QUESTION shows (an ANSWER
# !COMMAND runs COMMAND instead, then Enter is typed).
parle() {
	statut=$1 args=$2 vu=0
	shift 2
	rm -f entree ecran.txt && mkfifo entree && exec 3<>entree
	timeout 300 script -qfec "sh seule.sh $args" ecran.txt <&3 >/dev/null 2>&1 &
	while [ $# -ge 2 ]; do
		attend "$1" || {
			faute "no question \"$1\""
			kill $! # (its console says no more)
			break
		}
		case $2 in
		!*) sh -c "${2#!}" && printf '\r' >&3 ;;
		*) printf '%s\r' "$2" >&3 ;;
		esac
		shift 2
	done
	[ $# -ge 2 ] || { attend "$touche" && printf k >&3 && attend '[statut'; } || :
	printf 'z\n' >&3 && wait $! || :
	exec 3>&-
	for t in "$touche" "[statut $statut]" "[lu z]"; do
		grep -qF "$t" ecran.txt || faute "no \"$t\""
	done
}
montre() { # montre TEXT...: the console showed each TEXT
	for t in "$@"; do
		grep -qF "$t" ecran.txt || faute "no \"$t\""
	done
}
tait() { # tait TEXT: the console did not show TEXT
	! grep -qF "$1" ecran.txt || faute "\"$1\" shown"
}
pareil() { # pareil DOCUMENT LIST SEPARATOR: as korvum.exe makes it from cmd
	rm -f ref.xml
	$wine korvum.exe "$2" ref.xml "$3" </dev/null >/dev/null 2>&1 || :
	cmp -s ref.xml "$1" || faute "$1 is not the document of $2"
}
garde() { # garde FILE TEXT: FILE still holds TEXT alone
	[ "$(cat "$1")" = "$2" ] || faute "$1 was not kept"
}
utf16() { # utf16 TEXT: TEXT with its line ends in UTF-16 LE with its mark
	printf '\377\376' && printf "$1" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
}
doubleclic="korvum s'utilise dans une fenêtre de commandes (cmd ou PowerShell)."
lisezmoi="Le fichier LISEZMOI.txt, à côté de korvum.exe, explique comment."
tab=$(printf '\t')

# Not lists (a file that is not there, a target that is not a list): the
# run from cmd, which says where korvum is used from before the key.
parle 1 'absente.txt a.xml'
montre "Impossible d'ouvrir le fichier d'entrée!" "$doubleclic" "$lisezmoi"
parle 0 "liste.txt liste.xml ';'"
montre 'Pas de séparateur ligne 1.' "$doubleclic" "$lisezmoi"

# The lists of the dialogue: a separator held by most lines (; but a
# comma in one R), a blank, markup and a line without it; Excel's
# "Unicode text", UTF-16 with TABs; two separators that tie.
printf 'chat;cat\r\nchien;dog\r\n\r\n<!-- bêtes -->\r\nfleur;flower, bloom\r\noiseau;bird\r\nsans s\351parateur\r\n' >mots.txt
utf16 'maison\thouse\nété\tsummer\nΩ\tomega\nsans tabulation\na;b\tc\n' >excel.txt
printf 'a;b,c\nd;e,f\ng=h\n' >egal.txt
printf 'un,one\ndeux,two\n' >deux-a.txt
printf 'trois|three\n' >deux-b.txt
for l in doc texte parti reste; do cp mots.txt $l.txt; done
cp mots.txt 'mots 2.txt'
printf '<?xml version="1.0"?><garde/>' >doc.xml
printf 'mes notes' >texte.xml

# status  arguments    questions and their answers ('' is Enter alone)
parle 0 mots.txt 'Séparateur [;]' '' 'Document [mots.xml]' ''
montre 'Liste : mots.txt' '4 fiches écrites dans mots.xml, 1 ligne signalée.'
tait "$doubleclic"
pareil mots.xml mots.txt ';'
parle 0 excel.txt 'Séparateur [tabulation]' '' 'Document [excel.xml]' ''
pareil excel.xml excel.txt "$tab"
montre '4 fiches écrites dans excel.xml, 1 ligne signalée.'
parle 0 egal.txt 'Séparateur (aucun' ',' 'Document [egal.xml]' ''
pareil egal.xml egal.txt ,
montre '2 fiches écrites dans egal.xml, 1 ligne signalée.'
parle 0 'deux-a.txt deux-b.txt' 'Séparateur [,]' '' 'Document [deux-a.xml]' '' \
	'Séparateur [|]' '' 'Document [deux-b.xml]' ''
pareil deux-a.xml deux-a.txt ,
pareil deux-b.xml deux-b.txt '|'
montre '1 fiche écrite dans deux-b.xml, 0 ligne signalée.'
parle 1 doc.txt 'Séparateur [;]' '' 'Document [doc.xml]' '' \
	'Le document doc.xml existe déjà.' '' 'Autre nom' ''
montre 'Liste laissée, pas de document.'
garde doc.xml '<?xml version="1.0"?><garde/>'
parle 0 doc.txt 'Séparateur [;]' '' 'Document [doc.xml]' '' \
	'Le document doc.xml existe déjà.' o
pareil doc.xml doc.txt ';'
parle 0 texte.txt 'Séparateur [;]' '' 'Document [texte.xml]' '' \
	'Autre nom' copie.xml
montre "texte.xml n'est pas un document XML : korvum ne le remplace pas."
garde texte.xml 'mes notes'
pareil copie.xml texte.txt ';'
parle 0 '' 'Liste à convertir' '"mots 2.txt"' 'Séparateur [;]' '' \
	'Document [mots 2.xml]' ''
pareil 'mots 2.xml' 'mots 2.txt' ';'
# a list removed between the drop and the read, and the list after it
parle 1 'parti.txt reste.txt' 'Séparateur [;]' '' \
	'Document [parti.xml]' '!rm parti.txt' 'Séparateur [;]' '' \
	'Document [reste.xml]' ''
montre "Impossible d'ouvrir le fichier d'entrée!"
pareil reste.xml reste.txt ';'
parle 0 '' 'Liste à convertir' ''
tait "$doubleclic"

echo "$echecs console checks failed"
[ "$echecs" -eq 0 ]
