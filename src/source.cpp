/*
 * The source: its byte-order mark, UTF-16 recognised with or without it,
 * and the text each line hands over.  UTF-16 is decoded as it is read.
 * Any other source is read as it is, and each line that holds a byte
 * above 127 is read in the encoding it is in: a list may join lines saved
 * in windows-1252 and in UTF-8.  A line that does not tell which (see
 * classer) takes the encoding of the nearest line before it that does,
 * or at the start, of the first one that does.
 */

#include "extern.h"

#include <cstdlib>
#include <cstring>

static Codage codage; /* the source's */
static Codage avant;  /* what a line that does not tell is read in */
static bool interne;  /* the line handed over is held decoded */
static unsigned char brut[BLOC + FENETRE + MARGE]; /* bytes to decode */
static size_t reste;                               /* how many */
static bool tari;      /* nothing more to read: the end, or 0x1A, was met */
static char *decodee8; /* a UTF-8 line, decoded */
static size_t placedecodee8;
static char *rechange; /* the line loop's other buffer (see decoderlignes) */
static size_t placerechange;
static const char *tenuede, *tenuea; /* lines decoded as read */

static size_t lu(char *, size_t);
static size_t debutsource(char *, size_t);
static Codage utf16(const unsigned char *, size_t);
static bool ditutf8(const char *, const char *);

/* Start a source: nothing read, nothing decoded, its encoding unknown. */
void
ouvrirtexte()
{
	codage = avant = AUCUN;
	reste = echappes = 0;
	tari = interne = false;
	tenuede = tenuea = nullptr;
}

