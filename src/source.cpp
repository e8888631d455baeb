/*
 * The source: its byte-order mark, the guess between UTF-8 and
 * windows-1252 for a source without one, and the text handed to the line
 * loop, copied as it is or decoded.
 */

#include "extern.h"

#include <cstring>

static Codage codage;                              /* the source's encoding */
static unsigned char brut[BLOC + FENETRE + MARGE]; /* bytes to decode */
static size_t reste;                               /* how many */
static bool tari; /* nothing more to read: the end, or 0x1A, was met */

static size_t lu(char *, size_t);
static size_t debutsource(char *);
static Codage devinercodage(const char *, const char *);

/* Start a source: nothing read, nothing decoded, its encoding unknown. */
void
ouvrirtexte()
{
	codage = AUCUN;
	reste = echappes = 0;
	tari = false;
}

/* Read up to n bytes of the source at p; a failure ends the run. */
static size_t
lu(char *p, size_t n)
{
	size_t r;

	if (!lire(p, n, &r))
		erreur(LIRE);
	return r;
}

/*
 * Read the first bytes of the source to p, and say how many are text.  A
 * byte-order mark names the encoding and is not text: the bytes after it
 * wait in brut to be decoded.  Without a mark the encoding is not known
 * yet.  Reads are taken whatever their size, until the mark is known.
 */
static size_t
debutsource(char *p)
{
	size_t n = 0, r = 1, m = 0;

	while (n < 3 && r > 0)
		n += r = lu(p + n, BLOC - n);
	tari = r == 0;
	const auto *u = (const unsigned char *)p;
	codage = INCONNU;
	if (n >= 3 && u[0] == 0xef && u[1] == 0xbb && u[2] == 0xbf) {
		codage = UTF8;
		m = 3;
	} else if (n >= 2 && u[0] == 0xff && u[1] == 0xfe) {
		codage = UTF16LE;
		m = 2;
	} else if (n >= 2 && u[0] == 0xfe && u[1] == 0xff) {
		codage = UTF16BE;
		m = 2;
	} else
		return n;
	reste = n - m;
	std::memcpy(brut, p + m, reste);
	return 0;
}

/*
 * Read the next text of the source to p, where there is room for place
 * bytes (at least BLOC); say how many bytes, 0 at the end of the text.  A
 * decoded source goes through brut, a quarter of the room at a time, as
 * one byte may become an escape of four.
 */
size_t
remplir(char *p, size_t place)
{
	size_t n, m = place / LECH < BLOC ? place / LECH : BLOC;

	if (codage == AUCUN && ((n = debutsource(p)) > 0 || codage == INCONNU))
		return n; /* text, or nothing at all */
	if (codage == INCONNU || codage == CP1252)
		return tari ? 0 : lu(p, BLOC);
	for (;;) {
		if (!tari && reste < m) {
			size_t r = lu((char *)brut + reste, m - reste);
			reste += r;
			tari = r == 0;
		}
		size_t k = reste < m ? reste : m, pris;
		bool fini = tari && k == reste;
		n = codage == UTF8 ? decodeutf8(p, brut, k, fini, &pris)
		                   : decodeutf16(p, brut, k, codage == UTF16BE,
		                         fini, &pris);
		reste -= pris;
		std::memmove(brut, brut + pris, reste);
		if (n > 0 || (tari && reste == 0))
			return n;
	}
}

/* The text ends here: the line loop met a 0x1A. */
void
tarir()
{
	tari = true;
}

/* Whether the source's encoding is known. */
bool
codageconnu()
{
	return codage != INCONNU;
}

/* Whether the source is decoded (UTF-8 or UTF-16), not copied as it is. */
bool
decodee()
{
	return codage != CP1252 && codage != INCONNU;
}

/*
 * Where the first byte above 127 stands among the n bytes at p, eight
 * bytes a step; NULLE when they are all ASCII.
 */
size_t
premierhaut(const char *p, size_t n)
{
	size_t i = 0;

	for (std::uint64_t w; i + 8 <= n; i += 8) {
		std::memcpy(&w, p + i, 8);
		if ((w & 0x8080808080808080u) != 0)
			break;
	}
	for (; i < n; i++)
		if ((unsigned char)p[i] >= 0x80)
			return i;
	return NULLE;
}

/*
 * Decide the encoding of a source without byte-order mark, from the text
 * the line loop holds from its first byte above 127, haut, to fin
 * (nullptr when there is none: the source is ASCII).  When it is UTF-8,
 * that text is taken back to be decoded, and the line loop must drop it:
 * say so.
 */
bool
choisircodage(const char *haut, const char *fin)
{
	codage = haut == nullptr ? CP1252 : devinercodage(haut, fin);
	if (codage != UTF8)
		return false;
	reste = (size_t)(fin - haut);
	std::memcpy(brut, haut, reste);
	return true;
}

/*
 * The encoding of a source without byte-order mark, from its first byte
 * above 127 at p: UTF-8 when every UTF-8 sequence that begins in the
 * FENETRE bytes from p is well-formed (its last bytes may lie past them,
 * up to fin, the end of the text), windows-1252 otherwise.
 */
static Codage
devinercodage(const char *p, const char *fin)
{
	const auto *u = (const unsigned char *)p;
	const auto *f = (const unsigned char *)fin;
	const unsigned char *limite =
	    (size_t)(f - u) > FENETRE ? u + FENETRE : f;

	for (int n; u < limite; u += n)
		if (sequenceutf8(u, f, &n) < 0)
			return CP1252;
	return UTF8;
}
