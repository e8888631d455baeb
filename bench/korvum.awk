# The same conversion in awk, as a user would write it:
#	awk -v type=L -f korvum.awk SOURCE > TARGET
# (separator ';'; CR LF read as LF; line ends written as CR LF).
BEGIN {
	printf "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
	printf "<SOLVARINE TYPE=\"%s\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n", type
}
{
	sub(/\r$/, "")
	sub(/^[ \t]+/, "")
	if ($0 == "")
		next
	if (substr($0, 1, 1) == "<") {
		printf "%s\r\n", $0
		next
	}
	sub(/[ \t]+$/, "")
	i = index($0, ";")
	if (i == 0) {
		printf "Pas de s\303\251parateur ligne %d.\n", NR > "/dev/stderr"
		next
	}
	printf "<F><Q>%s</Q><R>%s</R></F>\r\n", substr($0, 1, i - 1), substr($0, i + 1)
}
END {
	printf "</SOLVARINE>"
}
