/*
 * korvum: turn a text file of two-column lines into an XML document of
 * Q/R records.
 *
 *	korvum fichier_source fichier_but [séparateur]
 *
 * A line that holds the separator (a space by default) becomes the record
 * <F><Q>before</Q><R>after</R></F>.  A line whose first non-blank
 * character is '<' is copied as it is, so that the source can carry markup
 * of its own.  Blank lines are skipped, and any other line is reported on
 * standard error with its number.  The root element's TYPE is the last
 * character of the target's name, upper-cased.
 *
 * The source is read as a Windows text stream reads it (CR LF is one LF,
 * a lone CR stays, 0x1A ends the source) and every line of the document
 * ends in CR LF, so that a source and command line give the same bytes on
 * every platform.
 *
 * The document is in windows-1252, the encoding its readers expect.  A
 * windows-1252 source is copied byte for byte; a UTF-8 or UTF-16 one, as
 * today's editors save it, is decoded into windows-1252 as it is read, so
 * that the lines are found in one way for every source, and a character
 * that windows-1252 lacks is written as a character reference (&#937;)
 * once its line was split.  The source is read and the document written
 * in large blocks; a line is handled whole, however long, straight from
 * the read buffer.
 *
 * korvum.exe alone in a console of its own, with lists dropped on it,
 * asks what to do instead and converts each list beside it (console.cpp).
 * This file holds the command line; extern.h says where the rest is.
 */

#include "extern.h"

#include <cstring>

int
main(int argc, char *argv[])
{
	const char *pourquoi;

	preparer(&argc, &argv);
#ifdef _WIN32
	if (consoleapart() && sontdeslistes(argc, argv))
		return dialoguer(argc, argv);
#endif
	if (argc <= 2) {
		message(SYNTAXE, sizeof SYNTAXE - 1);
		message(DEFAUT, sizeof DEFAUT - 1);
		return 0;
	}

	if ((pourquoi = ouvrirfichiers(argv[1], argv[2])) != nullptr)
		erreur(pourquoi);
	parametrer(
	    argv[2], argc >= 4 ? caractereargument(argv[3], false) : ' ');

	rediger();
	if (!fermetout())
		erreur(ECRIRE);
	return 0;
}

/*
 * Open the source, then the target: a target that is the source, or a file
 * that is not a document, is not opened.  The message that says why one
 * cannot be, or nullptr; the source may be left open for fermetout.
 */
const char *
ouvrirfichiers(const char *source, const char *nom)
{
	char tete[TETE];
	long n;

	if ((entree = ouvrirsource(source)) < 0)
		return OUVRIRENTREE;
	if (memefichier(nom))
		return MEMEFICHIER;
	if ((n = debutbut(nom, tete, sizeof tete)) < 0)
		return OUVRIRSORTIE;
	if (n > 0 && !declarationxml((const unsigned char *)tete, (size_t)n))
		return PASXML;
	if ((sortie = ouvrirbut(nom)) < 0)
		return OUVRIRSORTIE;
	return nullptr;
}

/*
 * What a run takes from its command line, both files open: the type letter
 * (the target's name's last character), the separator, the vector steps.
 */
void
parametrer(const char *nom, char32_t separateur)
{
	char32_t c = caractereargument(nom, true);
	int b = octet1252(c);

	typedoc = c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A')
	          : b >= 0             ? (unsigned char)b
	                               : '?';
	separ = separateur;
	jeu = jeuprocesseur();
}

/*
 * Whether the n bytes at p, the start of an existing target, begin with an
 * XML declaration: "<?xml" and a blank, after an optional byte-order mark
 * and blanks (space, TAB, CR, LF), in windows-1252, UTF-8 or UTF-16 of
 * either byte order, marked or not.  Only such a file is a document that
 * korvum may replace: a list given as the target by mistake, even one that
 * begins with a comment line, is kept.
 */
bool
declarationxml(const unsigned char *p, size_t n)
{
	static const char XML[] = "<?xml";
	size_t i = 0, pas = 1, bas = 0, k = 0;

	if (marqueutf8(p, n))
		i = 3;
	else if (n >= 2 && ((p[0] == 0xff && p[1] == 0xfe) ||
	                       (p[0] == 0xfe && p[1] == 0xff))) {
		i = pas = 2;
		bas = p[0] == 0xfe;
	} else if (n >= 2 && (p[0] == 0) != (p[1] == 0)) {
		pas = 2;
		bas = p[0] == 0;
	}
	for (; i + pas <= n; i += pas) {
		unsigned char c = p[i + bas];
		bool blanc = c == ' ' || c == '\t' || c == '\r' || c == '\n';
		if (pas == 2 && p[i + 1 - bas] != 0)
			return false;
		if (k == sizeof XML - 1)
			return blanc;
		if (k == 0 && blanc)
			continue;
		if (c != (unsigned char)XML[k++])
			return false;
	}
	return false;
}

/*
 * The first (or the last) character of a command-line argument, 0 when it
 * is empty: as UTF-8 when it is well-formed UTF-8 (a UTF-8 terminal's, or
 * the Windows build's), else as windows-1252, a character a byte.
 */
char32_t
caractereargument(const char *a, bool dernier)
{
	const auto *p = (const unsigned char *)a;
	const auto *fin = p + std::strlen(a);
	long premier = -1, c = 0;
	int n = 1;

	for (const unsigned char *q = p; q < fin; q += n) {
		c = sequenceutf8(q, fin, &n);
#ifdef _WIN32
		/* A Windows name may hold a lone surrogate: one character. */
		if (c < 0 && fin - q >= 3 && q[0] == 0xed &&
		    (q[1] & 0xe0) == 0xa0 && (q[2] & 0xc0) == 0x80) {
			c = 0xd000 | (q[1] & 0x3f) << 6 | (q[2] & 0x3f);
			n = 3;
		}
#endif
		if (c < 0)
			return car1252(dernier ? fin[-1] : p[0]);
		if (premier < 0)
			premier = c;
	}
	return (char32_t)(dernier ? c : premier < 0 ? 0 : premier);
}
