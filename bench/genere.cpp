// Write a deterministic korvum source of a given size, shaped like real
// use: data lines of a few words on each side of ';', some markup, blank
// and padded lines, about one line in a hundred without a separator.
//
//	genere MIB lf|crlf|signes|avertis|grec|longues|ligne FILE
//
// "signes" writes LF lines whose every data line holds, in one of its
// fields, a bare '&' or '<' (R & D, 2 < 3), a reference or a tag around a
// word, as a quiz of sums or a list of abbreviations does; "avertis" lets
// half the data lines lack their separator, each a warning; "grec" writes
// its words in Greek, in UTF-8, each letter a reference in the document;
// "longues" makes each field of a few thousand bytes; "ligne" writes one
// line of MIB mebibytes with no line end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::uint64_t etat = 0x9e3779b97f4a7c15u;

// xorshift64*: the same source on every machine.
static unsigned
hasard(unsigned n)
{
	etat ^= etat >> 12;
	etat ^= etat << 25;
	etat ^= etat >> 27;
	return (unsigned)((etat * 0x2545f4914f6cdd1du) >> 33) % n;
}

static bool grec; /* words in Greek, in UTF-8 */

static void
mots(std::string &l, unsigned combien)
{
	static const char lettres[] = "abcdefghijklmnopqrstuvwxyz"
	                              "eeeaaiioonnrrsstt\xe9\xe8\xe0\xe7\xea";
	for (unsigned i = 0; i < combien; i++) {
		if (i > 0)
			l += ' ';
		for (unsigned n = 3 + hasard(8); n > 0; n--) {
			unsigned c = hasard(sizeof lettres - 1);
			if (grec) { /* α to ω, U+03B1 to U+03C9 */
				unsigned g = 0x3b1 + c % 25;
				l += (char)(0xc0 | g >> 6);
				l += (char)(0x80 | (g & 0x3f));
			} else
				l += lettres[c];
		}
	}
}

// Close the source written; a failed write shows in the stream's error
// flag or in the close.
static int
fini(std::FILE *f)
{
	bool ok = std::ferror(f) == 0;
	return std::fclose(f) == 0 && ok ? 0 : 1;
}

int
main(int argc, char *argv[])
{
	if (argc != 4) {
		(void)std::fputs("usage: genere MIB "
		                 "lf|crlf|signes|avertis|grec|longues|ligne "
		                 "FILE\n",
		    stderr);
		return 2;
	}
	std::uint64_t taille = std::strtoull(argv[1], nullptr, 10) << 20;
	std::string fin = std::strcmp(argv[2], "crlf") == 0 ? "\r\n" : "\n";
	bool signes = std::strcmp(argv[2], "signes") == 0;
	bool avertis = std::strcmp(argv[2], "avertis") == 0;
	bool longues = std::strcmp(argv[2], "longues") == 0;
	unsigned beaucoup = longues ? 400 : 0; /* more words a field */
	grec = std::strcmp(argv[2], "grec") == 0;
	std::FILE *f = std::fopen(argv[3], "wb");
	if (f == nullptr) {
		std::perror(argv[3]);
		return 1;
	}
	if (std::strcmp(argv[2], "ligne") == 0) {
		std::string l;
		for (std::uint64_t n = 0; n < taille; n += l.size()) {
			l.clear();
			mots(l, 1 + hasard(3));
			l += hasard(2) ? " " : ";";
			if (l.size() > taille - n)
				l.resize(taille - n);
			(void)std::fwrite(l.data(), 1, l.size(), f);
		}
		return fini(f);
	}

	std::string l;
	for (std::uint64_t n = 0, i = 0; n < taille; i++) {
		l.clear();
		unsigned genre = hasard(100);
		if (i % 1000 == 0) {
			l = "<!-- le\xe7on " + std::to_string(i / 1000) +
			    " -->";
		} else if (genre < 3) {
			l = hasard(2) ? "" : " \t ";
		} else if (genre < 4) {
			mots(l, 1 + hasard(3));
		} else if (genre < 7) {
			l = "  \t";
			mots(l, 1 + hasard(2));
			l += ';';
			mots(l, 1 + hasard(2));
			l += " \t ";
		} else {
			/* One of a bare sign, a reference, a tag around a
			 * word, in one of the fields. */
			static const char *const SIGNES[] = {
			    " & ", " < ", " &amp; ", " <b>la</b> "};
			const char *signe = signes ? SIGNES[hasard(4)] : "";
			bool q = signes && hasard(2) == 0;
			mots(l,
			    1 + hasard(3) + (longues ? hasard(beaucoup) : 0));
			if (signes && q)
				l += signe;
			if (!avertis || hasard(2) == 0)
				l += ';';
			else
				l += ' ';
			if (signes && !q)
				l += signe;
			mots(l,
			    1 + hasard(3) + (longues ? hasard(beaucoup) : 0));
		}
		l += fin;
		(void)std::fwrite(l.data(), 1, l.size(), f);
		n += l.size();
	}
	return fini(f);
}