/* End a source: the buffers of its UTF-8 lines go. */
void
fermertexte()
{
	std::free(decodee8);
	std::free(rechange);
	decodee8 = rechange = nullptr;
	placedecodee8 = placerechange = 0;
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
 * byte-order mark names the encoding and is not text: UTF-8's is dropped,
 * and the bytes after UTF-16's wait in brut to be decoded.  Without a
 * mark, a start that is plainly UTF-16 is decoded too; anything else is
 * read as it is, its lines telling their encoding.  Reads are taken
 * whatever their size, until 128 bytes or the end, and no more than a
 * block; there is room for place bytes at p.
 */
static size_t
debutsource(char *p, size_t place)
{
	size_t n = 0, r = 1, m = 0, bloc = BLOC > 128 ? BLOC : 128;

	if (bloc > place)
		bloc = place;
	while (n < 128 && r > 0)
		n += r = lu(p + n, bloc - n); /* no more than brut holds */
	tari = r == 0;
	const auto *u = (const unsigned char *)p;
	codage = HUIT;
	avant = AUCUN;
	if (marqueutf8(p, n)) {
		avant = UTF8;
		std::memmove(p, p + 3, n - 3);
		return n - 3;
	}
	if (n >= 2 && u[0] == 0xff && u[1] == 0xfe) {
		codage = UTF16LE;
		m = 2;
	} else if (n >= 2 && u[0] == 0xfe && u[1] == 0xff) {
		codage = UTF16BE;
		m = 2;
	} else if ((codage = utf16(u, n)) == HUIT)
		return n;
	reste = n - m;
	std::memcpy(brut, p + m, reste);
	return 0;
}

/*
 * Whether the n bytes at p, without a mark, plainly begin UTF-16: in
 * their first 128, half the units or more hold a zero byte on one side,
 * and four times fewer on the other, where Ā (U+0100) or 一 (U+4E00)
 * put one (text in windows-1252 or UTF-8 holds no zero byte).  UTF16LE
 * or UTF16BE, or HUIT.
 */
static Codage
utf16(const unsigned char *p, size_t n)
{
	size_t unites = (n < 128 ? n : 128) / 2, z[2] = {0, 0};

	for (size_t i = 0; i < 2 * unites; i++)
		z[i % 2] += p[i] == 0 ? 1 : 0;
	size_t fort = z[0] > z[1] ? z[0] : z[1];
	size_t faible = z[0] > z[1] ? z[1] : z[0];
	if (unites < 2 || 2 * fort < unites || 4 * faible >= fort)
		return HUIT;
	return z[1] > z[0] ? UTF16LE : UTF16BE;
}

/*
 * Read the next text of the source to p, where there is room for place
 * bytes (at least BLOC, and 128); say how many bytes, 0 at the end of the
 * text.
 * UTF-16 goes through brut, a quarter of the room at a time, as one
 * unit may become an escape of four bytes.
 */
size_t
remplir(char *p, size_t place)
{
	size_t n, m = place / LECH < BLOC ? place / LECH : BLOC;

	if (codage == AUCUN &&
	    ((n = debutsource(p, place)) > 0 || codage == HUIT))
		return n; /* text, or nothing at all */
	if (codage == HUIT)
		return tari ? 0 : lu(p, BLOC);
	for (;;) {
		if (!tari && reste < m) {
			size_t r = lu((char *)brut + reste, m - reste);
			reste += r;
			tari = r == 0;
		}
		size_t k = reste < m ? reste : m, pris;
		bool fini = tari && k == reste;
		n = decodeutf16(p, brut, k, codage == UTF16BE, fini, &pris);
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

/*
 * Whether the source is read as it is, its lines telling their encoding;
 * and whether the encoding of the lines that do not tell is known.
 */
bool
huitbits()
{
	return codage == HUIT;
}

bool
avantconnu()
{
	return avant != AUCUN;
}

/* Whether the line being handled is held decoded, with escapes. */
bool
decodee()
{
	return interne;
}

/*
 * Decide what the lines that do not tell are read in, at the start of a
 * source without mark: the encoding of the first line that tells, among
 * those read from p, the line of the source's first byte above 127, at
 * haut, that begin within FENETRE bytes of it; UTF-8 when none does.
 * Only the bytes before haut + FENETRE + 3 are looked at (3 may end a
 * sequence begun before the window's end), so that the decision does not
 * depend on how the reads were cut.  Lines end at LF, or at CR too when
 * cr; a mark that starts one is dropped.  fin ends what was read, fini
 * tells that nothing follows.  False while it cannot be told yet.
 */
bool
deciderdebut(
    const char *p, const char *haut, const char *fin, bool fini, bool cr)
{
	const char *limite = haut + FENETRE, *vu = limite + 3;
	const char *bord = fin < vu ? fin : vu;

	while (p < bord && p < limite) {
		const char *e = p;
		while (e < bord && *e != '\n' && (!cr || *e != '\r'))
			e++;
		if (marqueutf8(p, (size_t)(e - p)))
			p += 3;
		bool entiere = e < bord || (fini && e == fin);
		const char *z =
		    (const char *)std::memchr(p, 0, (size_t)(e - p));
		Dit d = classer(
		    p, p, z != nullptr ? z : e, entiere || z != nullptr, false);
		if (d == DIT1252 || (d == DITUTF8 && (entiere || e == vu))) {
			avant = d == DIT1252 ? CP1252 : UTF8;
			return true;
		}
		if (!entiere && e == fin)
			return false; /* the rest of the line is still to come
			               */
		p = e + 1;
	}
	if (p < limite && !fini && fin < vu)
		return false;
	avant = UTF8;
	return true;
}

/*
 * Whether the first of the LF-ended lines [p, fin) whose text holds a
 * byte above 127 tells UTF-8 (see classer); false when none does.  Its
 * text is what the line loop hands over: without a mark that starts it,
 * and without the CRs before its LF.  The lines hold no zero byte.
 */
static bool
ditutf8(const char *p, const char *fin)
{
	const char *debutligne = p;

	while (p < fin) {
		size_t k = premierhaut(p, (size_t)(fin - p));
		if (k == NULLE)
			return false;
		const char *h = p + k, *s = h, *e;
		while (s > debutligne && s[-1] != '\n')
			s--;
		if ((e = cherche(h, fin, '\n')) == nullptr)
			return false;
		if (marqueutf8(s, (size_t)(e - s))) {
			s += 3;
			if (h < s) { /* the mark's: the text may be ASCII */
				if ((k = premierhaut(s, (size_t)(e - s))) ==
				    NULLE) {
					p = e + 1;
					continue;
				}
				h = s + k;
			}
		}
		while (e > h && e[-1] == '\r')
			e--;
		return classer(s, h, e, true, true) == DITUTF8;
	}
	return false;
}

/*
 * Decode, as it is read, the run of whole lines among the n bytes of an
 * 8-bit source just read to (*t)[fin], from the first line end to the
 * last, when its lines are all read as UTF-8: all its bytes form
 * well-formed UTF-8, and its first line with a byte above 127 tells
 * UTF-8, so that every line after that one is read as UTF-8 whatever
 * came before.  A byte that is part of no sequence ends the run before
 * its line.  Its lines are then handed over as UTF-16's are, with no work
 * a line.  Only for LF line ends, once the encoding of the lines that do
 * not tell is known.  The run is decoded into a second buffer, of taille
 * bytes as *t is.  When it is the longer part of *t, the bytes before and
 * after it are copied around it there, and the two buffers trade places:
 * *t is then the one that holds the decoded text, and the other is kept
 * for the next run; otherwise the run is copied back.  Returns how many
 * bytes are at (*t)[fin] now.  The run is there until the next read (see
 * tenue).
 */
size_t
decoderlignes(char **t, size_t fin, size_t n, size_t taille)
{
	char *p = *t + fin;
	const char *un, *der = p + n;
	size_t lus;

	tenuede = tenuea = nullptr;
	if (codage != HUIT || avant == AUCUN ||
	    (un = cherche(p, p + n, '\n')) == nullptr)
		return n;
	while (der > un && der[-1] != '\n')
		der--;
	size_t a0 = (size_t)(un + 1 - p), a1 = (size_t)(der - p);
	if (a1 <= a0 || !ditutf8(p + a0, p + a1) ||
	    cherchebloc(p + a0, p + a1, 0) != nullptr)
		return n;
	/* a character may take twice its bytes */
	if (fin + n + (a1 - a0) > taille)
		return n;
	char *b = reserver(&rechange, &placerechange, taille),
	     *run = b + fin + a0;
	size_t k =
	    decodeutf8(run, (const unsigned char *)p + a0, a1 - a0, &lus);
	if (lus < a1 - a0) { /* the run ends before the line that strays */
		while (lus > 0 && p[a0 + lus - 1] != '\n')
			lus--;
		while (k > 0 && run[k - 1] != '\n')
			k--;
		a1 = a0 + lus;
	}
	if (k == 0)
		return n;
	if (k < fin + a0 + (n - a1)) { /* the run is the shorter to copy */
		std::memmove(p + a0 + k, p + a1, n - a1);
		std::memcpy(p + a0, run, k);
		run = p + a0;
	} else {
		std::memcpy(b, *t, fin + a0);
		std::memcpy(run + k, p + a1, n - a1);
		rechange = *t;
		*t = b;
	}
	tenuede = run;
	tenuea = run + k;
	emprunter(DECODEES);
	return a0 + k + (n - a1);
}

/*
 * Whether the line at s, in the buffer of the line loop, is one of the
 * run that decoderlignes decoded as it was read.  Every line of the run
 * is handled before the next read, as each ends within it.
 */
bool
tenue(const char *s)
{
	return s < tenuea && s >= tenuede;
}

/*
 * Whether the lines in [de, a) are all told by telle from their bytes
 * alone: the source is 8-bit, and none of them is held decoded.  Then a
 * line whose first byte above 127 has a byte below 128 after it is
 * windows-1252, as telle would tell (see dit1252).
 */
bool
parleursoctets(const char *de, const char *a)
{
	return codage == HUIT && (a <= tenuede || de >= tenuea);
}

/* A line told windows-1252, as telle notes it. */
void
dit1252()
{
	avant = CP1252;
}

/*
 * Whether the line at s, whose first byte above 127 is at h, is handed
 * over as it stands: held decoded already (for UTF-16, or in a run that
 * decoderlignes decoded), or windows-1252 by that byte, as most
 * windows-1252 lines tell, as classer would first (the byte after the
 * text, a line end or zero, is no continuation byte).  Notes what such a
 * line tells, and that a line of the run is held decoded (texteligne
 * notes the rest; the plain lines of the line loop need neither).
 */
bool
telle(const char *s, const char *h)
{
	const auto *u = (const unsigned char *)h;

	if (codage != HUIT)
		return true;
	if (tenue(s)) { /* read as UTF-8, as the run's first accent told */
		interne = true;
		avant = UTF8;
		return true;
	}
	if (u[0] < 0xc2 || u[0] > 0xf4 || (u[1] & 0xc0) != 0x80) {
		avant = CP1252;
		return true;
	}
	return false;
}

/*
 * The text of the line [s, fin), its end in *f: the line itself, held
 * decoded for UTF-16 or in a run that decoderlignes decoded, or as it is
 * for a line of an 8-bit source that is ASCII (ascii: it holds no byte
 * above 127) or windows-1252; or its UTF-8 decoded into windows-1252
 * with escapes, then in a buffer of its own, with MARGE bytes past its
 * end.  A line of an 8-bit source is read in what classer says; when it
 * does not tell, in what the last line that told was in.  Unless ascii,
 * h is the line's first byte above 127.
 */
const char *
texteligne(
    const char *s, const char *h, const char *fin, const char **f, bool ascii)
{
	*f = fin;
	interne = codage != HUIT;
	if (ascii || telle(s, h))
		return s;
	size_t n = (size_t)(fin - s), lus = n, k = 0;
	/* After a UTF-8 line, the decoding itself tells a windows-1252
	 * line, by the first byte that is part of no sequence. */
	Dit d = avant == UTF8 ? DOUTE : classer(s, h, fin, true, true);
	interne = d == DITUTF8 || (d == DOUTE && avant == UTF8);
	if (interne)
		k = decodeutf8(reserver(&decodee8, &placedecodee8, 2 * n),
		    (const unsigned char *)s, n, &lus);
	bool egare = lus < n;
	if (d == DIT1252 || egare)
		avant = CP1252;
	else if (d == DITUTF8)
		avant = UTF8;
	if (!interne || egare) {
		interne = false;
		return s;
	}
	std::memset(decodee8 + k, 0, MARGE);
	*f = decodee8 + k;
	return decodee8;
}
